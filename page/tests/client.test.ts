import { resolveObjectURL } from 'node:buffer';
import { randomFillSync } from 'node:crypto';
import { afterAll, afterEach, beforeAll, describe, expect, it, vi } from 'vitest';
import type { Webview, WebviewMessageEvent } from '../src/client/channel';
import { MAX_SCREENSHOT_BYTES, VardekoClient } from '../src/client/client';
import { VardekoError } from '../src/client/errors';
import { Bridge, TestService } from '../tools/harness.mjs';

const A = '0123abcd-89AB-cdef-0123-456789abcdef';
const B = 'fedcba98-7654-3210-FEDC-ba9876543210';

type Listener = (event: WebviewMessageEvent) => void;

/** A webview that keeps what the page posts and lets the test answer. */
class FakeWebview implements Webview {
  readonly posted: { id: string; method: string; args: unknown[] }[] = [];
  private readonly listeners = new Set<Listener>();
  postMessage(message: unknown) {
    this.posted.push(JSON.parse(JSON.stringify(message)));
  }
  addEventListener(_type: 'message', listener: Listener) {
    this.listeners.add(listener);
  }
  removeEventListener(_type: 'message', listener: Listener) {
    this.listeners.delete(listener);
  }
  deliver(data: unknown) {
    for (const listener of this.listeners) listener({ data });
  }
}

/** The webview of the program, played by a real vardeko-bridge. */
class BridgeWebview extends FakeWebview {
  constructor(bridge: Bridge) {
    super();
    bridge.on('page', (message) => this.deliver(message));
    this.post = (text) => bridge.post(text);
  }
  private post: (text: string) => Promise<void>;
  override postMessage(message: unknown) {
    super.postMessage(message);
    void this.post(JSON.stringify(message));
  }
}

async function failure(promise: Promise<unknown>): Promise<VardekoError> {
  const error = await promise.then(
    () => undefined,
    (reason: unknown) => reason,
  );
  expect(error).toBeInstanceOf(VardekoError);
  return error as VardekoError;
}

describe('the channel', () => {
  afterEach(() => vi.useRealTimers());

  it('gives every request its own id and matches replies in any order', async () => {
    const webview = new FakeWebview();
    const client = new VardekoClient(webview);
    const calls = [client.health(), client.me(), client.getBoss(A), client.listOrders(B), client.appInfo()];
    const ids = webview.posted.map((message) => message.id);
    expect(new Set(ids).size).toBe(calls.length);
    expect(ids.every((id) => new TextEncoder().encode(id).length <= 128)).toBe(true);
    expect(webview.posted[2]).toMatchObject({ method: 'getBoss', args: [A] });

    // A reloaded page must not take the replies meant for the previous one.
    const reloaded = new FakeWebview();
    new VardekoClient(reloaded).health();
    expect(ids).not.toContain(reloaded.posted[0].id);

    webview.deliver({ id: 'not-ours', ok: true, data: 'stray' });
    [...webview.posted].reverse().forEach(({ id }, index) => webview.deliver({ id, ok: true, data: index }));
    expect(await Promise.all(calls)).toEqual([4, 3, 2, 1, 0]);
  });

  it('turns close-requested into a subscription', () => {
    const webview = new FakeWebview();
    const client = new VardekoClient(webview);
    const heard: string[] = [];
    const stop = client.onCloseRequested(() => heard.push('first'));
    client.onCloseRequested(() => heard.push('second'));
    webview.deliver({ event: 'close-requested' });
    stop();
    webview.deliver({ event: 'close-requested' });
    webview.deliver({ event: 'something-else' });
    expect(heard).toEqual(['first', 'second', 'second']);
  });

  it('gives up on a lost reply only after the native deadline and a margin', async () => {
    vi.useFakeTimers();
    const webview = new FakeWebview();
    const client = new VardekoClient(webview);
    const settled: string[] = [];
    const track = (name: string, promise: Promise<unknown>) =>
      promise.catch((error: VardekoError) => settled.push(`${name} ${error.code} ${error.message}`));
    track('health', client.health());
    track('recognize', client.recognizeMatch(A));

    await vi.advanceTimersByTimeAsync(15_000 + 5_000);
    expect(settled).toEqual([]);
    await vi.advanceTimersByTimeAsync(5_000);
    expect(settled).toEqual(['health NO_REPLY 程序没有回应，请稍后重试。']);
    await vi.advanceTimersByTimeAsync(100_000 + 10_000 - 25_000 - 1);
    expect(settled).toHaveLength(1);
    await vi.advanceTimersByTimeAsync(1);
    expect(settled[1]).toBe('recognize NO_REPLY 程序没有回应，请稍后重试。');

    // The reply that comes too late changes nothing.
    webview.deliver({ id: webview.posted[0].id, ok: true, data: null });
    expect(settled).toHaveLength(2);
  });

  it('fails every call with NO_HOST outside the program', async () => {
    const error = await failure(new VardekoClient(undefined).appInfo());
    expect([error.code, error.message]).toEqual(['NO_HOST', '请在 Vardeko 应用中打开此页面。']);
  });
});

