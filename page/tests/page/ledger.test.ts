// A working day on the ledger screens, against the demo service, driven by visible labels.
import { afterAll, beforeAll, expect, it } from 'vitest';
import { DemoService } from '../../tools/harness.mjs';
import { PageFixture, type OpenPage } from './fixture';
import { dropImage, goTo, pasteImage, screenshotPng, shown, signIn } from './screens';

const fixture = new PageFixture();
let demo: DemoService;

beforeAll(async () => {
  demo = await DemoService.start();
  await fixture.start();
});
afterAll(async () => {
  await fixture.stop();
  demo?.stop();
});

type Entry = { id: string; order_id: string; idempotency_key: string; note: string; quantity: number };
type Match = { id: string; order_id: string | null; confirmed: boolean; recognized: boolean; file_name: string };

const entriesOf = async (orderId: string) =>
  ((await demo.data()).entries as Entry[]).filter((entry) => entry.order_id === orderId);

it('runs a working day: boss, order from a template, entries with a retried TIMEOUT, matches, settings, catalog', { timeout: 110_000 }, async () => {
  const view: OpenPage = await fixture.open({ apiUrl: demo.url('/api') });
  const { page } = view;
  const pageErrors: string[] = [];
  page.on('pageerror', (error) => pageErrors.push(error.message));
  await signIn(page, 'demo@vardeko.local', 'vardeko-demo');

  // A new boss.
  let screen = await goTo(page, '老板');
  await screen.getByRole('button', { name: '新建老板' }).click();
  await screen.getByLabel('显示名称', { exact: true }).fill('赵老板');
  await screen.getByLabel('游戏 ID', { exact: true }).fill('zhao_9527');
  await screen.getByLabel('游戏昵称', { exact: true }).fill('赵家少爷');
  await screen.getByLabel('备注', { exact: true }).fill('朋友介绍，周末打。');
  await screen.getByRole('button', { name: '创建老板' }).click();
  await screen.getByRole('heading', { name: '老板详情' }).waitFor();
  await expect.poll(() => screen.locator('table.list').textContent()).toContain('赵老板');
  await view.screenshot('bosses');
  const boss = ((await demo.data()).bosses as { id: string; display_name: string }[]).find((b) => b.display_name === '赵老板')!;
  expect(boss).toBeDefined();

  // Its first order, from the escort template.
  await screen.getByRole('button', { name: '为此老板新建订单' }).click();
  screen = shown(page);
  await screen.getByRole('heading', { name: '新建订单' }).waitFor();
  await expect.poll(() => screen.getByLabel('老板', { exact: true }).last().inputValue()).toBe(boss.id);
  await screen.getByLabel('从模板填写', { exact: true }).selectOption({ label: '护航 10 局' });
  expect(await screen.getByLabel('标题', { exact: true }).inputValue()).toBe('护航 10 局');
  expect(await screen.getByLabel('失败判定', { exact: true }).inputValue()).toBe('failed');
  await screen.getByLabel('标题', { exact: true }).fill('赵老板护航 10 局');
  await view.screenshot('order-from-template');
  await screen.getByRole('button', { name: '创建订单' }).click();
  await screen.getByRole('heading', { name: '订单详情' }).waitFor();
  const order = ((await demo.data()).orders as Record<string, unknown>[]).find((o) => o.title === '赵老板护航 10 局')!;
  expect(order).toMatchObject({ boss_id: boss.id, kind: 'escort', target_quantity: 10, failure_trigger: 'failed', failure_mode: 'fixed' });
  // Only what the operator chose was sent: no wager members for an escort order.
  expect(Object.keys(order).filter((name) => name.startsWith('wager_'))).toEqual([]);
  const orderId = order.id as string;

  // Three ledger entries; the service answers the second one only after the native deadline.
  await screen.getByRole('button', { name: '账目' }).click();
  screen = await goTo(page, '账目');
  expect(await screen.getByLabel('订单', { exact: true }).inputValue()).toBe(orderId);
  const addEntry = async (kind: string, quantity: string, note: string) => {
    await screen.getByLabel('类型', { exact: true }).selectOption({ label: kind });
    await screen.getByLabel('数量', { exact: true }).fill(quantity);
    await screen.getByLabel('备注', { exact: true }).fill(note);
    await screen.getByRole('button', { name: '添加账目' }).click();
  };
  await addEntry('进度', '3', '第一晚三局');
  await screen.getByRole('heading', { name: '已添加' }).waitFor();
  // A run of similar entries: the kind stays, quantity and note clear, the quantity has the keyboard.
  expect(await screen.getByLabel('类型', { exact: true }).inputValue()).toBe('progress');
  expect(await screen.getByLabel('备注', { exact: true }).inputValue()).toBe('');
  expect(await page.evaluate(() => (document.activeElement as HTMLInputElement | null)?.name)).toBe('quantity');
  await page.locator('.notice', { hasText: '已添加账目：进度 3（赵老板护航 10 局）' }).waitFor();
  await demo.next({ path: `/orders/${orderId}/entries`, method: 'POST', delay_ms: 16_000 });
  await addEntry('失败', '1', '第四局被淘汰');
  await expect
    .poll(() => screen.locator('.record-form .form-message').textContent(), { timeout: 25_000 })
    .toContain('连接超时，请稍后重试。');
  expect(await screen.getByLabel('备注', { exact: true }).inputValue()).toBe('第四局被淘汰');
  // The uncertain state is plain: the previous entry's panel is gone.
  await screen.getByRole('heading', { name: '不确定是否已记入' }).waitFor();
  expect(await screen.getByRole('heading', { name: '已添加' }).count()).toBe(0);
  await view.screenshot('ledger-timed-out');
  // The service booked it while the page waited; the retry carries the same key.
  await screen.getByRole('button', { name: '添加账目' }).click();
  await expect.poll(async () => (await screen.getByLabel('备注', { exact: true }).inputValue()) === '').toBe(true);
  await screen.getByRole('heading', { name: '已记入（只记一次）' }).waitFor();
  // The list is read after the retry's answer: the late booking shows without another action.
  await expect.poll(() => screen.locator('table.list tbody').textContent()).toContain('第四局被淘汰');
  await addEntry('调整', '-1', '老板同意抵扣一局');
  await expect.poll(async () => (await screen.getByLabel('备注', { exact: true }).inputValue()) === '').toBe(true);
  const entries = await entriesOf(orderId);
  expect(entries.map((entry) => entry.note).sort()).toEqual(['老板同意抵扣一局', '第一晚三局', '第四局被淘汰'].sort());
  expect(new Set(entries.map((entry) => entry.idempotency_key)).size).toBe(3);
  const posts = ((await demo.requests()) as unknown as { method: string; path: string; json: { idempotency_key?: string; note?: string } }[])
    .filter((request) => request.method === 'POST' && request.path.endsWith(`/orders/${orderId}/entries`));
  const failedTwice = posts.filter((request) => request.json.note === '第四局被淘汰');
  expect(failedTwice).toHaveLength(2);
  expect(failedTwice[0].json.idempotency_key).toBe(failedTwice[1].json.idempotency_key);
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(3);
  // The order's totals above its entries; a negative adjustment reads negative.
  await expect.poll(() => screen.locator('.order-totals').textContent()).toContain('2 / 10');
  expect(await screen.locator('table.list tbody tr', { hasText: '老板同意抵扣一局' }).locator('td.negative').textContent()).toBe('−1');
  await view.screenshot('ledger');

  // Delete one after confirming.
  const row = screen.locator('table.list tbody tr', { hasText: '老板同意抵扣一局' });
  await row.getByRole('button', { name: '删除' }).click();
  await page.getByRole('alertdialog').getByRole('button', { name: '取消' }).click();
  expect(await entriesOf(orderId)).toHaveLength(3);
  await row.getByRole('button', { name: '删除' }).click();
  await view.screenshot('ledger-delete-confirmation');
  await page.getByRole('alertdialog').getByRole('button', { name: '删除' }).click();
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(2);
  expect((await entriesOf(orderId)).map((entry) => entry.note).sort()).toEqual(['第一晚三局', '第四局被淘汰'].sort());
  await expect.poll(() => screen.locator('.order-totals').textContent()).toContain('3 / 10');

  // Matches of this order: one screenshot pasted, one dropped.
  screen = await goTo(page, '对局');
  await screen.getByLabel('订单', { exact: true }).selectOption(orderId);
  await screen.getByText('没有符合条件的对局。').waitFor();
  await pasteImage(page, screenshotPng(1), '截图 1.png');
  await screen.getByText('已上传 截图 1.png。').waitFor();
  await dropImage(screen.locator('.drop-zone'), screenshotPng(2), '截图 2.png');
  await screen.getByText('已上传 截图 2.png。').waitFor();
  // A file of another type is refused before it is read.
  await dropImage(screen.locator('.drop-zone'), Buffer.from('GIF89a'), 'x.gif', 'image/gif');
  await screen.getByText('只支持 PNG、JPEG 和 WebP 图片。').waitFor();
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(2);
  const uploaded = ((await demo.data()).matches as Match[]).filter((match) => match.order_id === orderId);
  expect(uploaded.map((match) => match.file_name).sort()).toEqual(['截图 1.png', '截图 2.png']);

  // Recognise the dropped one, with a visible wait, then edit and confirm it.
  await screen.locator('table.list').getByRole('button', { name: '截图 2.png' }).click();
  await screen.getByRole('img', { name: '对局截图' }).waitFor();
  await demo.next({ path: `/matches/${uploaded.find((m) => m.file_name === '截图 2.png')!.id}/recognize`, delay_ms: 1500 });
  await screen.getByRole('button', { name: '识别' }).click();
  await screen.getByRole('status').filter({ hasText: '正在识别' }).waitFor();
  expect(await screen.getByRole('status').textContent()).toContain('最长 100 秒');
  await view.screenshot('match-recognizing');
  await screen.getByRole('button', { name: '识别' }).and(page.locator(':enabled')).waitFor({ timeout: 20_000 });
  await screen.getByRole('button', { name: '编辑并确认' }).click();
  const playerName = await screen.getByLabel('玩家名称', { exact: true }).inputValue();
  expect(playerName).not.toBe(''); // filled in by the recognition
  await screen.getByLabel('已确认', { exact: true }).check();
  await screen.getByLabel('备注', { exact: true }).fill('老板确认无误');
  await view.screenshot('match-edit');
  await screen.getByRole('button', { name: '保存', exact: true }).click();
  await screen.getByRole('heading', { name: '对局详情' }).waitFor();
  const confirmedMatch = ((await demo.data()).matches as Match[]).find((m) => m.file_name === '截图 2.png')!;
  expect(confirmedMatch).toMatchObject({ confirmed: true, recognized: true });

  // Filter by confirmation within the order, and read the stats.
  await screen.getByLabel('确认状态', { exact: true }).selectOption({ label: '已确认' });
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(1);
  const stats = screen.locator('.stats');
  await expect.poll(() => stats.textContent()).toMatch(/对局总数2已确认1未确认1/);
  const statsRequest = ((await demo.requests()) as unknown as { path: string }[]).filter((r) => r.path.includes('/matches/stats')).at(-1);
  expect(statsRequest?.path).toContain(`order_id=${orderId}`);
  await view.screenshot('matches');

  // Match settings.
  screen = await goTo(page, '对局设置');
  await expect.poll(() => screen.getByLabel('老板玩家名', { exact: true }).inputValue()).toBe('王者老王');
  await screen.getByLabel('老板玩家名', { exact: true }).fill('赵家少爷');
  await screen.getByRole('button', { name: '保存设置' }).click();
  await screen.getByText('设置已保存。').waitFor();
  expect((await demo.data()).settings).toMatchObject({ boss_id: 'wang8848', boss_player_name: '赵家少爷' });
  await view.screenshot('settings');

  // The catalog, searched as the operator types (one request for the whole word).
  screen = await goTo(page, '物品目录');
  await screen.locator('table.list tbody tr').first().waitFor();
  await demo.requests();
  await screen.getByLabel('搜索物品', { exact: true }).pressSequentially('金条', { delay: 60 });
  await screen.getByLabel('类别', { exact: true }).selectOption('物资');
  await expect.poll(() => screen.locator('table.list tbody tr').count()).toBe(5);
  const searches = ((await demo.requests()) as unknown as { path: string }[]).filter((r) => r.path.includes('/catalog/items'));
  expect(searches.length).toBeLessThanOrEqual(2);
  expect(searches.at(-1)!.path).toContain(`q=${encodeURIComponent('金条')}&category=${encodeURIComponent('物资')}`);
  await view.screenshot('catalog');

  // A wager item picked from the catalog for the order.
  screen = await goTo(page, '订单');
  await screen.locator('table.list').getByRole('button', { name: '赵老板护航 10 局' }).click();
  await screen.getByRole('button', { name: '编辑' }).click();
  await screen.getByLabel('类型', { exact: true }).selectOption({ label: '对赌' });
  await screen.getByRole('button', { name: '从物品目录选择对赌物品' }).click();
  const picker = page.getByRole('dialog', { name: '从物品目录选择' });
  await picker.getByLabel('搜索物品', { exact: true }).fill('史诗显卡');
  await expect.poll(() => picker.locator('table.list tbody tr').count()).toBe(1);
  await view.screenshot('catalog-pick');
  await picker.getByRole('button', { name: '选择' }).click();
  expect(await screen.getByLabel('对赌物品', { exact: true }).inputValue()).toBe('史诗显卡');
  await screen.getByLabel('对赌条件', { exact: true }).selectOption({ label: '带出才算' });
  await screen.getByRole('button', { name: '保存修改' }).click();
  await screen.getByRole('heading', { name: '订单详情' }).waitFor();
  const wagered = ((await demo.data()).orders as Record<string, unknown>[]).find((o) => o.id === orderId)!;
  expect(wagered).toMatchObject({ kind: 'wager', wager_item_name: '史诗显卡', wager_condition: 'extracted' });
  expect(wagered.wager_item_id).toMatch(/^item-\d{4}$/);

  // Every screen at both sizes, then sign out.
  for (const size of [
    { width: 1320, height: 880 },
    { width: 960, height: 640 },
    { width: 900, height: 560 },
    { width: 800, height: 600 },
  ]) {
    await page.setViewportSize(size);
    for (const [label, name] of [
      ['概览', 'screen-overview'],
      ['老板', 'screen-bosses'],
      ['订单', 'screen-orders'],
      ['订单模板', 'screen-templates'],
      ['账目', 'screen-ledger'],
      ['对局', 'screen-matches'],
      ['对局设置', 'screen-settings'],
      ['物品目录', 'screen-catalog'],
    ]) {
      const current = await goTo(page, label);
      await current.locator('[aria-busy]').first().waitFor({ state: 'detached' }).catch(() => {});
      await page.waitForTimeout(150);
      // Nothing sticks out sideways: the screen fits the window's width.
      expect(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth)).toBe(true);
      // Every action button of the screen's header is inside the window.
      const outside = await current.locator('.screen-head button, .form-buttons button, .row-buttons button, .pager button').evaluateAll((buttons) =>
        buttons.filter((b) => b.getBoundingClientRect().right > window.innerWidth).map((b) => b.textContent),
      );
      expect(outside, `${label} at ${size.width}`).toEqual([]);
      await view.screenshot(name);
    }
  }
  await page.locator('#nav').getByRole('button', { name: '概览' }).click();
  await page.click('#logout');
  await page.waitForSelector('#signed-out', { state: 'visible' });
  expect(await page.locator('#nav').isHidden()).toBe(true);

  expect(pageErrors).toEqual([]);
  expect(await view.violations()).toEqual([]);
  await view.close();
});

