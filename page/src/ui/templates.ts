// 订单模板: list, create, edit, delete after a confirmation.
import { readRecord, type JsonRecord } from '../client/replies';
import { orderTemplateRules } from '../client/records';
import { h } from './dom';
import { templateFields, templateShownFields } from './fields';
import { LoadQueue, RecordForm, message, recordView } from './kit';
import { EditView, button, frame, loadList, pane, removeButton, showDetails, type Context, type Screen } from './screen';

export function templatesScreen({ client, notify }: Context): Screen {
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();

  const load = () =>
    queue.run(async () => {
      await loadList(list, () => client.listOrderTemplates(), {
        fields: templateShownFields,
        caption: ['name', 'title'],
        columns: 3,
        empty: '还没有订单模板。',
        onOpen: (item, id) => open(id, item),
        retry: load,
      });
    });

  const createForm = new RecordForm(templateFields, '创建模板', async (record) => {
    const reply = await client.createOrderTemplate(record as never);
    createForm.fill({});
    notify(`已创建模板：${String(record.name)}`);
    load();
    side.replaceChildren(h('h2', {}, '已创建模板'), recordView(reply, templateShownFields));
  }).checkWith(orderTemplateRules);
  const edit = new EditView(side);

  function showCreate() {
    side.replaceChildren(h('h2', {}, '新建订单模板'), createForm.element);
    createForm.focusFirst();
  }

  // There is no method to read one template: the list's record is what the service gave.
  function open(id: string, item: JsonRecord) {
    const note = message();
    const name = typeof item.name === 'string' ? `“${item.name}”` : '这个模板';
    const remove = removeButton(
      '删除模板',
      '删除订单模板',
      `确定要删除${name}吗？删除后无法恢复。`,
      async () => {
        note.textContent = '';
        await client.deleteOrderTemplate(id);
        notify(`已删除模板：${typeof item.name === 'string' ? item.name : ''}`);
        side.replaceChildren(h('p', { class: 'note' }, '模板已删除。'));
        load();
      },
      note,
    );
    showDetails(side, '模板详情', [recordView(item, templateShownFields.filter((field) => field.name !== 'wager_item_id'))], [button('编辑', () => showEdit(id, item)), remove], note);
  }

  function showEdit(id: string, item: JsonRecord) {
    const form: RecordForm = new RecordForm(templateFields, '保存修改', async (changed) => {
      const reply = await client.updateOrderTemplate(id, changed as never);
      edit.saved(form);
      notify(`已保存模板：${String(changed.name)}`);
      load();
      const reading = readRecord(reply);
      open(id, reading.kind === 'record' ? reading.record : { ...item, ...changed });
    }).checkWith(orderTemplateRules);
    form.fill(item);
    edit.show('编辑订单模板', form, () => open(id, item));
  }

  const element = frame('订单模板', [button('新建模板', showCreate, 'primary')], pane('模板列表', h('h2', {}, '模板列表'), list), pane('模板详情', side));
  side.replaceChildren(h('p', { class: 'note' }, '选择一个模板查看详情，或新建模板。'));
  return {
    element,
    show: () => load(),
    hasUnsavedInput: () => createForm.dirty() || edit.dirty(),
  };
}
