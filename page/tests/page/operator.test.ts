// The operator's faults and conventions on the demo service: a choice never overwritten by a
// late reply, the focus after sign-in, uploads that need an order, times, numbers and names,
// paging past 500 and searching, field-named refusals, copying a table, and the
// unsaved-input signal to the native side.
import { afterAll, beforeAll, beforeEach, expect, it } from 'vitest';
import { DemoService } from '../../tools/harness.mjs';
import { PageFixture, type OpenPage } from './fixture';
import { goTo, pasteImage, screenshotPng, signIn } from './screens';

const fixture = new PageFixture();
let demo: DemoService;
let view: OpenPage | undefined;

beforeAll(async () => {
  demo = await DemoService.start();
  await fixture.start();
});
afterAll(async () => {
  await fixture.stop();
  demo?.stop();
});
beforeEach(async () => {
  await view?.close();
  view = undefined;
  await demo.control('/__reset', {});
});

type Order = { id: string; title: string };
type Request = { method: string; path: string; json: Record<string, unknown> | null };

async function openSignedIn(viewport?: { width: number; height: number }) {
  view = await fixture.open({ apiUrl: demo.url('/api'), timezoneId: 'Asia/Shanghai', viewport });
  await signIn(view.page, 'demo@vardeko.local', 'vardeko-demo');
  return view;
}

const orderNamed = async (title: string) => ((await demo.data()).orders as Order[]).find((order) => order.title === title)!;

it('keeps the chosen order when a late refill or list arrives, clears its panel and books the entry there', { timeout: 60_000 }, async () => {
  const { page, screenshot } = await openSignedIn();
  const first = await orderNamed('王老板护航 10 局');
  const second = await orderNamed('陈哥单局代打');
  const screen = await goTo(page, '账目');
  const orderChoice = screen.getByLabel('订单', { exact: true });
  await orderChoice.selectOption(first.id);
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(4);
  await screen.getByLabel('类型', { exact: true }).selectOption({ label: '进度' });
  await screen.getByLabel('数量', { exact: true }).fill('1');
  await screen.getByRole('button', { name: '添加账目' }).click();
  await screen.getByRole('heading', { name: '已添加' }).waitFor();

  // The refill and the first order's list both answer late; the operator picks meanwhile.
  await demo.next({ path: '/orders', method: 'GET', delay_ms: 1500 });
  await demo.next({ path: `/orders/${first.id}/entries`, method: 'GET', delay_ms: 1200 });
  await screen.getByRole('button', { name: '刷新' }).click();
  await orderChoice.selectOption(second.id);
  // From now on the first order's rows never show, not even for a moment.
  await screen.locator('.list-area').evaluate((area) => {
    new MutationObserver(() => {
      if (area.textContent?.includes('前三局顺利撤离')) (window as unknown as { staleShown: boolean }).staleShown = true;
    }).observe(area, { childList: true, subtree: true, characterData: true });
  });
  await expect.poll(() => screen.getByRole('heading', { name: '已添加' }).count()).toBe(0);
  await screen.getByText('这个订单还没有账目。').waitFor();
  await page.waitForTimeout(1800); // both late replies have arrived and been handled
  expect(await orderChoice.inputValue()).toBe(second.id);
  expect(await screen.getByText('这个订单还没有账目。').count()).toBe(1);
  expect(await page.evaluate(() => (window as unknown as { staleShown?: boolean }).staleShown)).toBeUndefined();
  await screenshot('ledger-order-kept');

  await screen.getByLabel('数量', { exact: true }).fill('1');
  await screen.getByLabel('备注', { exact: true }).fill('给陈哥的一局');
  await screen.getByRole('button', { name: '添加账目' }).click();
  await screen.getByRole('heading', { name: '已添加' }).waitFor();
  const booked = ((await demo.data()).entries as { order_id: string; note: string }[]).find((entry) => entry.note === '给陈哥的一局');
  expect(booked?.order_id).toBe(second.id);
});

