// 订单: every order, searched by title or boss, filtered by boss, kind and progress, page by
// page; open one with its progress and counts; create blank or from a template; edit.
import { captionOf, recordIdOf, replyId, type JsonRecord } from '../client/replies';
import { pickCatalogItem } from './catalog';
import { BOSS_CAPTION, ORDER_CAPTION } from './directory';
import { orderRules } from '../client/records';
import { h } from './dom';
import { ORDER_KIND_LABELS, orderFields } from './fields';
import { numberText } from './format';
import { Pager, RecordForm, debounce, message, recordView } from './kit';
import { orderTotals, progressBar, progressOf } from './progress';
import {
  EditView,
  RecordChoice,
  RecordPane,
  button,
  fillOptions,
  frame,
  labelled,
  loadList,
  pane,
  recordOf,
  showDetails,
  type Context,
  type Screen,
} from './screen';

export { ORDER_CAPTION };

/** The wager item button of an order form: shown with the wager members, fills both of them. */
function wagerPicker(context: Context, form: () => RecordForm): HTMLElement {
  const pick = button('从物品目录选择对赌物品', async () => {
    const item = await pickCatalogItem(context);
    if (!item) return;
    const values: JsonRecord = {};
    const id = recordIdOf(item);
    if (id !== undefined) values.wager_item_id = id;
    const name = captionOf(item, ['name', 'title', 'display_name']);
    if (name !== undefined) values.wager_item_name = name;
    form().set(values);
  });
  return h('div', { class: 'wager-pick' }, pick);
}

function showWagerPicker(form: RecordForm, picker: HTMLElement) {
  const update = () => (picker.hidden = (form.element.querySelector('select[name="kind"]') as HTMLSelectElement).value !== 'wager');
  form.element.addEventListener('change', update);
  update();
}

const count = (value: unknown) => (typeof value === 'number' ? { text: numberText(value), sort: value } : { text: '—' });

