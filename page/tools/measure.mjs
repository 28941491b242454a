// Measures the built page in Chromium: the gzip size of its scripts, and the time from
// navigation to usable (the "vardeko-usable" mark: controls shown and the login state
// known, which takes one service round trip). Files come from a local HTTP server, as
// the program serves them from disk, with the start document's headers.
import { createServer } from 'node:http';
import { readFileSync, readdirSync } from 'node:fs';
import { extname, join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { Bridge, DemoService, TestService, builtPage, connectPage, launchChromium, startDocumentHeaders, startUrl } from './harness.mjs';

const SIZE_BUDGET = 50 * 1024;
const TIME_BUDGET_MS = 200;
const LIST_BUDGET_MS = 50;
const SWITCH_BUDGET_MS = 100;
const SWITCHES = 20;
const BULK = 1000;
const LOADS = 15;
const LIST_RENDERS = 15;

const assets = join(builtPage, 'assets');
const scripts = readdirSync(assets).filter((name) => name.endsWith('.js'));
const gzipBytes = scripts.reduce((sum, name) => sum + gzipSync(readFileSync(join(assets, name)), { level: 9 }).length, 0);

const headers = Object.fromEntries(startDocumentHeaders().map(({ name, value }) => [name, value]));
const types = /** @type {Record<string, string>} */ ({ '.js': 'text/javascript', '.css': 'text/css' });
const server = createServer((request, response) => {
  const path = new URL(request.url ?? '/', 'http://x').pathname;
  try {
    if (path === '/index.html') {
      response.writeHead(200, headers).end(readFileSync(join(builtPage, 'index.html')));
    } else if (path.startsWith('/assets/') && !path.includes('..')) {
      response.writeHead(200, { 'Content-Type': types[extname(path)] ?? 'application/octet-stream' });
      response.end(readFileSync(join(builtPage, path)));
    } else {
      response.writeHead(404).end();
    }
  } catch {
    response.writeHead(404).end();
  }
});
server.listen(0, '127.0.0.1');
await new Promise((resolve) => server.once('listening', resolve));
const address = /** @type {import('node:net').AddressInfo} */ (server.address());

const service = await TestService.start();
await service.script({ method: 'GET', path: '/api/me', status: 401, body: '{}' });
const bridge = new Bridge({ apiUrl: service.url('/api') });
const browser = await launchChromium();
const times = [];
const paints = [];
const renders = [];
/** @type {number[]} */
const switches = [];
const visits = /** @type {Record<string, number[]>} */ ({});
try {
  const context = await browser.newContext({ viewport: { width: 1320, height: 880 } });
  const page = await context.newPage();
  await connectPage(page, bridge, { source: startUrl });
  for (let i = 0; i < LOADS; i++) {
    await page.goto(`http://127.0.0.1:${address.port}/index.html`);
    await page.waitForFunction(() => performance.getEntriesByName('vardeko-usable').length > 0);
    const [usable, paint] = await page.evaluate(() => [
      performance.getEntriesByName('vardeko-usable')[0].startTime,
      performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN,
    ]);
    times.push(usable);
    paints.push(paint);
  }

  // A list of 100 records: from its reply's arrival to the rows in the document.
  const bosses = Array.from({ length: 100 }, (_, i) => ({
    id: `${String(i).padStart(8, '0')}-89ab-cdef-0123-456789abcdef`,
    display_name: `老板 ${i}`,
    game_id: `game-${i}`,
    game_name: `游戏昵称 ${i}`,
    notes: '常客，夜场。'.repeat(3),
    created_at: '2025-03-01T09:00:00Z',
  }));
  await service.script(
    { method: 'POST', path: '/api/auth/login', body: JSON.stringify({ token: 'measure-token', user: { id: 1 } }) },
    { method: 'GET', path: '/api/me', body: JSON.stringify({ id: 1, email: 'measure@vardeko.local' }) },
    { method: 'GET', path: '/api/bosses?q=', body: JSON.stringify(bosses) },
  );
  await page.fill('#login-email', 'measure@vardeko.local');
  await page.fill('#login-password', 'measure');
  await page.press('#login-password', 'Enter');
  await page.waitForSelector('#signed-in', { state: 'visible' });
  for (let i = 0; i < LIST_RENDERS; i++) {
    await page.click('#nav button[data-screen="overview"]');
    await page.click('#nav button[data-screen="bosses"]');
    await page.waitForFunction((count) => performance.getEntriesByName('vardeko-list-render').length > count, i);
  }
  renders.push(...(await page.evaluate(() => performance.getEntriesByName('vardeko-list-render').map((entry) => entry.duration))));
  await context.close();
  await measureSwitches();
} finally {
  await browser.close();
  await bridge.stop();
  service.stop();
  server.close();
}

/**
 * Screen switches with 1000 bosses, orders, entries and matches in the demo service: from the
 * navigation click to the new screen's rows in the document (its list's render mark).
 */
async function measureSwitches() {
  const demo = await DemoService.start(['--bulk', String(BULK)]);
  const demoBridge = new Bridge({ apiUrl: demo.url('/api') });
  try {
    const context = await browser.newContext({ viewport: { width: 1320, height: 880 } });
    const page = await context.newPage();
    await connectPage(page, demoBridge, { source: startUrl });
    await page.goto(`http://127.0.0.1:${address.port}/index.html`);
    await page.waitForSelector('#login-email:focus');
    await page.fill('#login-email', 'demo@vardeko.local');
    await page.fill('#login-password', 'vardeko-demo');
    await page.press('#login-password', 'Enter');
    await page.waitForSelector('#signed-in', { state: 'visible' });
    const visit = (/** @type {string} */ screen) =>
      page.evaluate(async (screen) => {
        const before = performance.getEntriesByName('vardeko-list-render').length;
        const start = performance.now();
        /** @type {HTMLButtonElement} */ (document.querySelector(`#nav button[data-screen="${screen}"]`)).click();
        for (;;) {
          const marks = performance.getEntriesByName('vardeko-list-render');
          if (marks.length > before) {
            const last = marks[marks.length - 1];
            return last.startTime + last.duration - start;
          }
          await new Promise((resolve) => setTimeout(resolve, 1));
        }
      }, screen);
    // The ledger shows the order with 1000 entries; the matches screen all 1000 matches.
    await page.click('#nav button[data-screen="ledger"]');
    await page.waitForSelector('#screens section:not([hidden]) option:text-matches("^批量订单 0001")', { state: 'attached' });
    const bulkOrder = await page.evaluate(() => {
      const option = [...document.querySelectorAll('#screens section:not([hidden]) select option')].find((o) => o.textContent?.startsWith('批量订单 0001'));
      return /** @type {HTMLOptionElement | undefined} */ (option)?.value;
    });
    if (bulkOrder) {
      await page.selectOption('#screens section:not([hidden]) .tools select >> nth=0', bulkOrder);
      await page.waitForFunction(() => document.querySelectorAll('#screens section:not([hidden]) table.list tbody tr').length >= 20);
    }
    await visit('matches');
    for (let i = 0; i < SWITCHES; i++) {
      switches.push(await visit(i % 2 === 0 ? 'ledger' : 'matches'));
    }
    for (const screen of ['orders', 'bosses']) {
      visits[screen] = [];
      for (let i = 0; i < 5; i++) {
        await page.click('#nav button[data-screen="overview"]');
        visits[screen].push(await visit(screen));
      }
    }
    await context.close();
  } finally {
    await demoBridge.stop();
    demo.stop();
  }
}

// The first load starts the renderer and reads the files cold; the rest are what a user sees.
const warm = times.slice(1).sort((a, b) => a - b);
const median = warm[Math.floor(warm.length / 2)];
const paintMedian = paints.slice(1).sort((a, b) => a - b)[Math.floor(warm.length / 2)];
console.log(`scripts: ${scripts.length} file(s), ${(gzipBytes / 1024).toFixed(1)} KiB gzip (budget 50 KiB)`);
console.log(
  `navigation to usable: first ${times[0].toFixed(0)} ms, then median ${median.toFixed(0)} ms, ` +
    `max ${warm[warm.length - 1].toFixed(0)} ms over ${warm.length} loads (budget ${TIME_BUDGET_MS} ms); ` +
    `first paint median ${paintMedian.toFixed(0)} ms`,
);
const sortedRenders = [...renders].sort((a, b) => a - b);
const renderMedian = sortedRenders[Math.floor(sortedRenders.length / 2)];
console.log(
  `list of 100 records rendered: median ${renderMedian.toFixed(1)} ms, max ${sortedRenders.at(-1)?.toFixed(1)} ms ` +
    `over ${renders.length} renders (budget ${LIST_BUDGET_MS} ms)`,
);
const middle = (/** @type {number[]} */ values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const switchMedian = middle(switches);
console.log(
  `screen switch to rows shown (账目 and 对局, ${BULK} records in the demo service): median ${switchMedian.toFixed(1)} ms, ` +
    `max ${Math.max(...switches).toFixed(1)} ms over ${switches.length} switches (budget ${SWITCH_BUDGET_MS} ms); ` +
    Object.entries(visits)
      .map(([screen, times]) => `${screen === 'orders' ? '订单 (orders kept from this sign-in)' : '老板 (read on each visit)'} median ${middle(times).toFixed(0)} ms`)
      .join(', '),
);
if (gzipBytes > SIZE_BUDGET) process.exitCode = 1;
if (!(switchMedian <= SWITCH_BUDGET_MS)) {
  console.log('a screen switch is over budget');
  process.exitCode = 1;
}
if (median > TIME_BUDGET_MS) console.log('navigation to usable is over budget');
if (!(renderMedian <= LIST_BUDGET_MS)) {
  console.log('rendering a list of 100 records is over budget');
  process.exitCode = 1;
}
