// What every ledger screen offers the workspace, and the helpers they share for loading
// lists into panes and options into selects.
import type { VardekoClient } from '../client/client';
import { captionOf, isRecord, readList, recordIdOf, type JsonRecord } from '../client/replies';
import { h, messageOf, uniqueId } from './dom';
import { listView, type ListOptions } from './kit';

export type ScreenId = 'overview' | 'bosses' | 'orders' | 'templates' | 'ledger' | 'matches' | 'settings' | 'catalog';

export interface Screen {
  readonly element: HTMLElement;
  /** Called each time the screen is shown; `params` come from another screen's link. */
  show(params?: Record<string, string>): void;
  hasUnsavedInput(): boolean;
  /** A paste anywhere on the page while the screen is shown. */
  paste?(event: ClipboardEvent): void;
}

export interface Context {
  client: VardekoClient;
  go(screen: ScreenId, params?: Record<string, string>): void;
}

/** A screen's frame: heading, tool bar, and one or two panes. */
export function frame(title: string, tools: Node[], ...panes: HTMLElement[]): HTMLElement {
  return h(
    'section',
    { class: 'screen', 'aria-label': title },
    h('header', { class: 'screen-head' }, h('h1', { tabindex: -1 }, title), h('div', { class: 'tools' }, tools)),
    h('div', { class: panes.length > 1 ? 'panes two' : 'panes' }, panes),
  );
}

export function pane(label: string, ...children: Node[]): HTMLElement {
  return h('div', { class: 'pane card', 'aria-label': label, role: 'region' }, children);
}

/**
 * Loads a list into `target`: the waiting text, then the rows, the JSON of an odd reply, or
 * the failure's message. Resolves to the rows when the reply held a list.
 */
export async function loadList(
  target: HTMLElement,
  request: () => Promise<unknown>,
  options: ListOptions,
): Promise<{ items: unknown[] | null; paging: JsonRecord }> {
  target.replaceChildren(h('p', { class: 'note' }, '正在读取…'));
  target.setAttribute('aria-busy', 'true');
  try {
    const reply = await request();
    const started = performance.now();
    const view = listView(reply, options);
    target.replaceChildren(view.element);
    performance.measure('vardeko-list-render', { start: started });
    return { items: view.items, paging: view.paging };
  } catch (error) {
    target.replaceChildren(h('p', { class: 'form-message', role: 'alert' }, messageOf(error)));
    return { items: null, paging: {} };
  } finally {
    target.removeAttribute('aria-busy');
  }
}

/** Fills a select with the records of a list reply: their id as the value, a caption as the text. */
export async function fillOptions(
  select: HTMLSelectElement,
  request: () => Promise<unknown>,
  first: string | null,
  caption: readonly string[],
  note: HTMLElement,
): Promise<JsonRecord[]> {
  const keep = select.value;
  try {
    const reading = readList(await request());
    const records = reading.kind === 'list' ? reading.items.filter(isRecord) : [];
    const options = records
      .map((record) => [recordIdOf(record), captionOf(record, caption)] as const)
      .filter(([id]) => id !== undefined)
      .map(([id, text]) => h('option', { value: id }, text ?? id));
    select.replaceChildren(...(first === null ? [] : [h('option', { value: '' }, first)]), ...options);
    if ([...select.options].some((option) => option.value === keep)) select.value = keep;
    note.textContent = reading.kind === 'list' ? '' : '服务返回的选项不是列表。';
    return records;
  } catch (error) {
    note.textContent = messageOf(error);
    return [];
  }
}

export function button(label: string, onClick: () => void, className?: string): HTMLButtonElement {
  const node = h('button', { type: 'button', class: className }, label);
  node.addEventListener('click', onClick);
  return node;
}

export function labelled(label: string, control: HTMLElement): HTMLElement {
  const id = control.id || uniqueId('tool');
  control.id = id;
  return h('span', { class: 'tool-field' }, h('label', { for: id }, label), control);
}
