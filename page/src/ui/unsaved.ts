// Tells the native side when the page starts and stops holding unsaved input: once per
// change, from the same state the close question reads. Its answer does not matter to the
// operator (an older program does not know the method), so failures are ignored.
import type { VardekoClient } from '../client/client';

let evaluate: (() => void) | null = null;

/** Something may have changed what is unsaved (a form filled, saved, cleared, left). */
export function unsavedMayHaveChanged(): void {
  evaluate?.();
}

export function watchUnsavedInput(client: VardekoClient, hasUnsavedInput: () => boolean): void {
  let reported = false;
  let queued = false;
  const check = () => {
    queued = false;
    const now = hasUnsavedInput();
    if (now === reported) return;
    reported = now;
    client.setUnsavedInput(now).catch(() => {});
  };
  // After the event's own handlers have run, once for a burst of events.
  evaluate = () => {
    if (queued) return;
    queued = true;
    queueMicrotask(check);
  };
  for (const type of ['input', 'change', 'click', 'keyup']) document.addEventListener(type, () => setTimeout(evaluate!, 0), true);
}
