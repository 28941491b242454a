// Runs the page as the program would show it, without Windows: the Vite development server
// on port 5173, a Chromium window whose window.chrome.webview talks to a vardeko-bridge
// process, and that bridge against the service address given, or against a fresh demo
// service (tools/demo-service) on a free port, stopped again on exit.
//
//   npm run dev -- --api http://127.0.0.1:8000/api [--debug]
//   npm run dev -- --demo [--debug]
//
// --debug enables the test: bridge methods. Type "close" and Enter here for a close
// attempt (the close-requested path); closing the Chromium window ends everything.
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { parseArgs } from 'node:util';
import { createServer } from 'vite';
import { Bridge, connectPage, developmentUrl, launchChromium, repoRoot } from './harness.mjs';

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

const demo = values.demo ? await startDemo() : undefined;
const apiUrl = demo?.url ?? values.api ?? process.env.VARDEKO_API_URL;
if (!apiUrl) {
  console.error('usage: npm run dev -- --api <service base URL> | --demo [--debug]');
  process.exit(2);
}

const server = await createServer({ configFile: new URL('../vite.config.ts', import.meta.url).pathname });
await server.listen();
const bridge = new Bridge({ apiUrl, development: true, debug: values.debug });
const browser = await launchChromium({ headless: false });
const context = await browser.newContext({ viewport: null, locale: 'zh-CN' });
const page = await context.newPage();
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
browser.on('disconnected', () => void stop());

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

createInterface({ input: process.stdin }).on('line', (line) => {
  if (line.trim() === 'close') bridge.requestClose();
});

await page.goto(developmentUrl);
console.log(`Vardeko page: ${developmentUrl} in Chromium, service ${apiUrl}. Type "close" + Enter to try closing.`);
if (demo) console.log('Demo service: sign in as demo@vardeko.local with the password vardeko-demo.');
