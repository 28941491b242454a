// 物品目录: search by text and category, page by page; the same browser picks a wager item.
import type { JsonRecord } from '../client/replies';
import { h, uniqueId } from './dom';
import { catalogFields } from './fields';
import { LoadQueue, Pager, debounce } from './kit';
import { button, frame, labelled, loadList, pane, type Context, type Screen } from './screen';

const PAGE_SIZE = 40;
const CAPTION = ['name', 'title', 'display_name'];

export class CatalogBrowser {
  readonly element: HTMLElement;
  readonly search = h('input', { type: 'search', maxlength: 120, autocomplete: 'off', spellcheck: 'false' });
  private readonly category = h('select', {}, h('option', { value: '' }, '全部类别'));
  private readonly list = h('div', { class: 'list-area' });
  private readonly queue = new LoadQueue();
  private readonly pager: Pager;

  constructor(
    private readonly context: Context,
    private readonly onPick?: (item: JsonRecord) => void,
  ) {
    this.pager = new Pager(PAGE_SIZE, () => this.load());
    const typed = debounce(() => {
      this.pager.page = 1;
      this.load();
    });
    this.search.addEventListener('input', typed);
    this.category.addEventListener('change', () => {
      this.pager.page = 1;
      this.load();
    });
    this.element = h(
      'div',
      { class: 'catalog' },
      h('div', { class: 'tools' }, labelled('搜索物品', this.search), labelled('类别', this.category)),
      this.list,
      this.pager.element,
    );
  }

  load(): void {
    this.queue.run(async () => {
      const { items, paging } = await loadList(
        this.list,
        () =>
          this.context.client.listCatalog({
            q: this.search.value,
            category: this.category.value,
            page: this.pager.page,
            page_size: PAGE_SIZE,
          }),
        {
          fields: catalogFields,
          caption: CAPTION,
          retry: () => this.load(),
          empty: '没有找到物品。',
          actions: this.onPick
            ? (item) => [button('选择', () => this.onPick!(item), 'small')]
            : undefined,
        },
      );
      this.pager.update(items, paging);
      this.takeCategories(paging.categories);
    });
  }

  /** The service's category names, when its reply lists them beside the items. */
  private takeCategories(names: unknown): void {
    if (!Array.isArray(names)) return;
    const keep = this.category.value;
    const texts = names.filter((name): name is string => typeof name === 'string' && name !== '');
    if (texts.join('\n') === [...this.category.options].slice(1).map((o) => o.value).join('\n')) return;
    this.category.replaceChildren(h('option', { value: '' }, '全部类别'), ...texts.map((name) => h('option', { value: name }, name)));
    if (texts.includes(keep)) this.category.value = keep;
  }
}

/** The wager item the operator picks from the catalog, or null when they cancel. */
export function pickCatalogItem(context: Context): Promise<JsonRecord | null> {
  return new Promise((resolve) => {
    const before = document.activeElement as HTMLElement | null;
    const titleId = uniqueId('pick-title');
    const finish = (item: JsonRecord | null) => {
      backdrop.remove();
      before?.focus();
      resolve(item);
    };
    const browser = new CatalogBrowser(context, (item) => finish(item));
    const backdrop = h(
      'div',
      { class: 'dialog-backdrop' },
      h(
        'div',
        { class: 'dialog wide', role: 'dialog', 'aria-modal': 'true', 'aria-labelledby': titleId },
        h('h2', { id: titleId }, '从物品目录选择'),
        browser.element,
        h('div', { class: 'dialog-buttons' }, button('取消', () => finish(null))),
      ),
    );
    backdrop.addEventListener('keydown', (event) => {
      if (event.key === 'Escape') {
        event.preventDefault();
        finish(null);
      }
    });
    document.body.append(backdrop);
    browser.search.focus();
    browser.load();
  });
}

export function catalogScreen(context: Context): Screen {
  const browser = new CatalogBrowser(context);
  return {
    element: frame('物品目录', [], pane('物品', browser.element)),
    show: () => browser.load(),
    hasUnsavedInput: () => false,
  };
}
