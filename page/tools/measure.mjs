// Measures the built page in Chromium: the gzip size of its scripts, and the time from
// navigation to usable (the "vardeko-usable" mark: controls shown and the login state
// known, which takes one service round trip). Files come from a local HTTP server, as
// the program serves them from disk, with the start document's headers.
import { createServer } from 'node:http';
import { readFileSync, readdirSync } from 'node:fs';
import { extname, join } from 'node:path';
import { gzipSync } from 'node:zlib';
import { Bridge, TestService, builtPage, connectPage, launchChromium, startDocumentHeaders, startUrl } from './harness.mjs';

const SIZE_BUDGET = 50 * 1024;
const TIME_BUDGET_MS = 200;
const LIST_BUDGET_MS = 50;
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
} finally {
  await browser.close();
  await bridge.stop();
  service.stop();
  server.close();
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
if (gzipBytes > SIZE_BUDGET) process.exitCode = 1;
if (median > TIME_BUDGET_MS) console.log('navigation to usable is over budget');
if (!(renderMedian <= LIST_BUDGET_MS)) {
  console.log('rendering a list of 100 records is over budget');
  process.exitCode = 1;
}
