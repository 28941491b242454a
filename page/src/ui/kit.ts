// The parts every ledger screen is made of: record forms, record and list views that show
// whatever shape the service answered with, pagers, confirmations and a debounced search.
import { firstRefusal, type MemberRule } from '../client/checks';
import { isRecord, jsonText, readList, readRecord, recordIdOf, splitMembers, type Field, type JsonRecord } from '../client/replies';
import { h, messageOf, uniqueId } from './dom';
import type { FormField } from './fields';
import { isoFromControl, numberText, timeControlValue, valueText } from './format';
import { unsavedMayHaveChanged } from './unsaved';

// ---------------------------------------------------------------- record forms

const INTEGER = /^-?\d+$/;

/** Typed digits become a JSON integer; anything else goes as typed, for the checks to refuse. */
function countValue(text: string): unknown {
  return INTEGER.test(text) ? Number(text) : text;
}

type Control = HTMLInputElement | HTMLTextAreaElement | HTMLSelectElement;

interface Row {
  field: FormField;
  wrapper: HTMLElement;
  control: Control;
}

function initialText(field: FormField, value: unknown): string {
  if (value === undefined || value === null) return '';
  if (field.input === 'nullableTime') return timeControlValue(value);
  if (field.input === 'boolean') return value === true ? 'true' : '';
  if (field.input === 'optionalBoolean') return typeof value === 'boolean' ? String(value) : '';
  if (typeof value === 'string' || typeof value === 'number') return String(value);
  return '';
}

export class RecordForm {
  readonly element: HTMLFormElement;
  readonly message: HTMLElement;
  private readonly rows: Row[] = [];
  private readonly submit: HTMLButtonElement;
  /** The client's checks of the form's members, run first so that a refusal names its field. */
  private rules: readonly MemberRule[] = [];
  private baseline = '';
  private busy = false;
  /** The members the form was opened with, so an untouched time goes back as it came. */
  private opened: JsonRecord = {};

