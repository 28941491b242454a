// 老板: search as the operator types, open one, create and edit.
import { bossRules } from '../client/records';
import { captionOf, readList, replyId, type JsonRecord } from '../client/replies';
import { BOSS_CAPTION } from './directory';
import { h } from './dom';
import { bossFields } from './fields';
import { timeText } from './format';
import { LoadQueue, Pager, RecordForm, debounce, recordView } from './kit';
import { EditView, RecordPane, button, frame, labelled, loadList, pane, recordOf, showDetails, type Context, type Screen } from './screen';

export function bossesScreen({ client, directory, go, notify }: Context): Screen {
  const search = h('input', { type: 'search', maxlength: 200, autocomplete: 'off', spellcheck: 'false' });
  const list = h('div', { class: 'list-area' });
  const side = h('div', { class: 'side-area' });
  const queue = new LoadQueue();
  const details = new RecordPane(side, (id) => client.getBoss(id), showBoss);
  const edit = new EditView(side);
  const open = (id: string) => details.open(id);

  // The service lists every match of the search at once; the page shows them page by page.
  const pager = new Pager(50, () => load(false));
  let reply: unknown = null;
  let replyFor: string | null = null;
  const load = (fresh = true) =>
    queue.run(async () => {
      const words = search.value;
      const page = pager.page;
      const { items, paging } = await loadList(
        list,
        async () => {
          if (fresh || replyFor !== words) {
            reply = await client.listBosses(words);
            replyFor = words;
          }
          const reading = readList(reply);
          if (reading.kind !== 'list') return reply;
          return { items: reading.items.slice((page - 1) * pager.pageSize, page * pager.pageSize), total: reading.items.length };
        },
        {
          fields: bossFields.filter((field) => field.name !== 'display_name'),
          caption: (item) => captionOf(item, BOSS_CAPTION),
          columns: 2,
          extra: [{ label: '创建时间', cell: (item) => ({ text: timeText(item.created_at), sort: String(item.created_at ?? '') }) }],
          empty: words === '' ? '还没有老板。' : '没有找到匹配的老板。',
          onOpen: (_item, id) => void open(id),
          isCurrent: () => search.value === words && pager.page === page,
          retry: () => load(),
        },
      );
      pager.update(items, paging);
    });
  search.addEventListener(
    'input',
    debounce(() => {
      pager.page = 1;
      load();
    }),
  );

  const createForm = new RecordForm(bossFields, '创建老板', async (record) => {
    const reply = await client.createBoss(record as never);
    createForm.fill({});
    notify(`已创建老板：${String(record.display_name)}`);
    void directory.bosses.refresh().catch(() => {});
    load();
    const id = replyId(reply);
    if (id) void open(id);
    else side.replaceChildren(h('h2', {}, '已创建'), recordView(reply, bossFields));
  }).checkWith(bossRules);

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
      notify(`已保存老板：${String(changed.display_name)}`);
      void directory.bosses.refresh().catch(() => {});
      directory.orders.stale(); // orders carry their boss's name
      load();
      await open(id);
    }).checkWith(bossRules);
    form.fill(values);
    edit.show('编辑老板', form, () => void open(id));
  }

  const element = frame(
    '老板',
    [labelled('搜索老板', search), button('新建老板', showCreate, 'primary')],
    pane('老板列表', h('h2', {}, '老板列表'), list, pager.element),
    pane('老板详情', side),
  );
  side.replaceChildren(h('p', { class: 'note' }, '选择一位老板查看详情，或新建老板。'));

  return {
    element,
    show: () => load(),
    hasUnsavedInput: () => createForm.dirty() || edit.dirty(),
  };
}
