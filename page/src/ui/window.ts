// The title bar and closing: the window is frameless, so the page moves, sizes and closes it.
import type { VardekoClient } from '../client/client';
import { element, messageOf } from './dom';

export function setUpWindow(client: VardekoClient, hasUnsavedInput: () => boolean, showError: (text: string) => void) {
  const dragArea = element('drag-area');
  const dialog = element('close-dialog');
  const cancel = element<HTMLButtonElement>('close-cancel');
  const confirm = element<HTMLButtonElement>('close-confirm');
  let focusBeforeDialog: HTMLElement | null = null;

  const act = (action: 'minimize' | 'maximize' | 'close') =>
    client.windowControl(action).catch((error) => showError(messageOf(error)));

  dragArea.addEventListener('mousedown', (event) => {
    // The second press of a double-click must not start a move: it would swallow the dblclick.
    if (event.button !== 0 || event.detail > 1) return;
    client.windowDrag().catch(() => {});
  });
  dragArea.addEventListener('dblclick', () => act('maximize'));
  element('window-minimize').addEventListener('click', () => act('minimize'));
  element('window-maximize').addEventListener('click', () => act('maximize'));
  element('window-close').addEventListener('click', requestClose);
  client.onCloseRequested(requestClose);

  function requestClose() {
    if (!dialog.hidden) return;
    if (!hasUnsavedInput()) {
      act('close');
      return;
    }
    focusBeforeDialog = document.activeElement as HTMLElement | null;
    dialog.hidden = false;
    cancel.focus();
  }

  function hideDialog() {
    dialog.hidden = true;
    focusBeforeDialog?.focus();
  }

  cancel.addEventListener('click', hideDialog);
  confirm.addEventListener('click', () => {
    dialog.hidden = true;
    act('close');
  });
  dialog.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      event.preventDefault();
      hideDialog();
    } else if (event.key === 'Tab') {
      // Keep focus inside the dialog while it is open.
      event.preventDefault();
      (document.activeElement === cancel ? confirm : cancel).focus();
    }
  });
}
