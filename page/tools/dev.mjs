// Runs the page as the program would show it, without Windows: the Vite development server
// on port 5173, a Chromium window whose window.chrome.webview talks to a vardeko-bridge
// process, and that bridge against the service address given, or against a fresh demo
// service (tools/demo-service) on a free port, stopped again on exit.
//
//   npm run dev -- --api http://127.0.0.1:8000/api [--debug]
//   npm run dev -- --demo [--debug]
//
// --debug enables the test: bridge methods. Where standard input is a terminal, type
// "close" and Enter for a close attempt (the close-requested path); closing the Chromium
// window ends everything. The page opens as an app window: no tabs, address or translation bar.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { existsSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { parseArgs } from 'node:util';
import { chromium } from 'playwright-core';
import { createServer } from 'vite';
import { Bridge, bridgePath, connectPage, developmentUrl, repoRoot } from './harness.mjs';

/** Ends with one line saying what to do. @returns {never} */
function fail(/** @type {string} */ line) {
  console.error(line);
  process.exit(1);
}

const { values } = parseArgs({
  options: {
    api: { type: 'string' },
    demo: { type: 'boolean', default: false },
    debug: { type: 'boolean', default: false },
  },
});
if (values.demo && values.api) {
  console.error('--api and --demo exclude each other');
  process.exit(2);
}

/** The demo service on a free port; its address once it prints "PORT <n>". */
async function startDemo() {
  const child = spawn('python3', [join(repoRoot, 'tools/demo-service/server.py'), '--port', '0'], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const lines = createInterface({ input: /** @type {import('node:stream').Readable} */ (child.stdout) });
  const first = await Promise.race([
    once(lines, 'line').then(([line]) => String(line)),
    once(child, 'exit').then(() => ''),
    once(child, 'error').then(() => ''),
  ]);
  lines.close();
  const port = /^PORT (\d+)$/.exec(first)?.[1];
  if (!port) {
    console.error('the demo service did not start (python3 tools/demo-service/server.py)');
    process.exit(1);
  }
  // Whatever way this process ends, the service ends with it.
  process.on('exit', () => child.kill());
  return { child, url: `http://127.0.0.1:${port}/api` };
}

// What the runner needs, checked before anything starts.
if (!existsSync(bridgePath())) {
  fail(
    `vardeko-bridge not found at ${bridgePath()}: build it with "cmake --preset linux-release && ` +
      `cmake --build --preset linux-release --target vardeko-bridge -j2", or name it in VARDEKO_BRIDGE.`,
  );
}
if (!process.env.DISPLAY && !process.env.WAYLAND_DISPLAY) {
  fail('no display to open the window on: run it from a desktop session, or as "xvfb-run -a npm run dev -- --demo".');
}
const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';
if (!existsSync(chromiumPath)) fail(`Chromium not found at ${chromiumPath}: install Debian's chromium, or name it in CHROMIUM.`);

const demo = values.demo ? await startDemo() : undefined;
const apiUrl = demo?.url ?? values.api ?? process.env.VARDEKO_API_URL;
if (!apiUrl) {
  console.error('usage: npm run dev -- --api <service base URL> | --demo [--debug]');
  process.exit(2);
}

const server = await createServer({ configFile: new URL('../vite.config.ts', import.meta.url).pathname });
await server.listen();
const bridge = new Bridge({ apiUrl, development: true, debug: values.debug });
// An app window needs the browser's own first window, which only a persistent profile has.
const profile = mkdtempSync(join(tmpdir(), 'vardeko-dev-'));
process.on('exit', () => {
  try {
    rmSync(profile, { recursive: true, force: true, maxRetries: 3 });
  } catch {
    // Chromium may still be writing its profile as it goes; the folder is a temporary one.
  }
});
// Chromium on Linux takes its interface language from the environment, and offers to
// translate a page in another language unless its profile says not to.
mkdirSync(join(profile, 'Default'));
writeFileSync(join(profile, 'Default', 'Preferences'), JSON.stringify({ translate: { enabled: false }, intl: { accept_languages: 'zh-CN,zh' } }));
const context = await chromium
  .launchPersistentContext(profile, {
    executablePath: chromiumPath,
    headless: false,
    viewport: null,
    locale: 'zh-CN',
    env: { ...process.env, LANGUAGE: 'zh_CN:zh', LANG: 'zh_CN.UTF-8' },
    args: [
      `--app=${developmentUrl}`,
      '--test-type', // no warning bar about --no-sandbox, which a root session needs
      '--window-size=1320,880',
      '--no-sandbox',
      '--disable-gpu',
      '--no-first-run',
      '--no-default-browser-check',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--lang=zh-CN',
      '--disable-features=Translate,TranslateUI',
    ],
    // Without its blank start page only the app window opens (no tab strip, no address bar).
    ignoreDefaultArgs: ['--enable-automation', 'about:blank'],
  })
  .catch(() => fail(`Chromium (${chromiumPath}) did not open a window: is the display ${process.env.DISPLAY ?? ''} reachable?`));
const browser = { close: () => context.close() };
const page = context.pages()[0] ?? (await context.waitForEvent('page'));
await connectPage(page, bridge);

let stopping = false;
async function stop(code = 0) {
  if (stopping) return;
  stopping = true;
  await browser.close().catch(() => {});
  await bridge.stop();
  await server.close();
  demo?.child.kill();
  process.exit(code);
}
for (const signal of /** @type {const} */ (['SIGINT', 'SIGTERM'])) process.on(signal, () => void stop());
demo?.child.on('exit', () => void stop(1));

bridge.exited.then((code) => {
  if (code !== 0) process.stderr.write(bridge.stderr);
  void stop(code === 0 ? 0 : 1);
});
context.on('close', () => void stop());
page.on('close', () => void stop());

// The window actions the page asks for, done to the Chromium window where Chromium can.
const cdp = await context.newCDPSession(page);
const { windowId } = await cdp.send('Browser.getWindowForTarget');
const windowStates = /** @type {Record<string, 'minimized' | 'maximized' | 'normal'>} */ ({
  minimize: 'minimized',
  maximize: 'maximized',
  restore: 'normal',
});
bridge.on('window', async (action, line) => {
  if (action === 'close') return stop();
  // A resize sets the outer size: the browser's own bars take a little of it.
  const bounds = action === 'resize' ? { width: line.width, height: line.height } : { windowState: windowStates[action] };
  if (action === 'resize' || windowStates[action]) await cdp.send('Browser.setWindowBounds', { windowId, bounds }).catch(() => {});
});
await cdp.send('Browser.setWindowBounds', { windowId, bounds: { width: 1320, height: 880 } }).catch(() => {});

// Read only from a terminal: a runner started in the background or with its input closed
// keeps running until its window is closed or it is stopped.
const interactive = process.stdin.isTTY === true;
if (interactive) {
  createInterface({ input: process.stdin }).on('line', (line) => {
    if (line.trim() === 'close') bridge.requestClose();
  });
}

await page.goto(developmentUrl);
console.log(
  `Vardeko page: ${developmentUrl} in a Chromium app window, service ${apiUrl}.` +
    (interactive ? ' Type "close" + Enter to try closing.' : ''),
);
if (demo) console.log('Demo service: sign in as demo@vardeko.local with the password vardeko-demo.');