  constructor(
    private readonly fields: readonly FormField[],
    private readonly submitLabel: string,
    private readonly onSubmit: (record: JsonRecord) => Promise<void>,
    extra: { before?: Node[]; after?: Node[]; buttons?: HTMLElement[]; className?: string } = {},
  ) {
    this.message = h('p', { class: 'form-message', role: 'alert' });
    this.submit = h('button', { type: 'submit', class: 'primary' }, submitLabel);
    const grid = h('div', { class: 'form-grid' });
    for (const field of fields) {
      const id = uniqueId(`f-${field.name}`);
      const control = this.control(field, id);
      const wide = field.input === 'area';
      const wrapper =
        field.input === 'boolean'
          ? h('div', { class: 'field check' }, control, h('label', { for: id }, field.label))
          : h('div', { class: wide ? 'field wide' : 'field' }, h('label', { for: id }, field.label), control);
      grid.append(wrapper);
      this.rows.push({ field, wrapper, control });
    }
    this.element = h(
      'form',
      { class: `record-form ${extra.className ?? ''}`, novalidate: true },
      extra.before ?? [],
      grid,
      extra.after ?? [],
      this.message,
      h('div', { class: 'form-buttons' }, this.submit, extra.buttons ?? []),
    );
    this.element.addEventListener('submit', (event) => {
      event.preventDefault();
      void this.send();
    });
    this.element.addEventListener('change', () => this.applyVisibility());
    this.element.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && event.target instanceof HTMLTextAreaElement) {
        event.preventDefault();
        void this.send();
      }
    });
    this.element.addEventListener('input', (event) => {
      (event.target as HTMLElement).removeAttribute('aria-invalid');
    });
    this.fill({});
  }

  private control(field: FormField, id: string): Control {
    const name = field.name;
    switch (field.input) {
      case 'area':
        return h('textarea', { id, name, rows: 2, maxlength: field.limit, spellcheck: 'false' });
      case 'choice':
      case 'optionalChoice': {
        const select = h('select', { id, name }, h('option', { value: '' }, field.input === 'choice' ? '请选择' : '（不设置）'));
        for (const [value, label] of Object.entries(field.choices ?? {})) select.append(h('option', { value }, label));
        return select;
      }
      case 'boolean':
        return h('input', { id, name, type: 'checkbox' });
      case 'nullableTime':
        return h('input', { id, name, type: 'datetime-local', step: 60 });
      case 'optionalBoolean':
        return h(
          'select',
          { id, name },
          h('option', { value: '' }, '（不设置）'),
          h('option', { value: 'true' }, '是'),
          h('option', { value: 'false' }, '否'),
        );
      default: {
        const numeric = /Count$|^count$/.test(field.input);
        const required = field.input === 'text' && field.required;
        return h('input', {
          id,
          name,
          type: 'text',
          inputmode: numeric ? 'numeric' : undefined,
          maxlength: numeric ? undefined : field.limit,
          placeholder: field.placeholder ?? (field.input.startsWith('optional') || field.input.startsWith('nullable') ? '可不填' : undefined),
          'aria-required': required ? 'true' : undefined,
          spellcheck: 'false',
          autocomplete: 'off',
        });
      }
    }
  }

  private snapshot(): string {
    return JSON.stringify(this.rows.map(({ control }) => (control instanceof HTMLInputElement && control.type === 'checkbox' ? control.checked : control.value)));
  }

  /** Shows these values (a record's members, or none for a new one) as the unchanged state. */
  fill(values: JsonRecord): void {
    this.opened = values;
    for (const { field, control } of this.rows) {
      control.removeAttribute('aria-invalid');
      const text = initialText(field, values[field.name]);
      if (control instanceof HTMLInputElement && control.type === 'checkbox') control.checked = text === 'true';
      else if (control instanceof HTMLSelectElement) {
        if (text !== '' && ![...control.options].some((option) => option.value === text)) {
          control.append(h('option', { value: text }, text)); // a value the page has no label for
        }
        control.value = text;
      } else control.value = text;
    }
    this.message.textContent = '';
    this.applyVisibility();
    this.baseline = this.snapshot();
    unsavedMayHaveChanged();
  }

  /** Empties these members only (the rest stay as typed), and makes the result the unchanged state. */
  clear(names: readonly string[], focus?: string): void {
    for (const { field, control } of this.rows) {
      if (!names.includes(field.name)) continue;
      if (control instanceof HTMLInputElement && control.type === 'checkbox') control.checked = false;
      else control.value = '';
    }
    this.message.textContent = '';
    this.applyVisibility();
    this.baseline = this.snapshot();
    unsavedMayHaveChanged();
    if (focus) this.rows.find((row) => row.field.name === focus)?.control.focus();
  }

  /** Sets members without making them the unchanged state (a template, a picked item). */
  set(values: JsonRecord): void {
    for (const { field, control } of this.rows) {
      if (!Object.hasOwn(values, field.name)) continue;
      const text = initialText(field, values[field.name]);
      if (control instanceof HTMLInputElement && control.type === 'checkbox') control.checked = text === 'true';
      else control.value = text;
    }
    this.applyVisibility();
  }

  /** Runs the client's checks of these members before sending, so a refusal names its field. */
  checkWith(rules: readonly MemberRule[]): this {
    this.rules = rules.filter((rule) => rule.member !== undefined && this.fields.some((field) => field.name === rule.member));
    return this;
  }

  /** Whether the form holds input that is not saved. */
  dirty(): boolean {
    return this.snapshot() !== this.baseline;
  }

  focusFirst(): void {
    this.rows.find(({ wrapper }) => !wrapper.hidden)?.control.focus();
  }

  private rawValues(): Record<string, unknown> {
    const values: Record<string, unknown> = {};
    for (const { field, control } of this.rows) values[field.name] = control.value;
    return values;
  }

  private applyVisibility(): void {
    const values = this.rawValues();
    for (const { field, wrapper } of this.rows) wrapper.hidden = field.when ? !field.when(values) : false;
  }

  /** The record as the operator filled it: hidden members and members left empty are not sent. */
  record(): JsonRecord {
    const record: JsonRecord = {};
    for (const { field, wrapper, control } of this.rows) {
      if (wrapper.hidden) continue;
      const text = control.value;
      switch (field.input) {
        case 'text':
        case 'area':
          record[field.name] = text;
          break;
        case 'count':
          record[field.name] = text === '' ? null : countValue(text);
          break;
        case 'nullableCount':
          record[field.name] = text === '' ? null : countValue(text);
          break;
        case 'optionalCount':
          if (text !== '') record[field.name] = countValue(text);
          break;
        case 'nullableText':
          record[field.name] = text === '' ? null : text;
          break;
        case 'nullableTime': {
          const before = this.opened[field.name];
          if (text === '') record[field.name] = null;
          else record[field.name] = typeof before === 'string' && timeControlValue(before) === text ? before : isoFromControl(text);
          break;
        }
        case 'optionalText':
        case 'optionalChoice':
          if (text !== '') record[field.name] = text;
          break;
        case 'choice':
          if (text !== '') record[field.name] = text;
          break;
        case 'boolean':
          record[field.name] = (control as HTMLInputElement).checked;
          break;
        case 'optionalBoolean':
          if (text !== '') record[field.name] = text === 'true';
          break;
      }
    }
    return record;
  }

  /** The first visible field whose input cannot be sent, with what to tell the operator. */
  private firstProblem(): { row: Row; text: string } | undefined {
    for (const row of this.rows) {
      const { field, wrapper, control } = row;
      if (wrapper.hidden) continue;
      const value = control.value;
      if (field.input === 'choice' && value === '') return { row, text: `请选择${field.label}。` };
      if (field.required && value.trim() === '') return { row, text: `请填写${field.label}。` };
      if (/Count$|^count$/.test(field.input)) {
        if (field.input === 'count' && value === '') return { row, text: `请填写${field.label}。` };
        if (value !== '' && !INTEGER.test(value)) return { row, text: `${field.label}需要填写整数。` };
      }
    }
    return undefined;
  }

  /** Marks the field and puts the focus there. */
  private mark(row: Row, text: string): void {
    this.message.textContent = text;
    row.control.setAttribute('aria-invalid', 'true');
    row.control.focus();
  }

  /** Submits as the button does (Enter in a single-line field, Ctrl+Enter in a long one). */
  async send(): Promise<void> {
    if (this.busy) return;
    this.message.textContent = '';
    for (const { control } of this.rows) control.removeAttribute('aria-invalid');
    const problem = this.firstProblem();
    if (problem) {
      this.mark(problem.row, problem.text);
      return;
    }
    const record = this.record();
    const refusal = firstRefusal(record, this.rules);
    const refused = refusal && this.rows.find((row) => row.field.name === refusal.member);
    if (refusal && refused) {
      this.mark(refused, `${refused.field.label}：${messageOf(refusal.error)}`);
      return;
    }
    this.busy = true;
    this.submit.disabled = true;
    this.submit.textContent = '正在提交…';
    try {
      await this.onSubmit(record);
    } catch (error) {
      const text = messageOf(error);
      // A failure that names a field by its label marks that field.
      const named = this.rows
        .filter(({ wrapper, field }) => !wrapper.hidden && text.includes(field.label))
        .sort((a, b) => b.field.label.length - a.field.label.length)[0];
      if (named) this.mark(named, text);
      else this.message.textContent = text;
    } finally {
      this.busy = false;
      this.submit.disabled = false;
      this.submit.textContent = this.submitLabel;
    }
  }

  /** The current input becomes the unchanged state (after the service took it). */
  saved(): void {
    this.baseline = this.snapshot();
    unsavedMayHaveChanged();
  }

  get fieldsShown(): readonly FormField[] {
    return this.fields;
  }
}