it('moves the focus off 退出登录 after sign-in, and refuses an upload without an order', { timeout: 60_000 }, async () => {
  view = await fixture.open({ apiUrl: demo.url('/api') });
  const { page } = view;
  await page.waitForSelector('#login-email:focus');
  await page.fill('#login-email', 'demo@vardeko.local');
  await page.fill('#login-password', 'vardeko-demo');
  await page.keyboard.press('Enter');
  await page.waitForSelector('#signed-in', { state: 'visible' });
  await page.keyboard.press('Enter'); // the impatient second one
  await page.waitForTimeout(300);
  expect(await page.locator('#signed-in').isVisible()).toBe(true);
  expect(await page.evaluate(() => document.activeElement?.id)).not.toBe('logout');
  expect(((await demo.requests()) as unknown as Request[]).filter((r) => r.path.endsWith('/auth/logout'))).toEqual([]);

  const screen = await goTo(page, '对局');
  const before = ((await demo.data()).matches as unknown[]).length;
  await pasteImage(page, screenshotPng(3), '无订单.png');
  await screen.getByText('请先在上方“订单”中选择截图所属的订单，再上传。').waitFor();
  expect(await page.evaluate(() => document.activeElement?.id)).toBe(await screen.getByLabel('订单', { exact: true }).getAttribute('id'));
  expect(((await demo.data()).matches as unknown[]).length).toBe(before);
  await view.screenshot('upload-without-order');
});

it('shows times in local time, numbers grouped, names instead of ids, and sends times with the offset', { timeout: 60_000 }, async () => {
  const { page, screenshot } = await openSignedIn();
  const order = await orderNamed('王老板护航 10 局');

  let screen = await goTo(page, '订单');
  const row = screen.locator('table.list tbody tr', { hasText: '王老板护航 10 局' });
  await expect.poll(() => row.textContent()).toContain('王老板');
  expect(await row.textContent()).toContain('4 / 10');
  await row.getByRole('button', { name: '王老板护航 10 局' }).click();
  await screen.getByRole('heading', { name: '订单详情' }).waitFor();
  const known = await screen.locator('.side-area .record-view > dl').textContent();
  expect(known).not.toContain(order.id);
  expect(await screen.locator('.side-area .totals').textContent()).toMatch(/4 \/ 10.*账目4 条.*对局2 条/);

  screen = await goTo(page, '账目');
  await screen.getByLabel('订单', { exact: true }).selectOption(order.id);
  // Seeded at 2025-03-02T05:00:00Z: 13:00 in Shanghai; the adjustment reads negative.
  await expect.poll(() => screen.locator('table.list tbody').textContent()).toContain('2025-03-02 13:00');
  expect(await screen.locator('table.list tbody tr', { hasText: '老板同意抵扣一局' }).locator('td.negative').textContent()).toBe('−1');
  await screen.getByLabel('类型', { exact: true }).selectOption({ label: '进度' });
  await screen.getByLabel('数量', { exact: true }).fill('2');
  await screen.getByLabel('发生时间', { exact: true }).fill('2025-03-05T21:30');
  await screen.getByLabel('数量', { exact: true }).press('Enter');
  await screen.getByRole('heading', { name: '已添加' }).waitFor();
  const post = ((await demo.requests()) as unknown as Request[]).find((r) => r.method === 'POST' && r.path.endsWith('/entries'));
  expect(post?.json).toMatchObject({ quantity: 2, occurred_at: '2025-03-05T21:30:00+08:00', note: '' });
  // Without a note the row is captioned by its kind and time.
  await expect.poll(() => screen.locator('table.list tbody').textContent()).toContain('进度 · 2025-03-05 21:30');

  screen = await goTo(page, '对局');
  const first = screen.locator('table.list tbody tr', { hasText: '对局截图 1.png' }).or(screen.locator('table.list tbody tr', { hasText: '王者老王' }).first());
  await expect.poll(() => screen.locator('table.list tbody').textContent()).toContain('452,000（45.2 万）');
  expect(await screen.locator('table.list tbody').textContent()).toContain('王老板护航 10 局');
  expect(await screen.locator('table.list tbody').textContent()).toContain('（无订单）');
  await expect.poll(() => screen.locator('.stats').textContent()).toContain('金额合计452,000（45.2 万）');
  await first.first().getByRole('button').first().click();
  await screen.getByRole('button', { name: '编辑并确认' }).click();
  const orderField = screen.locator('.side-area').getByLabel('订单', { exact: true });
  expect(await orderField.evaluate((node) => node.tagName)).toBe('SELECT');
  expect(await orderField.locator('option:checked').textContent()).toBe('王老板护航 10 局');
  await screenshot('match-edit-order-choice');
  // Esc leaves the edit form, asking first when it holds input.
  await screen.getByLabel('备注', { exact: true }).fill('核对中');
  await screen.getByLabel('备注', { exact: true }).press('Escape');
  await page.getByRole('alertdialog', { name: '放弃修改' }).getByRole('button', { name: '放弃修改' }).click();
  await screen.getByRole('heading', { name: '对局详情' }).waitFor();
});

