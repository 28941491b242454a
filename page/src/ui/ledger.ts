// 账目: an order's entries page by page, add one, delete one after a confirmation.
import { codeOf, h, messageOf } from './dom';
import { ledgerFields, ledgerShownFields } from './fields';
import { LoadQueue, Pager, RecordForm, message, recordView } from './kit';
import { ORDER_CAPTION } from './orders';
import { button, fillOptions, frame, labelled, loadList, pane, removeButton, type Context, type Screen } from './screen';

/** Failures after which the service may have booked the entry: the retry must carry the same key. */
const UNCERTAIN = new Set(['NETWORK_ERROR', 'TIMEOUT', 'NO_REPLY']);

export function ledgerScreen({ client }: Context): Screen {
  const orderSelect = h('select', {}, h('option', { value: '' }, '请选择订单'));
  const sizeSelect = h('select', {}, ...[20, 50, 100].map((size) => h('option', { value: size }, `每页 ${size} 条`)));
  const filterNote = message();
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const pager = new Pager(20, () => load());

  const load = () =>
    queue.run(async () => {
      const orderId = orderSelect.value;
      if (orderId === '') {
        list.replaceChildren(h('p', { class: 'note' }, '请选择一个订单查看它的账目。'));
        pager.update(null, {});
        return;
      }
      pager.pageSize = Number(sizeSelect.value);
      const { items, paging } = await loadList(list, () => client.listLedgerEntries(orderId, pager.page, pager.pageSize), {
        fields: ledgerShownFields,
        caption: ['note'],
        columns: 3,
        empty: '这个订单还没有账目。',
        actions: (_item, id) => (id === undefined ? [] : [deleteButton(orderId, id)]),
      });
      pager.update(items, paging);
    });

  function deleteButton(orderId: string, entryId: string) {
    return removeButton(
      '删除',
      '删除账目',
      '确定要删除这条账目吗？删除后无法恢复。',
      async () => {
        filterNote.textContent = '';
        await client.deleteLedgerEntry(orderId, entryId);
        load();
      },
      filterNote,
      'small danger',
    );
  }

  orderSelect.addEventListener('change', () => {
    pager.page = 1;
    load();
  });
  sizeSelect.addEventListener('change', () => {
    pager.page = 1;
    load();
  });

  // One key per entry the operator is adding: made when the entry is started, kept through
  // every retry, and replaced only once the service has booked it or the entry is discarded.
  let entryKey = crypto.randomUUID();
  const form = new RecordForm(
    ledgerFields,
    '添加账目',
    async (record) => {
      const orderId = orderSelect.value;
      if (orderId === '') throw new Error('请先选择订单。');
      let reply: unknown;
      try {
        reply = await client.addLedgerEntry(orderId, { ...record, idempotency_key: entryKey } as never);
      } catch (error) {
        if (UNCERTAIN.has(codeOf(error) ?? '')) {
          load(); // the list shows whether the service booked it meanwhile
          throw new Error(`${messageOf(error)}再次提交时不会重复记账。`);
        }
        throw error;
      }
      entryKey = crypto.randomUUID();
      form.fill({});
      added.replaceChildren(h('h3', {}, '已添加'), recordView(reply, ledgerShownFields));
      load();
    },
    {
      buttons: [
        button('清空', () => {
          entryKey = crypto.randomUUID();
          form.fill({});
        }),
      ],
    },
  );
  const added = h('div', { class: 'added' });
  side.replaceChildren(h('h2', {}, '添加账目'), form.element, added);

  const element = frame(
    '账目',
    [labelled('订单', orderSelect), labelled('每页', sizeSelect)],
    pane('账目列表', filterNote, list, pager.element),
    pane('添加账目', side),
  );

  return {
    element,
    show: (params) => {
      void fillOptions(orderSelect, () => client.listOrders(), '请选择订单', ORDER_CAPTION, filterNote).then(() => {
        if (params?.orderId !== undefined && orderSelect.value !== params.orderId) {
          orderSelect.value = params.orderId;
          pager.page = 1;
        }
        load();
      });
    },
    hasUnsavedInput: () => form.dirty(),
  };
}
