// Runs the page without Windows: Debian's Chromium through Playwright's library, with
// window.chrome.webview replaced by a shim that talks to a vardeko-bridge process, and the
// loopback test service behind it. Used by the development runner, the tests and the
// measurements.
import { spawn } from 'node:child_process';
import { EventEmitter, once } from 'node:events';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const repoRoot = fileURLToPath(new URL('../..', import.meta.url));
export const builtPage = join(repoRoot, 'build', 'renderer');
export const startUrl = 'https://app.vardeko.localhost/index.html';
export const developmentUrl = 'http://localhost:5173/';

/** The bridge host: VARDEKO_BRIDGE, else the Linux release build of this checkout. */
export function bridgePath() {
  return process.env.VARDEKO_BRIDGE || join(repoRoot, 'build', 'linux-release', 'src', 'vardeko-bridge');
}

// Where the program's start-document header text is written; the first that exists wins.
const START_DOCUMENT_SOURCES = ['src/shell/start_document.h', 'src/host/start_document.h'];

/**
 * The headers the program sends with the start document, read from its source: the
 * string literals that make up kStartDocumentHeaders, joined.
 * @returns {{ name: string, value: string }[]}
 */
export function startDocumentHeaders() {
  const file = START_DOCUMENT_SOURCES.map((path) => join(repoRoot, path)).find((path) => existsSync(path));
  if (!file) throw new Error(`none of ${START_DOCUMENT_SOURCES.join(', ')} exists`);
  const source = readFileSync(file, 'utf8');
  const definition = /kStartDocumentHeaders\s*=((?:\s*u"(?:[^"\\]|\\.)*")+)\s*;/.exec(source);
  if (!definition) throw new Error(`kStartDocumentHeaders not found in ${file}`);
  const text = [...definition[1].matchAll(/u"((?:[^"\\]|\\.)*)"/g)]
    .map((literal) => literal[1].replace(/\\r/g, '\r').replace(/\\n/g, '\n').replace(/\\(["\\'])/g, '$1'))
    .join('');
  return text
    .split('\r\n')
    .filter((line) => line !== '')
    .map((line) => {
      const colon = line.indexOf(': ');
      return { name: line.slice(0, colon), value: line.slice(colon + 2) };
    });
}

/** The loopback test service of the integration tests (tests/integration/test_server.py). */
export class TestService {
  /** @param {import('node:child_process').ChildProcess} process @param {number} port */
  constructor(process, port) {
    this.process = process;
    this.port = port;
  }

  static async start() {
    const child = spawn('python3', [join(repoRoot, 'tests/integration/test_server.py'), '--lifetime', '900'], {
      stdio: ['ignore', 'pipe', 'ignore'], // a client that gave up makes it print broken pipes
    });
    const lines = createInterface({ input: /** @type {import('node:stream').Readable} */ (child.stdout) });
    const [first] = await once(lines, 'line');
    lines.close();
    return new TestService(child, Number(String(first).split(' ')[1]));
  }

  url(path = '') {
    return `http://127.0.0.1:${this.port}${path}`;
  }

  /** @param {string} path @param {unknown} [payload] */
  async control(path, payload) {
    const reply = await fetch(this.url(path), {
      method: payload === undefined ? 'GET' : 'POST',
      body: payload === undefined ? undefined : JSON.stringify(payload),
    });
    const text = await reply.text();
    return text ? JSON.parse(text) : null;
  }

  /** Later requests with the route's method and exact path get its answer. */
  script(/** @type {object[]} */ ...routes) {
    return this.control('/__script', { routes });
  }

  /** @returns {Promise<{method: string, path: string, headers: [string, string][], body_base64: string}[]>} */
  requests() {
    return this.control('/__requests');
  }

  reset() {
    return this.control('/__reset', {});
  }

  stop() {
    this.process.kill();
  }
}

/** The demo service (tools/demo-service/server.py), in memory, with its test control paths. */
export class DemoService extends TestService {
  /** @param {string[]} [options] more command-line options, e.g. ['--bulk', '1000'] */
  static async start(options = []) {
    const child = spawn('python3', [join(repoRoot, 'tools/demo-service/server.py'), '--port', '0', ...options], {
      stdio: ['ignore', 'pipe', 'ignore'],
    });
    const lines = createInterface({ input: /** @type {import('node:stream').Readable} */ (child.stdout) });
    const [first] = await once(lines, 'line');
    lines.close();
    return new DemoService(child, Number(String(first).split(' ')[1]));
  }

  /** Scripts the next answer to a path: delay, status and body, drop (see its README). */
  next(/** @type {object} */ script) {
    return this.control('/__control', script);
  }

  /** Everything the demo holds: bosses, orders, templates, entries, matches, settings. */
  data() {
    return this.control('/__data');
  }
}

/**
 * One vardeko-bridge process: posts go to its standard input, and its output is split into
 * messages for the page ("page" events) and window actions ("window" events).
 */
export class Bridge extends EventEmitter {
  /**
   * @param {{ apiUrl: string, development?: boolean, debug?: boolean }} options
   */
  constructor({ apiUrl, development = false, debug = false }) {
    super();
    this.dataRoot = mkdtempSync(join(tmpdir(), 'vardeko-page-'));
    /** @type {unknown[]} every message to the page, in order */
    this.pageMessages = [];
    /** @type {string[]} */
    this.windowActions = [];
    /** @type {Record<string, string | undefined>} */
    const env = {};
    for (const [name, value] of Object.entries(process.env)) if (!name.startsWith('VARDEKO_')) env[name] = value;
    Object.assign(env, {
      VARDEKO_API_URL: apiUrl,
      VARDEKO_DATA_DIR: join(this.dataRoot, 'data'),
      XDG_DATA_HOME: join(this.dataRoot, 'xdg'),
    });
    if (development) env.VARDEKO_DEV_URL = developmentUrl;
    if (debug) env.VARDEKO_DEBUG_PORT = '9222';
    this.process = spawn(bridgePath(), [], { env, stdio: ['pipe', 'pipe', 'pipe'] });
    this.stderr = '';
    this.process.stderr?.on('data', (chunk) => (this.stderr += chunk));
    this.process.stdin?.on('error', () => {}); // the bridge exits at once when the window closes
    this.exited = new Promise((resolve) => this.process.on('exit', (code) => resolve(code)));
    const lines = createInterface({ input: /** @type {import('node:stream').Readable} */ (this.process.stdout) });
    lines.on('line', (line) => {
      const output = JSON.parse(line);
      if ('page' in output) {
        this.pageMessages.push(output.page);
        this.emit('page', output.page);
      } else if ('window' in output) {
        this.windowActions.push(output.window);
        this.emit('window', output.window, output);
      }
    });
  }

  /**
   * The page posts a web message whose JSON text is `text`, from the document at `source`
   * (the start page when left out).
   * @param {string} text
   * @param {string} [source]
   */
  async post(text, source) {
    const line = JSON.stringify(source === undefined ? { post: text } : { post: text, source }) + '\n';
    const stdin = /** @type {import('node:stream').Writable} */ (this.process.stdin);
    if (!stdin.writable) return;
    if (!stdin.write(line)) await once(stdin, 'drain');
  }

  /** A close attempt, as the user's. */
  requestClose() {
    this.process.stdin?.write('{"close":true}\n');
  }

  /** Resolves when `predicate` holds for the window actions seen so far. */
  async waitForWindow(/** @type {(actions: string[]) => boolean} */ predicate, timeoutMs = 10_000) {
    const deadline = Date.now() + timeoutMs;
    while (!predicate(this.windowActions)) {
      if (Date.now() > deadline) throw new Error(`window actions: ${JSON.stringify(this.windowActions)}`);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
  }

  async stop() {
    if (this.process.exitCode === null && this.process.signalCode === null) {
      this.process.stdin?.end();
      const timer = setTimeout(() => this.process.kill(), 2000);
      await this.exited;
      clearTimeout(timer);
    }
    rmSync(this.dataRoot, { recursive: true, force: true });
  }
}

/** window.chrome.webview as the page sees it in the program, posting through a binding. */
function webviewShim() {
  const target = new EventTarget();
  const webview = {
    // The program receives the posted value as JSON text, so the value itself is posted.
    postMessage: (/** @type {unknown} */ value) => /** @type {any} */ (window).__vardekoPost(JSON.stringify(value)),
    addEventListener: target.addEventListener.bind(target),
    removeEventListener: target.removeEventListener.bind(target),
  };
  const w = /** @type {any} */ (window);
  w.chrome = w.chrome || {};
  w.chrome.webview = webview;
  Object.defineProperty(window, '__vardekoDeliver', {
    value: (/** @type {unknown} */ data) => target.dispatchEvent(new MessageEvent('message', { data })),
  });
}

/**
 * Connects a page to a bridge: the page's posts carry its current address as their source,
 * so a page that changed its URL is ignored as it would be by the program. `source`
 * stands in for that address when the page is served from elsewhere.
 * @param {import('playwright-core').Page} page
 * @param {Bridge} bridge
 * @param {{ source?: string }} [options]
 */
export async function connectPage(page, bridge, { source } = {}) {
  await page.exposeBinding('__vardekoPost', ({ frame }, /** @type {string} */ text) =>
    bridge.post(text, source ?? frame.url()),
  );
  await page.addInitScript(webviewShim);
  let delivery = Promise.resolve();
  bridge.on('page', (message) => {
    delivery = delivery
      // As JSON text, parsed in the page as the runtime does: Playwright's own argument
      // passing gives up on values nested deeper than the program lets through.
      .then(() => page.evaluate((text) => /** @type {any} */ (window).__vardekoDeliver(JSON.parse(text)), JSON.stringify(message)))
      .catch(() => {}); // the page is gone or navigating: the program drops such messages too
  });
}

export function launchChromium({ headless = true } = {}) {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    headless,
    args: [
      '--no-sandbox',
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
      '--lang=zh-CN',
      '--disable-features=Translate',
    ],
  });
}

const MEDIA_TYPES = /** @type {Record<string, string>} */ ({
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript',
  '.css': 'text/css',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.woff2': 'font/woff2',
});

/**
 * Serves a built page as the program does: the start document with the program's own
 * headers, the other files from the folder, every other address refused.
 * @param {import('playwright-core').BrowserContext} context
 * @param {{ folder?: string, startDocument?: (html: string) => string }} [options]
 */
export async function servePage(context, { folder = builtPage, startDocument = (html) => html } = {}) {
  const headers = Object.fromEntries(startDocumentHeaders().map(({ name, value }) => [name, value]));
  const root = resolve(folder);
  await context.route(
    () => true,
    async (route) => {
      const url = new URL(route.request().url());
      if (url.origin !== 'https://app.vardeko.localhost') return route.abort('blockedbyclient');
      if (url.pathname === '/index.html') {
        const html = startDocument(readFileSync(join(root, 'index.html'), 'utf8'));
        return route.fulfill({ status: 200, headers, body: html });
      }
      const file = normalize(join(root, decodeURIComponent(url.pathname)));
      if (!file.startsWith(root + sep) || !existsSync(file)) return route.fulfill({ status: 404 });
      return route.fulfill({
        status: 200,
        headers: { 'Content-Type': MEDIA_TYPES[extname(file)] ?? 'application/octet-stream' },
        body: readFileSync(file),
      });
    },
  );
}