describe('screenshots', () => {
  it('refuses a file the native side would refuse before reading it', async () => {
    const webview = new FakeWebview();
    const client = new VardekoClient(webview);
    const tooLarge = new File([new Uint8Array(MAX_SCREENSHOT_BYTES + 1)], 'big.png', { type: 'image/png' });
    const read = vi.spyOn(tooLarge, 'slice');
    const cases: [Promise<unknown>, string][] = [
      [client.uploadMatch(tooLarge), '请选择不超过 12 MB 的 PNG、JPEG 或 WebP 截图。'],
      [client.uploadMatch(new File([], 'empty.png', { type: 'image/png' })), '请选择不超过 12 MB 的 PNG、JPEG 或 WebP 截图。'],
      [client.uploadMatch(new File(['x'], 'a.gif', { type: 'image/gif' })), '只支持 PNG、JPEG 和 WebP 图片。'],
      [client.uploadMatch(new File(['x'], 'n'.repeat(256), { type: 'image/png' })), '截图名称或格式不正确。'],
    ];
    for (const [call, message] of cases) {
      const error = await failure(call);
      expect([error.code, error.message]).toEqual(['INVALID_IMAGE', message]);
    }
    expect(read).not.toHaveBeenCalled();
    expect(webview.posted).toEqual([]);
  });
});

