// 老板: search as the operator types, open one, create and edit.
import { replyId, type JsonRecord } from '../client/replies';
import { h } from './dom';
import { bossFields } from './fields';
import { LoadQueue, RecordForm, debounce, recordView } from './kit';
import { EditView, RecordPane, button, frame, labelled, loadList, pane, recordOf, showDetails, type Context, type Screen } from './screen';

export function bossesScreen({ client, go }: Context): Screen {
  const search = h('input', { type: 'search', maxlength: 200, autocomplete: 'off', spellcheck: 'false' });
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const details = new RecordPane(side, (id) => client.getBoss(id), showBoss);
  const edit = new EditView(side);
  const open = (id: string) => details.open(id);

  const load = () =>
    queue.run(async () => {
      await loadList(list, () => client.listBosses(search.value), {
        fields: bossFields,
        caption: ['display_name', 'game_name', 'game_id'],
        columns: 2,
        empty: search.value === '' ? '还没有老板。' : '没有找到匹配的老板。',
        onOpen: (_item, id) => void open(id),
      });
    });
  search.addEventListener('input', debounce(load));

  const createForm = new RecordForm(bossFields, '创建老板', async (record) => {
    const reply = await client.createBoss(record as never);
    createForm.fill({});
    load();
    const id = replyId(reply);
    if (id) void open(id);
    else side.replaceChildren(h('h2', {}, '已创建'), recordView(reply, bossFields));
  });

  function showCreate() {
    side.replaceChildren(h('h2', {}, '新建老板'), createForm.element);
    createForm.focusFirst();
  }

  function showBoss(id: string, reply: unknown, note: HTMLElement) {
    showDetails(
      side,
      '老板详情',
      [recordView(reply, bossFields)],
      [
        button('编辑', () => showEdit(id, recordOf(reply))),
        button('查看订单', () => go('orders', { bossId: id })),
        button('为此老板新建订单', () => go('orders', { bossId: id, create: '1' })),
      ],
      note,
    );
  }

  function showEdit(id: string, values: JsonRecord) {
    const form: RecordForm = new RecordForm(bossFields, '保存修改', async (changed) => {
      await client.updateBoss(id, changed as never);
      edit.saved(form);
      load();
      await open(id);
    });
    form.fill(values);
    edit.show('编辑老板', form, () => void open(id));
  }

  const element = frame(
    '老板',
    [labelled('搜索老板', search), button('新建老板', showCreate, 'primary')],
    pane('老板列表', list),
    pane('老板详情', side),
  );
  side.replaceChildren(h('p', { class: 'note' }, '选择一位老板查看详情，或新建老板。'));

  return {
    element,
    show: () => load(),
    hasUnsavedInput: () => createForm.dirty() || edit.dirty(),
  };
}