it('reaches every record past 500 by paging and search, with the detail in view', { timeout: 90_000 }, async () => {
  await demo.control('/__seed', { count: 600 });
  const { page, screenshot } = await openSignedIn({ width: 960, height: 640 });
  let screen = await goTo(page, '订单');
  await expect.poll(() => screen.locator('.pager').textContent()).toContain('共 604 条');
  await screen.getByLabel('每页', { exact: true }).selectOption('100');
  for (let i = 0; i < 6; i++) await screen.getByRole('button', { name: '下一页' }).click();
  await expect.poll(() => screen.locator('.pager .page-label').textContent()).toContain('第 7 / 7 页');
  expect(await screen.locator('table.list tbody tr').count()).toBe(4);
  await screen.getByRole('button', { name: '上一页' }).click();
  const far = screen.getByRole('button', { name: '批量订单 0001' });
  await far.scrollIntoViewIfNeeded();
  await far.click();
  await screen.getByRole('heading', { name: '订单详情' }).waitFor();
  const box = await screen.getByRole('heading', { name: '订单详情' }).boundingBox();
  expect(box!.y).toBeGreaterThan(0);
  expect(box!.y).toBeLessThan(640);
  await screenshot('orders-far-detail');

  await screen.getByLabel('搜索订单', { exact: true }).fill('批量老板 0577');
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(1);
  expect(await screen.locator('table.list tbody').textContent()).toContain('批量订单 0577');
  await screen.getByLabel('搜索订单', { exact: true }).fill('');
  await screen.getByLabel('订单类型', { exact: true }).selectOption({ label: '对赌' });
  await expect.poll(() => screen.locator('.pager').textContent()).toContain('共 151 条');

  screen = await goTo(page, '账目');
  await screen.getByLabel('筛选订单').fill('0001');
  const bulk = await orderNamed('批量订单 0001');
  await screen.getByLabel('订单', { exact: true }).selectOption(bulk.id);
  await screen.getByLabel('每页', { exact: true }).selectOption('100');
  await expect.poll(() => screen.locator('.pager').textContent()).toContain('共 600 条');
  for (let i = 0; i < 5; i++) await screen.getByRole('button', { name: '下一页' }).click();
  await expect.poll(() => screen.locator('table.list tbody').textContent()).toContain('批量账目 0001');
  expect(await screen.locator('.order-totals').textContent()).toContain('600 条');
});