it('asks the close question exactly while a form on any screen holds input', { timeout: 90_000 }, async () => {
  await demo.control('/__reset', {});
  const view = await fixture.open({ apiUrl: demo.url('/api') });
  const { page, bridge } = view;
  await signIn(page, 'demo@vardeko.local', 'vardeko-demo');
  const dialog = page.locator('#close-dialog');

  const asks = async (name: string) => {
    bridge.requestClose();
    await dialog.waitFor({ state: 'visible' });
    if (name) await view.screenshot(name);
    await page.keyboard.press('Escape');
    await dialog.waitFor({ state: 'hidden' });
  };

  const forms: [string, string | null, string][] = [
    ['老板', '新建老板', '显示名称'],
    ['订单', '新建订单', '标题'],
    ['订单模板', '新建模板', '模板名称'],
    ['账目', null, '备注'],
    ['对局设置', null, '老板玩家名'],
  ];
  for (const [label, opener, field] of forms) {
    const screen = await goTo(page, label);
    if (opener) await screen.getByRole('button', { name: opener }).click();
    const input = screen.getByLabel(field, { exact: true });
    await expect.poll(() => input.isEditable()).toBe(true);
    const before = await input.inputValue();
    await input.fill(`${before}甲`);
    await asks(label === '老板' ? 'close-question-form' : '');
    // The input is still there after the question; taking it back leaves nothing unsaved.
    expect(await input.inputValue()).toBe(`${before}甲`);
    await input.fill(before);
  }

  // A match being edited counts too, and a saved form no longer does.
  const matches = await goTo(page, '对局');
  await matches.locator('table.list tbody tr button.link').first().click();
  await matches.getByRole('button', { name: '编辑并确认' }).click();
  await matches.getByLabel('备注', { exact: true }).fill('核对中');
  await asks('');
  await matches.getByRole('button', { name: '保存', exact: true }).click();
  await matches.getByRole('heading', { name: '对局详情' }).waitFor();

  // Typing into a search is not a form's input: nothing is asked and the window closes.
  const catalog = await goTo(page, '物品目录');
  await catalog.getByLabel('搜索物品', { exact: true }).fill('金条');
  const bosses = await goTo(page, '老板');
  await bosses.getByLabel('搜索老板', { exact: true }).fill('王');
  bridge.requestClose();
  expect(await bridge.exited).toBe(0);
  expect(bridge.windowActions).toEqual(['close']);
  expect(await dialog.isVisible().catch(() => false)).toBe(false);
  await view.close();
});
