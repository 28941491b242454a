// Odd and hostile reply shapes on every list and record screen, scripted on the test
// service: each screen shows what came, as rows, as a record or as JSON, and never breaks.
import { afterAll, beforeAll, expect, it } from 'vitest';
import { PageFixture } from './fixture';
import { goTo, shown, signIn } from './screens';

const fixture = new PageFixture();
beforeAll(() => fixture.start());
afterAll(() => fixture.stop());

const ID = '0123abcd-89ab-cdef-0123-456789abcdef';
const ROW = { id: ID, display_name: '甲老板', title: '甲订单', name: '甲模板', note: '甲账目', player_name: '甲玩家', category: '武器' };

function deep(depth: number): unknown {
  let value: unknown = '底';
  for (let i = 0; i < depth; i++) value = { level: value };
  return value;
}

type Expect = 'rows' | 'empty' | 'nothing' | 'json' | 'cut';
const LIST_SHAPES: [string, number, unknown, Expect][] = [
  ['array', 200, [ROW], 'rows'],
  ['items', 200, { items: [ROW], total: 1, page: 1 }, 'rows'],
  ['data', 200, { data: [ROW] }, 'rows'],
  ['results', 200, { results: [ROW], next: null }, 'rows'],
  ['list', 200, { list: [ROW] }, 'rows'],
  ['rows', 200, { rows: [ROW] }, 'rows'],
  ['only array member', 200, { records: [ROW], has_more: false }, 'rows'],
  ['empty', 200, [], 'empty'],
  ['204', 204, undefined, 'nothing'],
  ['number', 200, 42, 'json'],
  ['string', 200, '好的', 'json'],
  ['object of objects', 200, { a: ROW, b: ROW }, 'json'],
  ['deep nesting', 200, deep(120), 'json'],
  ['10 000 items', 200, Array.from({ length: 10_000 }, (_, i) => ({ ...ROW, id: `${String(i).padStart(8, '0')}-89ab-cdef-0123-456789abcdef` })), 'cut'],
];

const RECORD_SHAPES: [string, number, unknown, 'record' | 'nothing' | 'json'][] = [
  ['record', 200, { ...ROW, extra_member: { nested: [1, 2] } }, 'record'],
  ['wrapped record', 200, { data: { ...ROW, extra_member: 1 } }, 'record'],
  ['204', 204, undefined, 'nothing'],
  ['number', 200, 7, 'json'],
  ['string', 200, '已保存', 'json'],
  ['array', 200, [ROW], 'json'],
  ['deep nesting', 200, { extra_member: deep(120) }, 'record'],
];

const route = (path: string, status: number, body: unknown) => ({
  method: 'GET',
  path: `/api${path}`,
  status,
  body: body === undefined ? '' : JSON.stringify(body),
});

