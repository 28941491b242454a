// 账目: an order's totals and entries page by page, add one, delete one after a confirmation.
import { recordIdOf, type JsonRecord } from '../client/replies';
import { ledgerEntryRules } from '../client/records';
import { ORDER_CAPTION } from './directory';
import { codeOf, h, messageOf } from './dom';
import { LEDGER_KIND_LABELS, ledgerFields, ledgerShownFields } from './fields';
import { numberText, timeText } from './format';
import { LoadQueue, Pager, RecordForm, message, recordView } from './kit';
import { orderTotals } from './progress';
import { RecordChoice, button, frame, labelled, loadList, pane, removeButton, type Context, type Screen } from './screen';

/** Failures after which the service may have booked the entry: the retry must carry the same key. */
const UNCERTAIN = new Set(['NETWORK_ERROR', 'TIMEOUT', 'NO_REPLY']);

const kindLabel = (kind: unknown) => (typeof kind === 'string' ? (LEDGER_KIND_LABELS as Record<string, string>)[kind] ?? kind : '账目');

/** A row without a note is captioned by its kind and time. */
export function entryCaption(entry: JsonRecord): string {
  if (typeof entry.note === 'string' && entry.note !== '') return entry.note;
  const time = entry.occurred_at ?? entry.created_at;
  return time ? `${kindLabel(entry.kind)} · ${timeText(time)}` : kindLabel(entry.kind);
}