// ---------------------------------------------------------------- views of replies

interface Shown {
  label: string;
  text: string;
  negative?: boolean;
}

function shownOf(name: string, label: string, value: unknown, choices?: Readonly<Record<string, string>>): Shown {
  return { label, text: valueText(name, value, choices), negative: typeof value === 'number' && value < 0 };
}

function memberList(members: Shown[]): HTMLElement {
  return h(
    'dl',
    { class: 'details' },
    members.flatMap((member) => [h('dt', {}, member.label), h('dd', { class: member.negative ? 'negative' : undefined }, member.text)]),
  );
}

/** A reply of a shape the screen cannot read: shown as it came, read-only. */
export function otherView(value: unknown, expected: '列表' | '记录'): HTMLElement {
  const note =
    value === null
      ? `服务没有返回内容（应为${expected}）。`
      : `服务返回的数据不是${expected}，以下按原样显示。`;
  const body = value === null ? null : h('pre', { class: 'json', tabindex: 0 }, jsonText(value, true, 200_000));
  return h('div', { class: 'reply-other' }, h('p', { class: 'note' }, note), body);
}

/**
 * Labels of members the service sends beyond the request records, where the demo's
 * documented replies make their meaning plain. Ids and keys stay under 更多字段.
 */
export const SERVICE_LABELS: Readonly<Record<string, string>> = {
  boss_name: '老板',
  progress_quantity: '进度',
  entry_count: '账目数',
  match_count: '对局数',
  file_name: '文件名',
  recognized: '已识别',
  image_size: '图片大小',
  created_at: '创建时间',
  updated_at: '更新时间',
  category: '类别',
  grade: '品级',
  value: '价值',
};