it('names the refused field by its label, marks it and puts the focus there', { timeout: 60_000 }, async () => {
  const { page, screenshot } = await openSignedIn();
  let screen = await goTo(page, '老板');
  await screen.getByRole('button', { name: '新建老板' }).click();
  await screen.getByRole('button', { name: '创建老板' }).click();
  await screen.getByText('请填写显示名称。').waitFor();
  const name = screen.getByLabel('显示名称', { exact: true });
  expect(await name.getAttribute('aria-invalid')).toBe('true');
  expect(await name.evaluate((node) => node === document.activeElement)).toBe(true);
  await screenshot('form-field-refused');

  screen = await goTo(page, '订单');
  await screen.getByRole('button', { name: '新建订单' }).click();
  await screen.locator('.side-area').getByLabel('老板', { exact: true }).selectOption({ label: '王老板' });
  await screen.getByLabel('标题', { exact: true }).fill('零局订单');
  await screen.locator('.side-area').getByLabel('类型', { exact: true }).selectOption({ label: '单局' });
  await screen.getByLabel('目标数量', { exact: true }).fill('0');
  await screen.getByLabel('失败默认数量', { exact: true }).fill('0');
  await screen.getByLabel('备注', { exact: true }).fill('一行备注');
  await screen.getByLabel('备注', { exact: true }).press('Control+Enter');
  await screen.getByText('目标数量：数量超出允许范围。').waitFor();
  const target = screen.getByLabel('目标数量', { exact: true });
  expect(await target.evaluate((node) => node === document.activeElement && node.getAttribute('aria-invalid') === 'true')).toBe(true);
});

it('copies a list as a table and sorts it by a header', { timeout: 60_000 }, async () => {
  const { page } = await openSignedIn();
  const screen = await goTo(page, '老板');
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(3);
  await page.evaluate(() => {
    navigator.clipboard.writeText = async (text: string) => void ((window as unknown as { copied: string }).copied = text);
  });
  await screen.getByRole('columnheader', { name: '名称' }).click();
  expect(await screen.locator('table.list tbody tr td:first-child').allTextContents()).toEqual(['陈哥', '李总', '王老板']);
  await screen.getByRole('button', { name: '复制表格' }).click();
  await screen.getByText('已复制 3 行').waitFor();
  const copied = await page.evaluate(() => (window as unknown as { copied: string }).copied);
  const lines = copied.split('\r\n');
  expect(lines[0]).toBe('名称\t游戏 ID\t游戏昵称\t创建时间');
  expect(lines).toHaveLength(4);
  expect(lines[3]).toBe('王老板\twang8848\t王者老王\t2025-03-01 17:00');
});

it('tells the native side once when unsaved input starts and once when it stops, and ignores its refusal', { timeout: 60_000 }, async () => {
  view = await fixture.open({ apiUrl: demo.url('/api') });
  const { page, bridge } = view;
  const calls: unknown[] = [];
  const post = bridge.post.bind(bridge);
  bridge.post = (text: string, source?: string) => {
    const message = JSON.parse(text) as { method?: string; args?: unknown[] };
    if (message.method === 'setUnsavedInput') calls.push(message.args);
    return post(text, source);
  };
  await signIn(page, 'demo@vardeko.local', 'vardeko-demo');
  await expect.poll(() => calls).toEqual([[true], [false]]);

  let screen = await goTo(page, '老板');
  await screen.getByRole('button', { name: '新建老板' }).click();
  await screen.getByLabel('显示名称', { exact: true }).pressSequentially('赵老板', { delay: 30 });
  await expect.poll(() => calls.length).toBe(3);
  await screen.getByRole('button', { name: '创建老板' }).click();
  await screen.getByRole('heading', { name: '老板详情' }).waitFor();
  await expect.poll(() => calls.length).toBe(4);

  screen = await goTo(page, '账目');
  await screen.getByLabel('备注', { exact: true }).pressSequentially('第一局', { delay: 30 });
  await screen.getByLabel('备注', { exact: true }).pressSequentially('还没结束', { delay: 30 });
  await expect.poll(() => calls.length).toBe(5);
  await screen.getByRole('button', { name: '清空' }).click();
  await expect.poll(() => calls.length).toBe(6);
  await screen.getByLabel('备注', { exact: true }).fill('草稿');
  await expect.poll(() => calls.length).toBe(7);
  await goTo(page, '概览');
  await page.click('#logout');
  await page.waitForSelector('#signed-out', { state: 'visible' });
  await expect.poll(() => calls.length).toBe(8);
  await page.waitForTimeout(300);
  expect(calls).toEqual([[true], [false], [true], [false], [true], [false], [true], [false]]);
  // The bridge does not know the method yet: its refusal shows nowhere.
  expect(await page.locator('#banner').isHidden()).toBe(true);
});
