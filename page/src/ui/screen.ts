// What every ledger screen offers the workspace, and the helpers they share for loading
// lists into panes and options into selects.
import type { VardekoClient } from '../client/client';
import { captionOf, isRecord, readList, readRecord, recordIdOf, type JsonRecord } from '../client/replies';
import type { Directory, RecordList } from './directory';
import { h, messageOf, uniqueId } from './dom';
import { confirmAction, listView, message, type ListOptions, type RecordForm } from './kit';
import { unsavedMayHaveChanged } from './unsaved';

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
  directory: Directory;
  go(screen: ScreenId, params?: Record<string, string>): void;
  /** A short notice of what was done, gone by itself. */
  notify(text: string): void;
}

/** How long a load may take before the pane shows that it is waiting. */
export const WAIT_SHOWN_MS = 300;

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

/** One failure for a pane, with a button that tries again. */
export function failureView(error: unknown, retry?: () => void): HTMLElement {
  const view = h('div', { class: 'pane-failure', role: 'alert' }, h('p', { class: 'form-message' }, messageOf(error)));
  if (retry) view.append(button('重试', retry, 'small'));
  return view;
}

/** Placeholder rows while a list is read (shown only when it takes a while). */
function waitingView(): HTMLElement {
  return h(
    'div',
    { class: 'waiting' },
    h('p', { class: 'note' }, h('span', { class: 'spinner', 'aria-hidden': 'true' }), '正在读取…'),
    Array.from({ length: 4 }, () => h('div', { class: 'placeholder-row' })),
  );
}

export interface Loaded {
  items: unknown[] | null;
  paging: JsonRecord;
  /** False when the reply came for a choice no longer current and was dropped. */
  current: boolean;
}

/**
 * Loads a list into `target`: after a moment a waiting view, then the rows, the JSON of an
 * odd reply, or the failure with 重试. A reply that arrives when `isCurrent` no longer holds
 * (the operator chose another order, page or filter meanwhile) is dropped.
 */
export async function loadList(
  target: HTMLElement,
  request: () => Promise<unknown>,
  options: ListOptions & { isCurrent?: () => boolean; retry?: () => void },
): Promise<Loaded> {
  const isCurrent = options.isCurrent ?? (() => true);
  target.setAttribute('aria-busy', 'true');
  const timer = setTimeout(() => {
    if (target.getAttribute('aria-busy') === 'true') target.replaceChildren(waitingView());
  }, WAIT_SHOWN_MS);
  try {
    const reply = await request();
    if (!isCurrent()) return { items: null, paging: {}, current: false };
    const started = performance.now();
    const view = listView(reply, options);
    target.replaceChildren(view.element);
    performance.measure('vardeko-list-render', { start: started });
    return { items: view.items, paging: view.paging, current: true };
  } catch (error) {
    if (!isCurrent()) return { items: null, paging: {}, current: false };
    target.replaceChildren(failureView(error, options.retry));
    return { items: null, paging: {}, current: true };
  } finally {
    clearTimeout(timer);
    target.removeAttribute('aria-busy');
  }
}

/**
 * A choice among the directory's orders or bosses: a select (its value is the record id),
 * with a filter box once the list is long. Filling it never changes what the operator
 * chose: a choice that is still listed stays, whatever arrived meanwhile.
 */
export class RecordChoice {
  readonly select: HTMLSelectElement;
  readonly filter: HTMLInputElement;
  readonly element: HTMLElement;
  private records: JsonRecord[] = [];

  constructor(
    private readonly list: RecordList,
    private readonly caption: readonly string[],
    private readonly first: string | null,
    label: string,
    private readonly describe: (record: JsonRecord) => string = () => '',
  ) {
    this.select = h('select', {}, first === null ? null : h('option', { value: '' }, first));
    this.filter = h('input', { type: 'search', placeholder: `筛选${label}`, 'aria-label': `筛选${label}`, autocomplete: 'off', spellcheck: 'false', class: 'choice-filter' });
    this.filter.hidden = true;
    this.filter.addEventListener('input', () => this.render());
    this.element = h('span', { class: 'record-choice' }, this.filter, this.select);
    list.onChange(() => this.take(list.records));
  }

