// 对局: matches filtered by order and confirmation, their stats, screenshots uploaded from a
// file, a drop or the clipboard, recognition, editing and confirming, deleting.
import { LONG_NATIVE_DEADLINE_MS, MAX_SCREENSHOT_BYTES, SCREENSHOT_TYPES } from '../client/client';
import { Messages } from '../client/errors';
import { readRecord, replyId, type JsonRecord } from '../client/replies';
import { ORDER_CAPTION } from './directory';
import { matchRules } from '../client/records';
import { h, messageOf } from './dom';
import { valueText } from './format';
import { MATCH_OUTCOME_LABELS, matchFields, type FormField } from './fields';
import { LoadQueue, Pager, RecordForm, message, recordView } from './kit';
import {
  EditView,
  RecordChoice,
  RecordPane,
  button,
  failureView,
  frame,
  labelled,
  loadList,
  pane,
  recordOf,
  removeButton,
  showDetails,
  type Context,
  type Screen,
} from './screen';

const PAGE_SIZE = 20;

const statsFields = [
  { name: 'total', label: '对局总数' },
  { name: 'confirmed', label: '已确认' },
  { name: 'unconfirmed', label: '未确认' },
  { name: 'success', label: MATCH_OUTCOME_LABELS.success },
  { name: 'failed', label: MATCH_OUTCOME_LABELS.failed },
  { name: 'unknown', label: MATCH_OUTCOME_LABELS.unknown },
  // Totals over confirmed matches, as the demo's replies document them.
  { name: 'amount_total', label: '金额合计' },
  { name: 'fake_amount_total', label: '虚报金额合计' },
  { name: 'failure_extra_amount_total', label: '失败追加金额合计' },
];

/** The stats as labelled figures in one strip; any other shape as the record view shows it. */
function statsView(reply: unknown): HTMLElement {
  const reading = readRecord(reply);
  if (reading.kind !== 'record') return recordView(reply, statsFields);
  const { record } = reading;
  const figures = statsFields
    .filter((field) => Object.hasOwn(record, field.name))
    .map((field) => h('span', { class: 'figure' }, h('span', { class: 'total-label' }, field.label), h('strong', {}, valueText(field.name, record[field.name]))));
  const rest = Object.keys(record).filter((name) => !statsFields.some((field) => field.name === name));
  const more = rest.length > 0 ? recordView(Object.fromEntries(rest.map((name) => [name, record[name]])), []) : null;
  return h('div', { class: 'record-view' }, h('div', { class: 'figures' }, figures), more);
}

/** The image files among a drop's or a paste's items. */
function filesOf(data: DataTransfer | null): File[] {
  if (!data) return [];
  const files = [...data.files];
  if (files.length > 0) return files;
  return [...data.items].filter((item) => item.kind === 'file').flatMap((item) => item.getAsFile() ?? []);
}