describe('against vardeko-bridge and the test service', () => {
  let service: TestService;
  let bridge: Bridge;
  let webview: BridgeWebview;
  let client: VardekoClient;

  beforeAll(async () => {
    service = await TestService.start();
  });
  afterAll(() => service.stop());

  async function start() {
    await service.reset();
    bridge = new Bridge({ apiUrl: service.url('/api') });
    webview = new BridgeWebview(bridge);
    client = new VardekoClient(webview);
  }
  afterEach(async () => {
    client.dispose();
    await bridge.stop();
  });

  async function logIn() {
    await service.script({
      method: 'POST',
      path: '/api/auth/login',
      body: JSON.stringify({ token: 'tok-secret', user: { email: 'a@b.c' } }),
    });
    expect(await client.login({ email: 'a@b.c', password: 'p' })).toEqual({ email: 'a@b.c' });
  }

  it('reports native and service failures by code and message, BUSY among them', async () => {
    await start();
    await service.script(
      { method: 'GET', path: '/api/health', body: '{"status":"ok"}', delay_ms: 800 },
      { method: 'POST', path: '/api/bosses', status: 409, body: '{"error":{"code":"DUPLICATE","message":"老板已存在"}}' },
    );
    const unauthorized = await failure(client.me());
    expect([unauthorized.code, unauthorized.message]).toEqual(['UNAUTHORIZED', '请登录后继续。']);

    // Twelve slow requests fill every native slot: the thirteenth is BUSY at once, a
    // built-in method still answers, and the twelve replies reach their own callers.
    const slow = Array.from({ length: 12 }, () => client.health());
    const busy = await failure(client.health());
    expect([busy.code, busy.busy, busy.message]).toEqual(['BUSY', true, '操作较多，请稍后重试。']);
    expect((await client.appInfo()).version).toBe('0.9.4');
    expect(await Promise.all(slow)).toEqual(Array(12).fill({ status: 'ok' }));
    expect(await client.health()).toEqual({ status: 'ok' });

    await logIn();
    const duplicate = await failure(
      client.createBoss({ display_name: '老板', game_id: 'g', game_name: 'n', notes: '' }),
    );
    expect([duplicate.code, duplicate.message, duplicate.busy]).toEqual(['DUPLICATE', '老板已存在', false]);
  });

  it('refuses what the native side refuses, with its message, and sends what it accepts', async () => {
    await start();
    const astral = '𠀀'.repeat(40); // 80 UTF-16 units
    const order = { title: 't', note: '', kind: 'hourly', target_quantity: 1, failure_default_quantity: 0 };
    const match = { player_name: 'p', note: '', outcome: 'unknown', confirmed: true, amount: null, played_at: null };
    const entry = { kind: 'progress', quantity: -5, note: '', occurred_at: null, idempotency_key: B };
    const boss = { display_name: astral, game_id: 'g', game_name: 'n', notes: 'x'.repeat(4000) };
    const refused: [string, unknown[]][] = [
      ['createBoss', [{ ...boss, display_name: astral + '老' }]],
      ['createBoss', [{ ...boss, notes: 'x'.repeat(4001) }]],
      ['createBoss', [{ ...boss, game_id: 'a\u0000b' }]],
      ['createBoss', [[boss]]],
      ['updateBoss', [A.slice(1), boss]],
      ['updateBoss', [A + 'f', boss]],
      ['getBoss', [A.replace('-', 'é')]],
      ['listBosses', ['老'.repeat(201)]],
      ['createOrder', [A, { ...order, target_quantity: 0 }]],
      ['createOrder', [A, { ...order, failure_default_quantity: 1.5 }]],
      ['createOrder', [A, { ...order, failure_standard_quantity: null }]],
      ['createOrder', [A, { ...order, kind: 'Hourly' }]],
      ['createOrder', [A, { ...order, wager_item_name: null }]],
      ['createOrder', [A, { ...order, target_quantity: 1e21 }]],
      ['createOrderTemplate', [order]],
      ['updateMatch', [A, { ...match, confirmed: 1 }]],
      ['updateMatch', [A, { ...match, order_id: null }]],
      ['updateMatch', [A, { player_name: 'p' }]],
      ['addLedgerEntry', [A, { ...entry, outcome: 'unknown' }]],
      ['addLedgerEntry', [A, { ...entry, quantity: 9000000000001 }]],
      ['addLedgerEntry', [A, { ...entry, idempotency_key: 'key' }]],
      ['deleteLedgerEntry', ['bad', 'worse']],
      ['listLedgerEntries', ['bad', 0]],
      ['listCatalog', [{ q: null }]],
      ['listCatalog', [{ page_size: 0 }]],
      ['listCatalog', [{ q: 'x'.repeat(40000), extra: 'y'.repeat(100000) }]],
      ['updateMatchSettings', [{ boss_id: '' }]],
      ['login', [{ email: 'e'.repeat(321), password: 'p' }]],
      ['windowControl', ['Maximize']],
    ];
    for (const [method, args] of refused) {
      const before = webview.posted.length;
      const local = await failure((client as any)[method](...args));
      expect(webview.posted.length, method).toBe(before);
      const id = `raw-${method}-${before}`;
      const reply = new Promise<any>((resolve) => {
        const listener = (message: any) => {
          if (message.id !== id) return;
          bridge.off('page', listener);
          resolve(message);
        };
        bridge.on('page', listener);
      });
      await bridge.post(JSON.stringify({ id, method, args }));
      const native = (await reply).error;
      expect([local.code, local.message], `${method} ${JSON.stringify(args).slice(0, 80)}`).toEqual([
        native.code,
        native.message,
      ]);
    }

    const accepted: [string, unknown[]][] = [
      ['createBoss', [{ ...boss, client_ref: 'kept' }]],
      ['listBosses', ['老'.repeat(200)]],
      ['createOrder', [A, { ...order, failure_default_quantity: 0, wager_item_id: null, kind: 'wager' }]],
      ['createOrderTemplate', [{ ...order, name: '模板' }]],
      ['updateMatch', [A.toUpperCase(), { ...match, fake_amount: null, item_obtained: null }]],
      ['addLedgerEntry', [A, { ...entry, quantity: -9000000000000, outcome: 'failed' }]],
      ['listMatches', [{ page: 9007199254740991, pageSize: 100, orderId: '', confirmed: false }]],
      ['listCatalog', [{ q: '', category: '分类', page: null }]],
      ['updateMatchSettings', [{ boss_id: '', boss_player_name: 'x' }]],
      ['listLedgerEntries', [A, null, 100]],
      ['deleteLedgerEntry', [A, B]],
    ];
    for (const [method, args] of accepted) {
      const error = await failure((client as any)[method](...args));
      expect(error.code, `${method} ${error.message}`).toBe('UNAUTHORIZED'); // past every check
    }
    // Arguments left out are not sent, and records go out exactly as given.
    const sent = webview.posted.slice(-accepted.length);
    expect(sent[0].args).toEqual([{ ...boss, client_ref: 'kept' }]);
    expect(sent[6].args).toEqual([9007199254740991, 100, '', false]);
    expect(sent[9].args).toEqual([A, null, 100]);
    await client.listMatches({ confirmed: true }).catch(() => {});
    await client.listBosses().catch(() => {});
    expect(webview.posted.slice(-2).map((message) => message.args)).toEqual([[null, null, null, true], []]);
  });

  it('carries a 12 MiB screenshot byte for byte both ways', async () => {
    await start();
    await logIn();
    const image = new Uint8Array(MAX_SCREENSHOT_BYTES);
    for (let offset = 0; offset < image.length; offset += 65536) randomFillSync(image, offset, 65536);
    const base64 = Buffer.from(image).toString('base64');
    await service.script(
      { method: 'POST', path: '/api/matches', body: '{"id":"m1"}' },
      { method: 'GET', path: `/api/matches/${A}/image`, headers: { 'Content-Type': 'image/webp' }, body_base64: base64 },
    );

    const file = new File([image], '截图 1.png', { type: 'image/png' });
    expect(await client.uploadMatch(file, { orderId: A })).toEqual({ id: 'm1' });
    const upload = (await service.requests()).find((request) => request.path === '/api/matches');
    expect(upload).toBeDefined();
    const headers = Object.fromEntries(upload!.headers);
    expect([headers['Content-Type'], headers['X-File-Name'], headers['X-Order-Id']]).toEqual([
      'image/png',
      '%E6%88%AA%E5%9B%BE%201.png',
      A,
    ]);
    expect(Buffer.from(upload!.body_base64, 'base64').equals(image)).toBe(true);

    const shown = await client.matchImage(A);
    expect(shown.contentType).toBe('image/webp');
    const blob = resolveObjectURL(shown.url);
    expect(blob?.type).toBe('image/webp');
    expect(Buffer.from(await blob!.arrayBuffer()).equals(image)).toBe(true);
    URL.revokeObjectURL(shown.url);
  });
});