  get value(): string {
    return this.select.value;
  }

  /** Reads the records when not read yet; a failure is shown in `note`. */
  async fill(note: HTMLElement, fresh = false): Promise<void> {
    try {
      this.take(await (fresh ? this.list.refresh() : this.list.get()));
      note.textContent = this.list.odd ? '服务返回的选项不是列表。' : '';
    } catch (error) {
      note.textContent = messageOf(error);
    }
  }

  private take(records: JsonRecord[]) {
    if (records === this.records && records.length > 0) return; // already shown: a visit costs nothing
    this.records = records;
    this.filter.hidden = records.length <= 12;
    this.render();
  }

  private render() {
    const keep = this.select.value;
    const words = this.filter.value.trim().toLowerCase();
    const options: HTMLOptionElement[] = [];
    for (const record of this.records) {
      const id = recordIdOf(record);
      if (id === undefined) continue;
      const text = captionOf(record, this.caption) ?? id;
      const extra = this.describe(record);
      const shown = extra ? `${text}（${extra}）` : text;
      if (words && id !== keep && !shown.toLowerCase().includes(words)) continue;
      options.push(h('option', { value: id }, shown));
    }
    this.select.replaceChildren(...(this.first === null ? [] : [h('option', { value: '' }, this.first)]), ...options);
    if ([...this.select.options].some((option) => option.value === keep)) this.select.value = keep;
  }

  /** Chooses a record (a link from another screen); false when it is not listed. */
  choose(id: string): boolean {
    if (!this.records.some((record) => recordIdOf(record) === id)) return false;
    if (this.filter.value !== '') {
      this.filter.value = '';
      this.render();
    }
    this.select.value = id;
    return true;
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
  try {
    const reading = readList(await request());
    // What is chosen when the reply arrives stays chosen: the operator may have picked meanwhile.
    const keep = select.value;
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

/** A tool bar control with its label; `shown` is what holds the control (a filter beside it). */
export function labelled(label: string, control: HTMLElement, shown: HTMLElement = control): HTMLElement {
  const id = control.id || uniqueId('tool');
  control.id = id;
  return h('span', { class: 'tool-field' }, h('label', { for: id }, label), shown);
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
    // The pane scrolls by itself: the record shows at its top, where the operator looks.
    this.side.closest('.pane')?.scrollTo({ top: 0 });
    let reply: unknown;
    try {
      reply = await this.read(id);
    } catch (error) {
      if (this.shownId === id) this.side.replaceChildren(failureView(error, () => void this.open(id)));
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

  /** Shows the filled form; 返回详情 or Esc leaves it (asking first when it holds input) and shows the record again. */
  show(title: string, form: RecordForm, back: () => void): void {
    this.form = form;
    const leave = async () => {
      if (form.dirty() && !(await confirmAction('放弃修改', '表单中的修改还没有保存，确定要放弃吗？', '放弃修改', '继续编辑'))) return;
      this.form = null;
      unsavedMayHaveChanged();
      back();
    };
    form.element.addEventListener('keydown', (event) => {
      if (event.key !== 'Escape' || event.defaultPrevented) return;
      event.preventDefault();
      void leave();
    });
    this.side.replaceChildren(h('h2', {}, title), form.element, button('返回详情', () => void leave()));
    form.focusFirst();
  }

  /** The service took the form's input. */
  saved(form: RecordForm): void {
    form.saved();
    this.form = null;
    unsavedMayHaveChanged();
  }

  /** An edit form another record replaced in the pane is gone, and its input with it. */
  dirty(): boolean {
    return this.form !== null && this.form.element.isConnected && this.form.dirty();
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