/** A record's known members with their labels, in order; the others folded under 更多字段. */
export function recordView(reply: unknown, fields: readonly Field[], open = false, names: Readonly<Record<string, (value: unknown) => string | undefined>> = {}): HTMLElement {
  const reading = readRecord(reply);
  if (reading.kind === 'other') return otherView(reading.value, '记录');
  const labelled: Field[] = [...fields, ...Object.entries(SERVICE_LABELS).filter(([name]) => !fields.some((f) => f.name === name)).map(([name, label]) => ({ name, label }))];
  const { known, other } = splitMembers(reading.record, labelled);
  const shown: Shown[] = known.map((member) => {
    const named = names[member.name]?.(member.value);
    if (named !== undefined) return { label: member.label, text: named };
    return shownOf(member.name, member.label, member.value, labelled.find((f) => f.name === member.name)?.choices);
  });
  const parts: HTMLElement[] = [];
  if (shown.length > 0) parts.push(memberList(shown));
  if (other.length > 0) {
    parts.push(h('details', { class: 'more', open }, h('summary', {}, `更多字段（${other.length}）`), memberList(other.map((m) => shownOf(m.name, m.label, m.value)))));
  }
  if (parts.length === 0) parts.push(h('p', { class: 'note' }, '记录没有内容。'));
  return h('div', { class: 'record-view' }, parts);
}

/** A column computed from the row (a name looked up, progress) instead of one member. */
export interface Column {
  label: string;
  cell: (item: JsonRecord) => { text: string; sort?: number | string; node?: Node; negative?: boolean };
}

export interface ListOptions {
  fields: readonly Field[];
  /** Members for the row's first column, the first text wins; or the caption made from the row. */
  caption: readonly string[] | ((item: JsonRecord) => string | undefined);
  /** How many of the known members get a column. */
  columns?: number;
  /** Columns after the members' ones. */
  extra?: Column[];
  empty: string;
  actions?: (item: JsonRecord, id: string | undefined) => HTMLElement[];
  onOpen?: (item: JsonRecord, id: string) => void;
}

/** More rows than this are left out, with a note: a screen stays quick whatever the service sends. */
export const MAX_ROWS = 500;

function captionFor(item: JsonRecord, caption: ListOptions['caption']): string {
  if (typeof caption === 'function') return caption(item) ?? '';
  for (const name of caption) {
    const value = item[name];
    if (typeof value === 'string' && value !== '') return value;
  }
  return '';
}

/** The table's rows as tab-separated text with its header row, the values as shown. */
export function tableText(table: HTMLTableElement): { text: string; rows: number } {
  const clean = (cell: Element) => (cell.textContent ?? '').replace(/[\t\r\n]+/g, ' ').trim();
  const cells = (row: HTMLTableRowElement) => [...row.cells].filter((cell) => !cell.classList.contains('actions')).map(clean);
  const head = table.tHead ? [...table.tHead.rows].map((row) => cells(row).join('\t')) : [];
  const body = [...table.tBodies[0].rows].map((row) => cells(row).join('\t'));
  return { text: [...head, ...body].join('\r\n'), rows: body.length };
}

async function copyText(text: string): Promise<void> {
  try {
    await navigator.clipboard.writeText(text);
  } catch {
    // Without the asynchronous clipboard (no focus, no permission) the older command still works.
    const area = h('textarea', { class: 'visually-hidden' });
    area.value = text;
    document.body.append(area);
    area.select();
    const done = document.execCommand('copy');
    area.remove();
    if (!done) throw new Error('无法写入剪贴板。');
  }
}

function sortRows(table: HTMLTableElement, index: number, header: HTMLElement): void {
  const ascending = header.getAttribute('aria-sort') !== 'ascending';
  for (const other of table.tHead!.querySelectorAll('th')) other.removeAttribute('aria-sort');
  header.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
  const body = table.tBodies[0];
  const key = (row: HTMLTableRowElement) => {
    const cell = row.cells[index];
    const sort = cell?.dataset.sort;
    if (sort !== undefined && sort !== '' && !Number.isNaN(Number(sort))) return Number(sort);
    return sort ?? cell?.textContent ?? '';
  };
  const rows = [...body.rows].sort((a, b) => {
    const x = key(a);
    const y = key(b);
    const order = typeof x === 'number' && typeof y === 'number' ? x - y : String(x).localeCompare(String(y), 'zh-CN');
    return ascending ? order : -order;
  });
  body.append(...rows);
}