export function matchesScreen({ client, directory, notify }: Context): Screen {
  const orders = new RecordChoice(directory.orders, ORDER_CAPTION, '全部订单', '订单', (order) =>
    typeof order.boss_name === 'string' ? order.boss_name : '',
  );
  const orderFilter = orders.select;
  const orderName = (id: unknown) => (id === null || id === '' ? '（无订单）' : directory.orders.nameOf(id));
  const confirmedFilter = h(
    'select',
    {},
    h('option', { value: '' }, '全部'),
    h('option', { value: 'true' }, '已确认'),
    h('option', { value: 'false' }, '未确认'),
  );
  const filterNote = message();
  const list = h('div', { class: 'list-area' });
  const stats = h('div', { class: 'stats' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const pager = new Pager(PAGE_SIZE, () => load());
  const details = new RecordPane(side, (id) => client.getMatch(id), showMatch);
  const edit = new EditView(side);
  const open = (id: string) => details.open(id);
  let imageUrl: string | undefined;

  const orderId = () => (orderFilter.value === '' ? undefined : orderFilter.value);
  const confirmed = () => (confirmedFilter.value === '' ? undefined : confirmedFilter.value === 'true');

  const filterKey = () => `${orderFilter.value}|${confirmedFilter.value}|${pager.page}`;
  const load = () =>
    queue.run(async () => {
      const key = filterKey();
      const isCurrent = () => filterKey() === key;
      const [loaded] = await Promise.all([
        loadList(list, () => client.listMatches({ page: pager.page, pageSize: PAGE_SIZE, orderId: orderId(), confirmed: confirmed() }), {
          fields: matchFields.filter((field) => field.name !== 'order_id'),
          caption: ['player_name', 'file_name'],
          columns: 4,
          extra: [{ label: '订单', cell: (item) => ({ text: orderName(item.order_id) ?? '（未知订单）' }) }],
          empty: '没有符合条件的对局。',
          onOpen: (_item, id) => void open(id),
          isCurrent,
          retry: load,
        }),
        loadStats(isCurrent),
      ]);
      if (loaded.current) pager.update(loaded.items, loaded.paging);
    });

  async function loadStats(isCurrent: () => boolean) {
    const heading = h('h2', {}, orderFilter.value === '' ? '统计（全部订单，已确认的合计）' : `统计（${orderName(orderFilter.value) ?? '订单'}，已确认的合计）`);
    try {
      const reply = await client.matchStats(orderId());
      if (isCurrent()) stats.replaceChildren(heading, statsView(reply));
    } catch (error) {
      if (isCurrent()) stats.replaceChildren(heading, failureView(error, load));
    }
  }

  let picks = 0;
  for (const filter of [orderFilter, confirmedFilter]) {
    filter.addEventListener('change', () => {
      picks++;
      pager.page = 1;
      // Per-order state goes with the order: the shown match and the upload messages.
      uploadNote.textContent = '';
      uploadState.textContent = '';
      load();
    });
  }

  // Uploading: the type and size are checked before a byte of the file is read.
  const uploadNote = message();
  const uploadState = h('p', { class: 'note', 'aria-live': 'polite' });
  const picker = h('input', { type: 'file', accept: SCREENSHOT_TYPES.join(','), class: 'visually-hidden', id: 'match-file' });
  let uploading = 0;

  async function upload(files: File[]) {
    uploadNote.textContent = '';
    uploadState.textContent = '';
    if (files.length === 0) return;
    // A match belongs to an order: uploading under 全部订单 would make one that belongs to none.
    if (orderId() === undefined) {
      uploadNote.textContent = '请先在上方“订单”中选择截图所属的订单，再上传。';
      orderFilter.focus();
      return;
    }
    const target = orderId()!;
    for (const file of files) {
      if (!(SCREENSHOT_TYPES as readonly string[]).includes(file.type)) {
        uploadNote.textContent = Messages.imageType;
        return;
      }
      if (file.size === 0 || file.size > MAX_SCREENSHOT_BYTES) {
        uploadNote.textContent = Messages.imageSize;
        return;
      }
    }
    for (const file of files) {
      uploading++;
      uploadState.textContent = `正在上传 ${file.name || '截图'}…`;
      try {
        const reply = await client.uploadMatch(file, { name: file.name || '粘贴的截图.png', orderId: target });
        uploadState.textContent = `已上传 ${file.name || '截图'}。`;
        notify(`已上传截图 ${file.name || '截图'}（${orderName(target) ?? '订单'}）。`);
        directory.orders.stale();
        const id = replyId(reply);
        if (id) void open(id);
      } catch (error) {
        uploadState.textContent = '';
        uploadNote.textContent = messageOf(error);
      } finally {
        uploading--;
      }
    }
    load();
  }

  picker.addEventListener('change', () => {
    const files = [...(picker.files ?? [])];
    picker.value = '';
    void upload(files);
  });
  const drop = h(
    'div',
    { class: 'drop-zone' },
    h('label', { for: 'match-file', class: 'button-like', tabindex: 0 }, '选择截图上传'),
    h('span', { class: 'note' }, '或把截图拖到这里、截图后按 Ctrl+V 粘贴（PNG、JPEG、WebP，≤ 12 MB）'),
    picker,
    uploadState,
    uploadNote,
  );
  const pickerLabel = drop.querySelector('label')!;
  pickerLabel.addEventListener('keydown', (event) => {
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      picker.click();
    }
  });

  function showMatch(id: string, reply: unknown, note = message()) {
    const image = h('div', { class: 'shot' }, h('p', { class: 'note' }, '正在读取截图…'));
    const recognize = button('识别', () => void runRecognition(id, recognize, note));
    const remove = removeButton(
      '删除对局',
      '删除对局',
      '确定要删除这个对局和它的截图吗？删除后无法恢复。',
      async () => {
        await client.deleteMatch(id);
        notify(`已删除对局 ${recordOf(reply).player_name || recordOf(reply).file_name || ''}。`);
        directory.orders.stale();
        side.replaceChildren(h('p', { class: 'note' }, '对局已删除。'));
        details.shownId = undefined;
        load();
      },
      note,
    );
    showDetails(
      side,
      '对局详情',
      [image, recordView(reply, matchFields, false, { order_id: (value) => orderName(value) })],
      [recognize, button('编辑并确认', () => showEdit(id, recordOf(reply))), remove],
      note,
    );
    void showImage(id, image);
  }

  async function showImage(id: string, target: HTMLElement) {
    try {
      const shot = await client.matchImage(id);
      if (imageUrl) URL.revokeObjectURL(imageUrl);
      imageUrl = shot.url;
      if (details.shownId !== id) return;
      target.replaceChildren(h('img', { src: shot.url, alt: '对局截图' }));
    } catch (error) {
      target.replaceChildren(h('p', { class: 'form-message', role: 'alert' }, messageOf(error)));
    }
  }

  async function runRecognition(id: string, trigger: HTMLButtonElement, note: HTMLElement) {
    trigger.disabled = true;
    note.textContent = '';
    const started = Date.now();
    const limit = LONG_NATIVE_DEADLINE_MS / 1000;
    const wait = h('p', { class: 'wait', role: 'status' });
    const tick = () => (wait.textContent = `正在识别…已等待 ${Math.floor((Date.now() - started) / 1000)} 秒（最长 ${limit} 秒）`);
    tick();
    const timer = setInterval(tick, 1000);
    trigger.after(wait);
    try {
      const reply = await client.recognizeMatch(id);
      if (details.shownId === id) showMatch(id, reply);
      load();
    } catch (error) {
      note.textContent = messageOf(error);
      trigger.disabled = false;
    } finally {
      clearInterval(timer);
      wait.remove();
    }
  }

  function showEdit(id: string, values: JsonRecord) {
    // The order is a choice of orders, named by their titles.
    const choices: Record<string, string> = {};
    for (const order of directory.orders.records) {
      const orderKey = typeof order.id === 'string' ? order.id : undefined;
      if (orderKey) choices[orderKey] = directory.orders.nameOf(orderKey) ?? orderKey;
    }
    const fields: FormField[] = matchFields.map((field) => (field.name === 'order_id' ? { ...field, choices } : field));
    const form: RecordForm = new RecordForm(fields, '保存', async (changed) => {
      const reply = await client.updateMatch(id, changed as never);
      edit.saved(form);
      notify(`已保存对局 ${recordOf(reply).player_name || changed.player_name || ''}。`);
      directory.orders.stale();
      load();
      showMatch(id, reply);
    }).checkWith(matchRules);
    form.fill(values);
    edit.show('编辑对局', form, () => void open(id));
  }

  const element = frame(
    '对局',
    [labelled('订单', orderFilter, orders.element), labelled('确认状态', confirmedFilter), button('刷新', () => { void orders.fill(filterNote, true); load(); }, 'small')],
    pane('对局列表', h('h2', {}, '对局列表'), drop, filterNote, stats, list, pager.element),
    pane('对局详情', side),
  );
  side.replaceChildren(h('p', { class: 'note' }, '选择一个对局查看截图和详情。'));

  element.addEventListener('dragover', (event) => {
    event.preventDefault();
    drop.classList.add('over');
  });
  element.addEventListener('dragleave', () => drop.classList.remove('over'));
  element.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    void upload(filesOf(event.dataTransfer));
  });

  return {
    element,
    show: (params) => {
      const before = picks;
      void orders.fill(filterNote).then(() => {
        // A link's order applies only while the operator has not chosen one meanwhile.
        if (params?.orderId !== undefined && picks === before && orders.choose(params.orderId)) pager.page = 1;
        load();
      });
    },
    hasUnsavedInput: () => edit.dirty() || uploading > 0,
    // Pastes reach the screen only while it is shown (the workspace hands them over).
    paste: (event: ClipboardEvent) => {
      const files = filesOf(event.clipboardData);
      if (files.length === 0) return;
      event.preventDefault();
      void upload(files);
    },
  };
}
