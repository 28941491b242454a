import { createServer } from 'node:net';
import { afterAll, afterEach, beforeAll, beforeEach, describe, expect, it } from 'vitest';
import { PageFixture, type OpenPage } from './fixture';

const fixture = new PageFixture();
let opened: OpenPage[] = [];

beforeAll(() => fixture.start());
afterAll(() => fixture.stop());
beforeEach(async () => {
  await fixture.service.reset();
  await fixture.service.script({ method: 'GET', path: '/api/health', body: '{"status":"ok"}' });
});
afterEach(async () => {
  // Whatever a test did, the page stayed within its policy.
  for (const { page, violations, close } of opened) {
    if (!page.isClosed()) expect(await violations()).toEqual([]);
    await close();
  }
  opened = [];
});

async function open(options?: Parameters<PageFixture['open']>[0]) {
  const view = await fixture.open(options);
  opened.push(view);
  return view;
}

const USER = { id: 7, email: 'wang@example.cn', display_name: '小王', created_at: '2024-05-01' };

describe('the page', () => {
  it('shows application information and service health, and fits the smallest window', async () => {
    const { page, screenshot } = await open();
    await expect.poll(() => page.textContent('#health-text')).toBe('服务正常');
    expect(await page.textContent('#info-version')).toBe('0.9.4');
    expect(await page.textContent('#info-api')).toBe(fixture.service.url('/api'));
    expect(await page.textContent('#info-session')).toBe('已加密保存在本机');
    expect(await page.textContent('#info-runtime')).toBe('WebView2');
    // Nobody is signed in: the sign-in form has the keyboard.
    expect(await page.evaluate(() => document.activeElement?.id)).toBe('login-email');
    await screenshot('signed-out');

    await page.setViewportSize({ width: 960, height: 640 });
    const overflow = await page.evaluate(() => {
      const content = document.querySelector('.content')!;
      return { wide: content.scrollWidth > content.clientWidth, tall: content.scrollHeight > content.clientHeight };
    });
    expect(overflow).toEqual({ wide: false, tall: false });
    await screenshot('signed-out');
  });

  it('signs in after a refusal with the input kept, shows the user from me, keeps the token out, signs out', async () => {
    const { page, bridge, screenshot } = await open();
    await fixture.service.script({
      method: 'POST',
      path: '/api/auth/login',
      status: 401,
      body: JSON.stringify({ error: { code: 'INVALID_CREDENTIALS', message: '邮箱或密码不正确' } }),
    });
    await page.waitForSelector('#login-email:focus');
    await page.keyboard.type(USER.email);
    await page.keyboard.press('Tab');
    await page.keyboard.type('wrong-密码');
    await page.keyboard.press('Enter');
    await expect.poll(() => page.textContent('#login-message')).toBe('邮箱或密码不正确');
    expect([await page.inputValue('#login-email'), await page.inputValue('#login-password')]).toEqual([
      USER.email,
      'wrong-密码',
    ]);
    await screenshot('sign-in-refused');

    const token = 'tok-7f3a9c1e-never-in-the-page';
    await fixture.service.script(
      { method: 'POST', path: '/api/auth/login', body: JSON.stringify({ token, user: { id: 7 } }) },
      { method: 'GET', path: '/api/me', body: JSON.stringify(USER) },
      { method: 'POST', path: '/api/auth/logout', status: 204 },
    );
    await page.fill('#login-password', 'right-密码');
    await page.keyboard.press('Enter');
    await page.waitForSelector('#signed-in', { state: 'visible' });
    expect(await page.textContent('#user-name')).toBe('小王');
    // The native side passes the user on with its members in name order.
    expect(await page.locator('#user-details dt').allTextContents()).toEqual(['注册时间', '显示名称', '邮箱', '编号']);
    expect(await page.locator('#user-details dd').allTextContents()).toEqual(['2024-05-01', '小王', USER.email, '7']);
    await screenshot('signed-in');

    const requests = await fixture.service.requests();
    const login = requests.filter((request) => request.path === '/api/auth/login');
    expect(JSON.parse(Buffer.from(login[1].body_base64, 'base64').toString())).toEqual({
      email: USER.email,
      password: 'right-密码',
    });
    const me = requests.find((request) => request.path === '/api/me' && request.headers.some(([name]) => name === 'Authorization'));
    expect(Object.fromEntries(me!.headers).Authorization).toBe(`Bearer ${token}`);
    expect(JSON.stringify(bridge.pageMessages)).not.toContain(token);
    expect(await page.content()).not.toContain(token);
    expect([await page.inputValue('#login-email'), await page.inputValue('#login-password')]).toEqual(['', '']);

    await page.click('#logout');
    await page.waitForSelector('#signed-out', { state: 'visible' });
    const logout = (await fixture.service.requests()).find((request) => request.path === '/api/auth/logout');
    expect(Object.fromEntries(logout!.headers).Authorization).toBe(`Bearer ${token}`);
    // The native side forgot the login: a reload starts signed out.
    await page.reload();
    await page.waitForSelector('#login-email:focus');
    expect(await page.textContent('#login-message')).toBe('');
  });

  it('registers from the keyboard, checking the repeated password first', async () => {
    const { page, screenshot } = await open();
    await fixture.service.script(
      { method: 'POST', path: '/api/auth/register', body: JSON.stringify({ token: 'tok-r', user: USER }) },
      { method: 'GET', path: '/api/me', body: JSON.stringify(USER) },
    );
    await page.waitForSelector('#login-email:focus');
    await page.focus('#tab-login');
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('Tab');
    expect(await page.evaluate(() => document.activeElement?.id)).toBe('register-email');
    await page.keyboard.type(USER.email);
    await page.keyboard.press('Tab');
    await page.keyboard.type('密码-1');
    await page.keyboard.press('Tab');
    await page.keyboard.type('密码-2');
    await page.keyboard.press('Enter');
    expect(await page.textContent('#register-message')).toBe('两次输入的密码不一致。');
    await screenshot('register-passwords-differ');
    await page.fill('#register-confirm', '密码-1');
    await page.keyboard.press('Enter');
    await page.waitForSelector('#signed-in', { state: 'visible' });
    const register = (await fixture.service.requests()).filter((request) => request.path === '/api/auth/register');
    expect(register).toHaveLength(1);
    expect(JSON.parse(Buffer.from(register[0].body_base64, 'base64').toString())).toEqual({
      email: USER.email,
      password: '密码-1',
    });
  });

  it('moves, sizes and closes the window from its title bar; the buttons start no drag', async () => {
    const { page, bridge } = await open();
    await page.waitForSelector('#login-email:focus');
    await page.click('#window-minimize');
    await page.click('#window-maximize');
    await page.click('#window-maximize');
    await bridge.waitForWindow((actions) => actions.length === 3);

    const area = (await page.locator('#drag-area').boundingBox())!;
    await page.mouse.move(area.x + area.width / 2, area.y + area.height / 2);
    await page.mouse.down();
    await page.mouse.up();
    await bridge.waitForWindow((actions) => actions.length === 4);
    await page.dblclick('#drag-area', { position: { x: area.width / 2, y: area.height / 2 } });
    await bridge.waitForWindow((actions) => actions.length === 6);

    // A press on a button that is released elsewhere: neither a drag nor the button's action.
    for (const id of ['#window-minimize', '#window-maximize', '#window-close']) {
      const button = (await page.locator(id).boundingBox())!;
      await page.mouse.move(button.x + button.width / 2, button.y + button.height / 2);
      await page.mouse.down();
      await page.mouse.move(button.x + button.width / 2, 300);
      await page.mouse.up();
    }
    await page.waitForTimeout(200);
    expect(bridge.windowActions).toEqual(['minimize', 'maximize', 'restore', 'drag', 'drag', 'maximize']);

    await page.click('#window-close'); // nothing typed: closes without asking
    expect(await bridge.exited).toBe(0);
    expect(bridge.windowActions.at(-1)).toBe('close');
  });

  it('closes at once on close-requested without unsaved input, and asks when a form holds some', async () => {
    const quiet = await open();
    await quiet.page.waitForSelector('#login-email:focus');
    quiet.bridge.requestClose();
    expect(await quiet.bridge.exited).toBe(0);
    expect(quiet.bridge.windowActions).toEqual(['close']);

    const { page, bridge, screenshot } = await open();
    await page.waitForSelector('#login-email:focus');
    await page.keyboard.type('half@typed');
    bridge.requestClose();
    await page.waitForSelector('#close-dialog', { state: 'visible' });
    expect(await page.evaluate(() => document.activeElement?.id)).toBe('close-cancel');
    await screenshot('close-confirmation');
    await page.keyboard.press('Escape');
    await page.waitForSelector('#close-dialog', { state: 'hidden' });
    expect(await page.evaluate(() => document.activeElement?.id)).toBe('login-email');
    expect(await page.inputValue('#login-email')).toBe('half@typed');

    await page.click('#window-close');
    await page.click('#close-cancel');
    await page.waitForSelector('#close-dialog', { state: 'hidden' });
    expect(bridge.windowActions).toEqual([]);

    bridge.requestClose();
    await page.click('#close-confirm');
    expect(await bridge.exited).toBe(0);
    expect(bridge.windowActions).toEqual(['close']);
  });

  it('shows NETWORK_ERROR and TIMEOUT as messages', async () => {
    const port = await new Promise<number>((resolve) => {
      const server = createServer().listen(0, '127.0.0.1', () => {
        const { port } = server.address() as { port: number };
        server.close(() => resolve(port));
      });
    });
    const offline = await open({ apiUrl: `http://127.0.0.1:${port}/api` });
    const unreachable = '无法连接服务，请检查网络并确认后端已启动。';
    await expect.poll(() => offline.page.textContent('#health-text')).toBe(unreachable);
    await offline.page.waitForSelector('#login-email:focus');
    await offline.page.keyboard.type(USER.email);
    await offline.page.fill('#login-password', 'p');
    await offline.page.keyboard.press('Enter');
    await expect.poll(() => offline.page.textContent('#login-message')).toBe(unreachable);
    await offline.screenshot('service-unreachable');
    await offline.close();
    opened = opened.filter((view) => view !== offline);

    const { page, screenshot } = await open();
    await fixture.service.script({ method: 'POST', path: '/api/auth/login', delay_ms: 20_000, body: '{}' });
    await page.waitForSelector('#login-email:focus');
    await page.keyboard.type(USER.email);
    await page.fill('#login-password', 'p');
    await page.keyboard.press('Enter');
    await expect.poll(() => page.textContent('#login-submit')).toBe('正在登录…');
    await screenshot('signing-in');
    await page.waitForFunction(() => document.getElementById('login-message')?.textContent !== '', null, {
      timeout: 25_000,
    });
    expect(await page.textContent('#login-message')).toBe('连接超时，请稍后重试。');
    await screenshot('sign-in-timed-out');
    expect(await page.inputValue('#login-email')).toBe(USER.email);
  });
});