/** The list of a list reply as a table, or the reply as it came when it holds no list. */
export function listView(reply: unknown, options: ListOptions): { element: HTMLElement; items: unknown[] | null; paging: JsonRecord } {
  const reading = readList(reply);
  if (reading.kind === 'other') return { element: otherView(reading.value, '列表'), items: null, paging: {} };
  const { items, paging } = reading;
  if (items.length === 0) return { element: h('p', { class: 'note empty' }, options.empty), items, paging };
  const shown = items.length > MAX_ROWS ? items.slice(0, MAX_ROWS) : items;
  const present = new Set<string>();
  for (const item of shown.slice(0, 50)) if (isRecord(item)) for (const name of Object.keys(item)) present.add(name);
  const captionNames = typeof options.caption === 'function' ? [] : options.caption;
  const columns = options.fields
    .filter((field) => present.has(field.name) && !captionNames.includes(field.name))
    .slice(0, options.columns ?? 4);
  const extra = options.extra ?? [];
  const headers = [
    h('th', { scope: 'col' }, '名称'),
    ...columns.map((field) => h('th', { scope: 'col' }, field.label)),
    ...extra.map((column) => h('th', { scope: 'col' }, column.label)),
  ];
  const head = h('tr', {}, headers, h('th', { scope: 'col', class: 'actions' }, h('span', { class: 'visually-hidden' }, '操作')));
  const body = document.createDocumentFragment();
  for (const item of shown) {
    const row = document.createElement('tr');
    if (!isRecord(item)) {
      const cell = document.createElement('td');
      cell.colSpan = columns.length + extra.length + 2;
      cell.className = 'json-cell';
      cell.textContent = jsonText(item, false, 400);
      row.append(cell);
      body.append(row);
      continue;
    }
    const id = recordIdOf(item);
    const caption = captionFor(item, options.caption);
    const first = document.createElement('td');
    const label = caption || (id === undefined ? jsonText(item, false, 120) : '（无名称）');
    if (id !== undefined && options.onOpen) {
      const open = h('button', { type: 'button', class: 'link' }, label);
      open.addEventListener('click', () => options.onOpen!(item, id));
      first.append(open);
    } else first.textContent = label;
    row.append(first);
    for (const field of columns) {
      const cell = document.createElement('td');
      const value = item[field.name];
      // An empty text is an empty cell in a table (a record view says （空）).
      cell.textContent = value === '' ? '' : valueText(field.name, value, field.choices);
      if (typeof value === 'number') {
        cell.dataset.sort = String(value);
        cell.className = value < 0 ? 'number negative' : 'number';
      } else if (typeof value === 'string') cell.dataset.sort = value;
      row.append(cell);
    }
    for (const column of extra) {
      const cell = document.createElement('td');
      const shownCell = column.cell(item);
      if (shownCell.node) cell.append(shownCell.node);
      else cell.textContent = shownCell.text;
      if (shownCell.sort !== undefined) cell.dataset.sort = String(shownCell.sort);
      if (shownCell.negative) cell.className = 'negative';
      row.append(cell);
    }
    const actions = document.createElement('td');
    actions.className = 'actions';
    if (options.actions) actions.append(...options.actions(item, id));
    row.append(actions);
    body.append(row);
  }
  const table = h('table', { class: 'list' }, h('thead', {}, head), h('tbody', {}, body));
  headers.forEach((header, index) => {
    header.classList.add('sortable');
    header.tabIndex = 0;
    header.title = '点击排序（仅本页）';
    const sort = () => sortRows(table, index, header);
    header.addEventListener('click', sort);
    header.addEventListener('keydown', (event) => {
      if (event.key === 'Enter' || event.key === ' ') {
        event.preventDefault();
        sort();
      }
    });
  });
  const copied = h('span', { class: 'note', role: 'status' });
  const copy = h('button', { type: 'button', class: 'small' }, '复制表格');
  copy.addEventListener('click', async () => {
    const { text, rows } = tableText(table);
    try {
      await copyText(text);
      copied.textContent = `已复制 ${rows} 行（含表头），可粘贴到表格软件。`;
    } catch (error) {
      copied.textContent = messageOf(error);
    }
  });
  const cut = items.length > shown.length ? h('p', { class: 'note' }, `共 ${items.length} 条，仅显示前 ${MAX_ROWS} 条。`) : null;
  return {
    element: h('div', { class: 'list-block' }, h('div', { class: 'list-tools' }, copy, copied), h('div', { class: 'list-wrap' }, table), cut),
    items,
    paging,
  };
}

