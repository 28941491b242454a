// 订单: all orders or one boss's, open, create blank or from a template, edit.
import { captionOf, recordIdOf, replyId, type JsonRecord } from '../client/replies';
import { pickCatalogItem } from './catalog';
import { h } from './dom';
import { orderFields } from './fields';
import { LoadQueue, RecordForm, message, recordView } from './kit';
import { EditView, RecordPane, button, fillOptions, frame, labelled, loadList, pane, recordOf, showDetails, type Context, type Screen } from './screen';

export const ORDER_CAPTION = ['title', 'name'];
const BOSS_CAPTION = ['display_name', 'game_name', 'game_id'];

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

export function ordersScreen(context: Context): Screen {
  const { client, go } = context;
  const bossFilter = h('select', {}, h('option', { value: '' }, '全部老板'));
  const filterNote = message();
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const details = new RecordPane(side, (id) => client.getOrder(id), showOrder);
  const edit = new EditView(side);
  const open = (id: string) => details.open(id);

  const load = () =>
    queue.run(async () => {
      await loadList(list, () => client.listOrders(bossFilter.value === '' ? undefined : bossFilter.value), {
        fields: orderFields,
        caption: ORDER_CAPTION,
        columns: 3,
        empty: '还没有订单。',
        onOpen: (_item, id) => void open(id),
      });
    });
  bossFilter.addEventListener('change', load);

  // Creating: the boss it belongs to and, optionally, the template it starts from.
  const bossSelect = h('select', { name: 'boss' }, h('option', { value: '' }, '请选择'));
  const templateSelect = h('select', {}, h('option', { value: '' }, '空白订单'));
  let templates: JsonRecord[] = [];
  const createNote = message();
  const picker = wagerPicker(context, () => createForm);
  const createForm: RecordForm = new RecordForm(
    orderFields,
    '创建订单',
    async (record) => {
      if (bossSelect.value === '') throw new Error('请选择老板。');
      const reply = await client.createOrder(bossSelect.value, record as never);
      createForm.fill({});
      templateSelect.value = '';
      load();
      const id = replyId(reply);
      if (id) void open(id);
      else side.replaceChildren(h('h2', {}, '已创建'), recordView(reply, orderFields));
    },
    {
      before: [
        h('div', { class: 'form-grid' }, h('div', { class: 'field' }, labelled('老板', bossSelect)), h('div', { class: 'field' }, labelled('从模板填写', templateSelect))),
        createNote,
      ],
      after: [picker],
    },
  );
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
    side.replaceChildren(h('h2', {}, '新建订单'), createForm.element);
    const [, loaded] = await Promise.all([
      fillOptions(bossSelect, () => client.listBosses(''), '请选择', BOSS_CAPTION, createNote),
      fillOptions(templateSelect, () => client.listOrderTemplates(), '空白订单', ['name', 'title'], createNote),
    ]);
    templates = loaded;
    if (bossId) bossSelect.value = bossId;
    (bossId ? templateSelect : bossSelect).focus();
  }

  function showOrder(id: string, reply: unknown, note: HTMLElement) {
    showDetails(
      side,
      '订单详情',
      [recordView(reply, orderFields)],
      [
        button('编辑', () => showEdit(id, recordOf(reply))),
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
        load();
        await open(id);
      },
      { after: [editPicker] },
    );
    form.fill(values);
    showWagerPicker(form, editPicker);
    edit.show('编辑订单', form, () => void open(id));
  }

  const element = frame(
    '订单',
    [labelled('老板', bossFilter), button('新建订单', () => void showCreate(bossFilter.value || undefined), 'primary')],
    pane('订单列表', filterNote, list),
    pane('订单详情', side),
  );
  side.replaceChildren(h('p', { class: 'note' }, '选择一个订单查看详情，或新建订单。'));

  return {
    element,
    show: (params) => {
      void fillOptions(bossFilter, () => client.listBosses(''), '全部老板', BOSS_CAPTION, filterNote).then(() => {
        if (params?.bossId !== undefined) bossFilter.value = params.bossId;
        load();
        if (params?.create) void showCreate(params.bossId);
      });
    },
    hasUnsavedInput: () => createForm.dirty() || edit.dirty(),
  };
}