export function ordersScreen(context: Context): Screen {
  const { client, directory, go, notify } = context;
  const bosses = new RecordChoice(directory.bosses, BOSS_CAPTION, '全部老板', '老板');
  const bossFilter = bosses.select;
  const search = h('input', { type: 'search', maxlength: 120, autocomplete: 'off', spellcheck: 'false', placeholder: '标题或老板' });
  const kindFilter = h('select', {}, h('option', { value: '' }, '全部类型'), Object.entries(ORDER_KIND_LABELS).map(([value, label]) => h('option', { value }, label)));
  const stateFilter = h('select', {}, h('option', { value: '' }, '全部'), h('option', { value: 'open' }, '未完成'), h('option', { value: 'done' }, '已完成'));
  const sizeSelect = h('select', {}, ...[20, 50, 100].map((size) => h('option', { value: size }, `每页 ${size} 条`)));
  const filterNote = message();
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const details = new RecordPane(side, (id) => client.getOrder(id), showOrder);
  const edit = new EditView(side);
  const open = (id: string) => details.open(id);
  const pager = new Pager(20, () => render());
  const bossName = (order: JsonRecord) =>
    (typeof order.boss_name === 'string' && order.boss_name !== '' ? order.boss_name : undefined) ?? directory.bosses.nameOf(order.boss_id);

  /** The orders that pass the filters: the service lists all of them, the page pages them. */
  function matching(records: JsonRecord[]): JsonRecord[] {
    const words = search.value.trim().toLowerCase();
    return records.filter((order) => {
      if (bossFilter.value !== '' && order.boss_id !== bossFilter.value) return false;
      if (kindFilter.value !== '' && order.kind !== kindFilter.value) return false;
      if (stateFilter.value !== '') {
        const progress = progressOf(order);
        const done = progress !== undefined && progress.share >= 1;
        if ((stateFilter.value === 'done') !== done) return false;
      }
      if (words === '') return true;
      return [captionOf(order, ORDER_CAPTION), bossName(order)].some((text) => text?.toLowerCase().includes(words));
    });
  }

  let reading: Promise<unknown> | null = null;
  async function render() {
    pager.pageSize = Number(sizeSelect.value);
    const loaded = await loadList(
      list,
      async () => {
        await (reading ?? directory.orders.get());
        if (directory.orders.odd) return directory.orders.raw;
        const found = matching(directory.orders.records);
        return { items: found.slice((pager.page - 1) * pager.pageSize, pager.page * pager.pageSize), total: found.length };
      },
      {
        fields: orderFields.filter((field) => field.name !== 'note'),
        caption: ORDER_CAPTION,
        columns: 1,
        extra: [
          { label: '老板', cell: (order) => ({ text: bossName(order) ?? '—' }) },
          { label: '进度', cell: (order) => ({ text: progressOf(order)?.text ?? '—', sort: progressOf(order)?.share, node: progressBar(order) ?? undefined }) },
          { label: '账目', cell: (order) => count(order.entry_count) },
          { label: '对局', cell: (order) => count(order.match_count) },
        ],
        empty: search.value || kindFilter.value || stateFilter.value || bossFilter.value ? '没有符合条件的订单。' : '还没有订单。',
        onOpen: (_item, id) => void open(id),
        retry: load,
      },
    );
    pager.update(loaded.items, loaded.paging);
  }

  /** Reads the orders again (a change, 刷新) and shows the page. */
  function load() {
    reading = directory.orders.refresh();
    void render();
  }

  /** Shows the page from the orders read this sign-in, reading them when marked stale. */
  function visit() {
    reading = directory.orders.get();
    void render();
  }
  const filtered = () => {
    pager.page = 1;
    void render();
  };
  search.addEventListener('input', debounce(filtered, 200));
  for (const select of [bossFilter, kindFilter, stateFilter, sizeSelect]) select.addEventListener('change', filtered);

  // Creating: the boss it belongs to and, optionally, the template it starts from.
  const bossChoice = new RecordChoice(directory.bosses, BOSS_CAPTION, '请选择', '老板');
  const bossSelect = bossChoice.select;
  bossSelect.name = 'boss';
  const templateSelect = h('select', {}, h('option', { value: '' }, '空白订单'));
  let templates: JsonRecord[] = [];
  const createNote = message();
  const picker = wagerPicker(context, () => createForm);
  const createForm: RecordForm = new RecordForm(
    orderFields,
    '创建订单',
    async (record) => {
      if (bossSelect.value === '') {
        bossSelect.setAttribute('aria-invalid', 'true');
        bossSelect.focus();
        throw new Error('请选择老板。');
      }
      bossSelect.removeAttribute('aria-invalid');
      const reply = await client.createOrder(bossSelect.value, record as never);
      createForm.fill({});
      templateSelect.value = '';
      notify(`已创建订单：${String(record.title)}（${directory.bosses.nameOf(bossSelect.value) ?? '老板'}）`);
      load();
      const id = replyId(reply);
      if (id) void open(id);
      else side.replaceChildren(h('h2', {}, '已创建'), recordView(reply, orderFields));
    },
    {
      before: [
        h('div', { class: 'form-grid' }, h('div', { class: 'field' }, labelled('老板', bossSelect, bossChoice.element)), h('div', { class: 'field' }, labelled('从模板填写', templateSelect))),
        createNote,
      ],
      after: [picker],
    },
  );
  createForm.checkWith(orderRules);
  showWagerPicker(createForm, picker);
  templateSelect.addEventListener('change', () => {
    const template = templates.find((record) => recordIdOf(record) === templateSelect.value);
    if (!template) return;
    // The template's members the order record has; its name and id stay with the template.
    const values: JsonRecord = {};
    for (const field of orderFields) if (Object.hasOwn(template, field.name)) values[field.name] = template[field.name];
    createForm.set(values);
  });

  async function showCreate(bossId?: string) {
    details.shownId = undefined;
    side.replaceChildren(h('h2', {}, '新建订单'), createForm.element);
    const [, loaded] = await Promise.all([
      bossChoice.fill(createNote),
      fillOptions(templateSelect, () => client.listOrderTemplates(), '空白订单', ['name', 'title'], createNote),
    ]);
    templates = loaded;
    if (bossId) bossChoice.choose(bossId);
    (bossId ? templateSelect : bossSelect).focus();
  }

  function showOrder(id: string, reply: unknown, note: HTMLElement) {
    const record = recordOf(reply);
    showDetails(
      side,
      '订单详情',
      // The wager item by its name; its catalog id stays under 更多字段 with the record ids.
      [orderTotals(record), recordView(reply, orderFields.filter((field) => field.name !== 'wager_item_id'))],
      [
        button('编辑', () => showEdit(id, record)),
        button('账目', () => go('ledger', { orderId: id })),
        button('对局', () => go('matches', { orderId: id })),
      ],
      note,
    );
  }

  function showEdit(id: string, values: JsonRecord) {
    const editPicker = wagerPicker(context, () => form);
    const form: RecordForm = new RecordForm(
      orderFields,
      '保存修改',
      async (changed) => {
        await client.updateOrder(id, changed as never);
        edit.saved(form);
        notify(`已保存订单：${String(changed.title)}`);
        load();
        await open(id);
      },
      { after: [editPicker] },
    );
    form.checkWith(orderRules).fill(values);
    showWagerPicker(form, editPicker);
    edit.show('编辑订单', form, () => void open(id));
  }

  const element = frame(
    '订单',
    [
      labelled('搜索订单', search),
      labelled('老板', bossFilter, bosses.element),
      labelled('订单类型', kindFilter),
      labelled('完成情况', stateFilter),
      labelled('每页', sizeSelect),
      button('刷新', load, 'small'),
      button('新建订单', () => void showCreate(bossFilter.value || undefined), 'primary'),
    ],
    pane('订单列表', h('h2', {}, '订单列表'), filterNote, list, pager.element),
    pane('订单详情', side),
  );
  side.replaceChildren(h('p', { class: 'note' }, '选择一个订单查看详情，或新建订单。'));

  return {
    element,
    show: (params) => {
      void bosses.fill(filterNote).then(() => {
        if (params?.bossId !== undefined) {
          bosses.choose(params.bossId);
          pager.page = 1;
        }
        visit();
        if (params?.create) void showCreate(params.bossId);
      });
    },
    hasUnsavedInput: () => createForm.dirty() || edit.dirty(),
  };
}
