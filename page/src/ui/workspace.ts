// The signed-in workspace: a navigation bar and the ledger screens. Each screen is made once
// per sign-in and kept, so its filters, pages and unsent input survive moving between
// screens; the address never changes.
import type { VardekoClient } from '../client/client';
import { bossesScreen } from './bosses';
import { catalogScreen } from './catalog';
import { Directory } from './directory';
import { element, h } from './dom';
import { ledgerScreen } from './ledger';
import { matchesScreen } from './matches';
import { ordersScreen } from './orders';
import type { Context, Screen, ScreenId } from './screen';
import { settingsScreen } from './settings';
import { templatesScreen } from './templates';
import { unsavedMayHaveChanged } from './unsaved';

const NAVIGATION: [ScreenId, string][] = [
  ['overview', '概览'],
  ['bosses', '老板'],
  ['orders', '订单'],
  ['templates', '订单模板'],
  ['ledger', '账目'],
  ['matches', '对局'],
  ['settings', '对局设置'],
  ['catalog', '物品目录'],
];

type Factory = (context: Context) => Screen;
const FACTORIES: Record<Exclude<ScreenId, 'overview'>, Factory> = {
  bosses: bossesScreen,
  orders: ordersScreen,
  templates: templatesScreen,
  ledger: ledgerScreen,
  matches: matchesScreen,
  settings: settingsScreen,
  catalog: catalogScreen,
};

export interface Workspace {
  open(): void;
  close(): void;
  hasUnsavedInput(): boolean;
}

/** A notice of what was done: it stays a few seconds, the newest on top. */
function setUpNotices(): (text: string) => void {
  const area = h('div', { class: 'notices', role: 'status', 'aria-live': 'polite' });
  document.body.append(area);
  return (text) => {
    const notice = h('p', { class: 'notice' }, text);
    area.prepend(notice);
    while (area.children.length > 3) area.lastElementChild?.remove();
    setTimeout(() => notice.remove(), 4000);
  };
}

export function setUpWorkspace(client: VardekoClient, overviewShown: () => void): Workspace {
  const nav = element('nav');
  const overview = element('content');
  const area = element('screens');
  let screens = new Map<ScreenId, Screen>();
  let current: ScreenId = 'overview';

  const buttons = new Map<ScreenId, HTMLButtonElement>();
  nav.replaceChildren(
    h(
      'ul',
      {},
      NAVIGATION.map(([id, label]) => {
        const item = h('button', { type: 'button', 'data-screen': id }, label);
        item.addEventListener('click', () => go(id));
        buttons.set(id, item);
        return h('li', {}, item);
      }),
    ),
  );
  nav.addEventListener('keydown', (event) => {
    if (event.key !== 'ArrowDown' && event.key !== 'ArrowUp') return;
    const list = [...buttons.values()];
    const index = list.indexOf(document.activeElement as HTMLButtonElement);
    if (index < 0) return;
    event.preventDefault();
    list[(index + (event.key === 'ArrowDown' ? 1 : list.length - 1)) % list.length].focus();
  });

  const context: Context = { client, directory: new Directory(client), go, notify: setUpNotices() };

  function go(id: ScreenId, params?: Record<string, string>) {
    current = id;
    for (const [screenId, item] of buttons) {
      if (screenId === id) item.setAttribute('aria-current', 'page');
      else item.removeAttribute('aria-current');
    }
    overview.hidden = id !== 'overview';
    area.hidden = id === 'overview';
    if (id === 'overview') {
      overviewShown();
      return;
    }
    let screen = screens.get(id);
    if (!screen) {
      screen = FACTORIES[id](context);
      screens.set(id, screen);
      area.append(screen.element);
    }
    for (const [screenId, other] of screens) other.element.hidden = screenId !== id;
    screen.show(params);
  }

  document.addEventListener('paste', (event) => {
    if (nav.hidden || current === 'overview') return;
    screens.get(current)?.paste?.(event);
  });

  return {
    open() {
      nav.hidden = false;
      go('overview');
      // A second Enter of an impatient sign-in lands on the navigation, not on 退出登录.
      buttons.get('overview')?.focus();
      unsavedMayHaveChanged(); // the sign-in form was emptied
    },
    close() {
      // The next operator starts with fresh screens: nothing of this sign-in stays shown.
      for (const screen of screens.values()) screen.element.remove();
      screens = new Map();
      context.directory = new Directory(client);
      unsavedMayHaveChanged();
      nav.hidden = true;
      go('overview');
      area.hidden = true;
    },
    hasUnsavedInput: () => [...screens.values()].some((screen) => screen.hasUnsavedInput()),
  };
}