it('survives every reply shape on every list and record screen', { timeout: 110_000 }, async () => {
  const service = fixture.service;
  await service.reset();
  const rows = (path: string) => route(path, 200, [ROW]);
  await service.script(
    { method: 'GET', path: '/api/health', body: '{"status":"ok"}' },
    { method: 'GET', path: '/api/me', body: JSON.stringify({ id: 1, email: 'a@b.cn' }) },
    { method: 'POST', path: '/api/auth/login', body: JSON.stringify({ token: 'tok', user: { id: 1 } }) },
    rows('/bosses?q='),
    rows('/orders'),
  );
  const view = await fixture.open();
  const { page } = view;
  const errors: string[] = [];
  page.on('pageerror', (error) => errors.push(error.message));
  await page.waitForSelector('#signed-in', { state: 'visible' }).catch(() => signIn(page, 'a@b.cn', 'p'));

  const lists: [string, string][] = [
    ['老板', '/bosses?q='],
    ['订单', '/orders'],
    ['订单模板', '/order-templates'],
    ['账目', `/orders/${ID}/entries?page=1&page_size=20`],
    ['对局', '/matches?page=1&page_size=20'],
    ['物品目录', '/catalog/items?q=&category=&page=1&page_size=40'],
  ];
  for (const [label, path] of lists) {
    for (const [shape, status, body, expected] of LIST_SHAPES) {
      await service.script(route(path, status, body));
      if (label === '订单') await service.script(rows('/bosses?q='));
      await goTo(page, '概览');
      const screen = await goTo(page, label);
      if (label === '订单') await screen.getByRole('button', { name: '刷新' }).click(); // read once per sign-in
      if (label === '账目') {
        // The order list is read once per sign-in; 刷新 reads it again, as scripted now.
        await screen.getByRole('button', { name: '刷新' }).click();
        await expect.poll(() => screen.getByLabel('订单', { exact: true }).locator(`option[value="${ID}"]`).count()).toBe(1);
        await screen.getByLabel('订单', { exact: true }).selectOption(ID);
      }
      const area = screen.locator('.list-area').first();
      await area.locator(':scope:not([aria-busy])').waitFor();
      const text = () => area.textContent();
      const check = `${label} ${shape}`;
      if (expected === 'rows') await expect.poll(text, { message: check }).toMatch(/甲/);
      if (expected === 'empty') await expect.poll(() => area.locator('.empty').count(), { message: check }).toBe(1);
      if (expected === 'nothing') await expect.poll(text, { message: check }).toContain('服务没有返回内容（应为列表）。');
      if (expected === 'json') {
        await expect.poll(text, { message: check }).toContain('服务返回的数据不是列表，以下按原样显示。');
        expect(await area.locator('pre.json').count(), check).toBe(1);
      }
      if (expected === 'cut' && (label === '老板' || label === '订单')) {
        // The service lists them all at once: the page pages them.
        await expect.poll(() => screen.locator('.pager').textContent(), { message: check }).toContain('共 10,000 条');
        expect(await area.locator('tbody tr').count(), check).toBe(label === '老板' ? 50 : 20);
      } else if (expected === 'cut') {
        await expect.poll(text, { message: check }).toContain('共 10000 条，仅显示前 500 条。');
        expect(await area.locator('tbody tr').count(), check).toBe(500);
      }
      if (shape === 'object of objects' || shape === '10 000 items') await view.screenshot(`odd-${path.split(/[/?]/)[1]}-${shape.replace(/ /g, '-')}`);
    }
    // A list that answers with rows again, for the record screens below.
    await service.script(route(path, 200, [ROW]));
  }

  // Record screens: one opened from its list, settings and stats on their own.
  const records: [string, string, string][] = [
    ['老板', `/bosses/${ID}`, '甲老板'],
    ['订单', `/orders/${ID}`, '甲订单'],
    ['对局', `/matches/${ID}`, '甲玩家'],
  ];
  await service.script(route(`/matches/${ID}/image`, 200, undefined));
  for (const [label, path, caption] of records) {
    for (const [shape, status, body, expected] of RECORD_SHAPES) {
      await service.script(route(path, status, body));
      const screen = await goTo(page, label);
      await screen.locator('table.list').getByRole('button', { name: caption }).click();
      const side = screen.locator('.side-area');
      const check = `${label} ${shape}`;
      if (expected === 'record') await expect.poll(() => side.locator('details.more summary').textContent(), { message: check }).toMatch(/^更多字段（\d+）$/);
      if (expected === 'nothing') await expect.poll(() => side.textContent(), { message: check }).toContain('服务没有返回内容（应为记录）。');
      if (expected === 'json') await expect.poll(() => side.textContent(), { message: check }).toContain('服务返回的数据不是记录，以下按原样显示。');
      if (shape === 'record') {
        // Known members first, by their labels; the rest folded.
        expect(await side.locator('.record-view > dl dt').first().textContent()).toMatch(/显示名称|标题|玩家名称/);
        expect(await side.locator('details.more').getAttribute('open')).toBeNull();
      }
    }
    await view.screenshot(`odd-record-${label}`);
  }
  for (const [shape, status, body, expected] of RECORD_SHAPES) {
    await service.script(route('/matches/settings', status, body), route('/matches/stats', status, body));
    await goTo(page, '概览');
    const settings = await goTo(page, '对局设置');
    const current = settings.locator('.side-area');
    const check = `settings ${shape}`;
    if (expected === 'record') await expect.poll(() => current.locator('details.more').count(), { message: check }).toBe(1);
    if (expected === 'nothing') await expect.poll(() => current.textContent(), { message: check }).toContain('服务没有返回内容');
    if (expected === 'json') await expect.poll(() => current.textContent(), { message: check }).toContain('以下按原样显示');
    const matches = await goTo(page, '对局');
    const stats = matches.locator('.stats');
    if (expected === 'json') await expect.poll(() => stats.textContent(), { message: check }).toContain('以下按原样显示');
    if (expected === 'nothing') await expect.poll(() => stats.textContent(), { message: check }).toContain('服务没有返回内容');
  }

  expect(await shown(page).count()).toBe(1);
  expect(errors).toEqual([]);
  expect(await view.violations()).toEqual([]);
  await view.close();
});
