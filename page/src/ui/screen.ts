// What every ledger screen offers the workspace, and the helpers they share for loading
// lists into panes and options into selects.
import type { VardekoClient } from '../client/client';
import { captionOf, isRecord, readList, readRecord, recordIdOf, type JsonRecord } from '../client/replies';
import { h, messageOf, uniqueId } from './dom';
import { confirmAction, listView, message, type ListOptions, type RecordForm } from './kit';

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

/** The record of a record reply, or no members when the reply holds none (so editing starts empty). */
export function recordOf(reply: unknown): JsonRecord {
  const reading = readRecord(reply);
  return reading.kind === 'record' ? reading.record : {};
}

/** A record in the side pane: its heading, its view (and whatever goes with it), its buttons and their message. */
export function showDetails(side: HTMLElement, title: string, views: Node[], buttons: Node[], note: HTMLElement): void {
  side.replaceChildren(h('h2', {}, title), ...views, h('div', { class: 'row-buttons' }, buttons), note);
}

/**
 * The side pane's record, read by id: the waiting text, then `show` with the reply, or the
 * failure's message. A reply for a record no longer the one asked for is dropped.
 */
export class RecordPane {
  shownId: string | undefined;

  constructor(
    private readonly side: HTMLElement,
    private readonly read: (id: string) => Promise<unknown>,
    private readonly show: (id: string, reply: unknown, note: HTMLElement) => void,
  ) {}

  async open(id: string): Promise<void> {
    this.shownId = id;
    const note = message();
    this.side.replaceChildren(h('p', { class: 'note' }, '正在读取…'));
    let reply: unknown;
    try {
      reply = await this.read(id);
    } catch (error) {
      note.textContent = messageOf(error);
      this.side.replaceChildren(note);
      return;
    }
    if (this.shownId !== id) return;
    this.show(id, reply, note);
  }
}

/** The side pane's edit form: kept while it is shown so leaving the screen can ask about its input. */
export class EditView {
  private form: RecordForm | null = null;

  constructor(private readonly side: HTMLElement) {}

  /** Shows the filled form; 返回详情 drops its input and shows the record again. */
  show(title: string, form: RecordForm, back: () => void): void {
    this.form = form;
    this.side.replaceChildren(
      h('h2', {}, title),
      form.element,
      button('返回详情', () => {
        this.form = null;
        back();
      }),
    );
    form.focusFirst();
  }

  /** The service took the form's input. */
  saved(form: RecordForm): void {
    form.saved();
    this.form = null;
  }

  dirty(): boolean {
    return this.form?.dirty() ?? false;
  }
}

/**
 * A danger button that asks first (`title`, `text`), then runs `remove`; while it runs the
 * button is off, and a failure shows in `note` and lets the operator try again.
 */
export function removeButton(
  label: string,
  title: string,
  text: string,
  remove: () => Promise<void>,
  note: HTMLElement,
  className = 'danger',
): HTMLButtonElement {
  const node = button(
    label,
    async () => {
      if (!(await confirmAction(title, text, '删除'))) return;
      node.disabled = true;
      try {
        await remove();
      } catch (error) {
        note.textContent = messageOf(error);
        node.disabled = false;
      }
    },
    className,
  );
  return node;
}