// ---------------------------------------------------------------- pager

export class Pager {
  readonly element: HTMLElement;
  page = 1;
  private readonly previous: HTMLButtonElement;
  private readonly next: HTMLButtonElement;
  private readonly label: HTMLElement;

  constructor(
    public pageSize: number,
    private readonly onChange: () => void,
  ) {
    this.previous = h('button', { type: 'button' }, '上一页');
    this.next = h('button', { type: 'button' }, '下一页');
    this.label = h('span', { class: 'page-label' }, '第 1 页');
    this.previous.addEventListener('click', () => this.go(this.page - 1));
    this.next.addEventListener('click', () => this.go(this.page + 1));
    this.element = h('div', { class: 'pager' }, this.previous, this.label, this.next);
    this.update(null, {});
  }

  private go(page: number) {
    if (page < 1) return;
    this.page = page;
    this.onChange();
  }

  /** After a reply: a full page (or a total beyond this page) lets the operator go on. */
  update(items: unknown[] | null, paging: JsonRecord): void {
    const total = typeof paging.total === 'number' ? paging.total : undefined;
    this.label.textContent =
      total === undefined ? `第 ${this.page} 页` : `第 ${this.page} / ${Math.max(1, Math.ceil(total / this.pageSize))} 页，共 ${numberText(total)} 条`;
    this.previous.disabled = this.page <= 1;
    const more = total !== undefined ? this.page * this.pageSize < total : items !== null && items.length >= this.pageSize;
    this.next.disabled = !more;
  }
}

// ---------------------------------------------------------------- confirmation

/** Asks before something that cannot be undone; resolves to the operator's answer. */
export function confirmAction(title: string, text: string, confirmLabel: string, cancelLabel = '取消'): Promise<boolean> {
  return new Promise((resolve) => {
    const before = document.activeElement as HTMLElement | null;
    const cancel = h('button', { type: 'button' }, cancelLabel);
    const confirm = h('button', { type: 'button', class: 'danger' }, confirmLabel);
    const titleId = uniqueId('confirm-title');
    const backdrop = h(
      'div',
      { class: 'dialog-backdrop' },
      h(
        'div',
        { class: 'dialog', role: 'alertdialog', 'aria-modal': 'true', 'aria-labelledby': titleId },
        h('h2', { id: titleId }, title),
        h('p', {}, text),
        h('div', { class: 'dialog-buttons' }, cancel, confirm),
      ),
    );
    const finish = (answer: boolean) => {
      backdrop.remove();
      before?.focus();
      resolve(answer);
    };
    cancel.addEventListener('click', () => finish(false));
    confirm.addEventListener('click', () => finish(true));
    backdrop.addEventListener('keydown', (event) => {
      event.stopPropagation();
      if (event.key === 'Escape') {
        event.preventDefault();
        finish(false);
      } else if (event.key === 'Tab') {
        event.preventDefault();
        (document.activeElement === cancel ? confirm : cancel).focus();
      }
    });
    document.body.append(backdrop);
    cancel.focus();
  });
}

// ---------------------------------------------------------------- loading

/**
 * Runs one load at a time: a load asked for while another runs waits for it, and only the
 * newest of those waiting runs, so typing never fills the native request slots.
 */
export class LoadQueue {
  private running = false;
  private waiting: (() => Promise<void>) | null = null;

  run(load: () => Promise<void>): void {
    if (this.running) {
      this.waiting = load;
      return;
    }
    this.running = true;
    void load()
      .catch(() => {})
      .finally(() => {
        this.running = false;
        const next = this.waiting;
        this.waiting = null;
        if (next) this.run(next);
      });
  }
}

/** Calls `action` once typing has paused for `ms`. */
export function debounce(action: () => void, ms = 300): () => void {
  let timer: ReturnType<typeof setTimeout> | undefined;
  return () => {
    clearTimeout(timer);
    timer = setTimeout(action, ms);
  };
}

/** Shows a failure where the operator acted, or clears it. */
export function say(target: HTMLElement, error: unknown | null): void {
  target.textContent = error === null ? '' : messageOf(error);
}

export function message(): HTMLElement {
  return h('p', { class: 'form-message', role: 'alert' });
}