export function ledgerScreen({ client, directory, notify }: Context): Screen {
  const orders = new RecordChoice(directory.orders, ORDER_CAPTION, '请选择订单', '订单', (order) =>
    typeof order.boss_name === 'string' ? order.boss_name : '',
  );
  const sizeSelect = h('select', {}, ...[20, 50, 100].map((size) => h('option', { value: size }, `每页 ${size} 条`)));
  const filterNote = message();
  const totals = h('div', { class: 'order-totals' });
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const pager = new Pager(20, () => load());
  const added = h('div', { class: 'added', 'aria-live': 'polite' });
  /** The order whose entries, totals and added panel are shown. */
  let shownOrder = '';

  const load = () =>
    queue.run(async () => {
      const orderId = orders.value;
      if (orderId === '') {
        totals.replaceChildren();
        list.replaceChildren(h('p', { class: 'note' }, '请选择一个订单查看它的账目。'));
        pager.update(null, {});
        return;
      }
      pager.pageSize = Number(sizeSelect.value);
      const page = pager.page;
      const size = pager.pageSize;
      const isCurrent = () => orders.value === orderId && pager.page === page && pager.pageSize === size;
      const [loaded] = await Promise.all([
        loadList(list, () => client.listLedgerEntries(orderId, page, size), {
          fields: ledgerShownFields.filter((field) => field.name !== 'note'),
          caption: entryCaption,
          columns: 3,
          empty: '这个订单还没有账目。',
          actions: (_item, id) => (id === undefined ? [] : [deleteButton(orderId, id)]),
          isCurrent,
          retry: load,
        }),
        loadTotals(orderId),
      ]);
      if (loaded.current) pager.update(loaded.items, loaded.paging);
    });

  async function loadTotals(orderId: string) {
    const known = directory.orders.find(orderId);
    if (known) totals.replaceChildren(orderTotals(known));
    try {
      const reply = await client.getOrder(orderId);
      if (orders.value !== orderId) return;
      if (reply !== null && typeof reply === 'object' && !Array.isArray(reply)) totals.replaceChildren(orderTotals(reply as JsonRecord));
    } catch {
      // The list pane shows the failure; the totals stay as last known.
    }
  }

  function deleteButton(orderId: string, entryId: string) {
    return removeButton(
      '删除',
      '删除账目',
      '确定要删除这条账目吗？删除后无法恢复。',
      async () => {
        filterNote.textContent = '';
        await client.deleteLedgerEntry(orderId, entryId);
        directory.orders.stale();
        notify(`已删除账目（${directory.orders.nameOf(orderId) ?? '订单'}）。`);
        load();
      },
      filterNote,
      'small danger',
    );
  }

  // One key per entry the operator is adding: made when the entry is started, kept through
  // every retry, and replaced only once the service has booked it, the entry is discarded
  // or the order changes (a key belongs to one order).
  let entryKey = crypto.randomUUID();
  let uncertain = false;

  /** Everything of one order goes when another is chosen: its rows, totals, panels and key. */
  function orderChanged() {
    if (orders.value === shownOrder) return;
    shownOrder = orders.value;
    added.replaceChildren();
    if (uncertain) form.message.textContent = '';
    uncertain = false;
    entryKey = crypto.randomUUID();
    pager.page = 1;
    load();
  }

  const form = new RecordForm(
    ledgerFields,
    '添加账目',
    async (record) => {
      const orderId = orders.value;
      if (orderId === '') {
        orders.select.focus();
        throw new Error('请先选择订单。');
      }
      let reply: unknown;
      try {
        reply = await client.addLedgerEntry(orderId, { ...record, idempotency_key: entryKey } as never);
      } catch (error) {
        if (UNCERTAIN.has(codeOf(error) ?? '')) {
          uncertain = true;
          added.replaceChildren(
            h(
              'div',
              { class: 'uncertain', role: 'alert' },
              h('h3', {}, '不确定是否已记入'),
              h('p', {}, '服务没有及时回答：这条账目可能已经记入，列表中暂时看不到。再次点击“添加账目”只会记入一次，不会重复记账。'),
              button('刷新列表', load, 'small'),
            ),
          );
          throw new Error(`${messageOf(error)}再次提交时不会重复记账。`);
        }
        if (uncertain) load(); // the retry's answer decides what the list shows
        throw error;
      }
      const wasUncertain = uncertain;
      uncertain = false;
      entryKey = crypto.randomUUID();
      // A run of similar entries: the kind stays, the rest clears, the quantity takes the keyboard.
      form.clear(
        ledgerFields.filter((field) => field.name !== 'kind').map((field) => field.name),
        'quantity',
      );
      added.replaceChildren(h('h3', {}, wasUncertain ? '已记入（只记一次）' : '已添加'), recordView(reply, ledgerShownFields));
      const entry = reply !== null && typeof reply === 'object' ? (reply as JsonRecord) : {};
      notify(`已添加账目：${kindLabel(entry.kind ?? record.kind)} ${typeof entry.quantity === 'number' ? numberText(entry.quantity) : ''}（${directory.orders.nameOf(orderId) ?? '订单'}）`);
      directory.orders.stale();
      if (recordIdOf(entry) === undefined) added.append(h('p', { class: 'note' }, '服务没有返回新账目的编号。'));
      load();
    },
    {
      buttons: [
        button('清空', () => {
          entryKey = crypto.randomUUID();
          uncertain = false;
          added.replaceChildren();
          form.fill({});
        }),
      ],
    },
  );
  form.checkWith(ledgerEntryRules);
  side.replaceChildren(form.element, added);

  let picks = 0;
  orders.select.addEventListener('change', () => {
    picks++;
    orderChanged();
  });
  sizeSelect.addEventListener('change', () => {
    pager.page = 1;
    load();
  });
  const refresh = button(
    '刷新',
    () => {
      void orders.fill(filterNote, true);
      load();
    },
    'small',
  );

  const element = frame(
    '账目',
    [labelled('订单', orders.select, orders.element), labelled('每页', sizeSelect), refresh],
    pane('账目列表', h('h2', {}, '账目列表'), filterNote, totals, list, pager.element),
    pane('添加账目', h('h2', {}, '添加账目'), side),
  );

  return {
    element,
    show: (params) => {
      const before = picks;
      void orders.fill(filterNote).then(() => {
        // A link's order applies only while the operator has not chosen one meanwhile.
        if (params?.orderId !== undefined && picks === before) orders.choose(params.orderId);
        if (orders.value !== shownOrder) orderChanged();
        else load();
      });
    },
    hasUnsavedInput: () => form.dirty(),
  };
}
