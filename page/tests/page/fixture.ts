// The page as the program shows it: the built files under the program's start-document
// headers, in Chromium, with the webview shim on a fresh vardeko-bridge per test.
import { mkdirSync } from 'node:fs';
import { join } from 'node:path';
import type { Browser, BrowserContext, Page } from 'playwright-core';
import { Bridge, TestService, connectPage, launchChromium, repoRoot, servePage, startUrl } from '../../tools/harness.mjs';

export const screenshotFolder = join(repoRoot, 'build', 'page-screenshots');

export interface Violation {
  directive: string;
  blocked: string;
}

export interface OpenPage {
  page: Page;
  bridge: Bridge;
  context: BrowserContext;
  /** Policy violations the page has raised so far. */
  violations(): Promise<Violation[]>;
  screenshot(name: string): Promise<void>;
  close(): Promise<void>;
}

export interface OpenOptions {
  apiUrl?: string;
  viewport?: { width: number; height: number };
  startDocument?: (html: string) => string;
  timezoneId?: string;
}

function recordViolations() {
  const seen: { directive: string; blocked: string }[] = [];
  Object.defineProperty(window, '__violations', { value: seen });
  document.addEventListener('securitypolicyviolation', (event) =>
    seen.push({ directive: event.effectiveDirective, blocked: event.blockedURI }),
  );
}

export class PageFixture {
  private browser?: Browser;
  service!: TestService;

  async start() {
    this.service = await TestService.start();
    this.browser = await launchChromium();
  }

  async stop() {
    await this.browser?.close();
    this.service?.stop();
  }

  async open({ apiUrl, viewport = { width: 1320, height: 880 }, startDocument, timezoneId }: OpenOptions = {}): Promise<OpenPage> {
    const bridge = new Bridge({ apiUrl: apiUrl ?? this.service.url('/api') });
    const context = await this.browser!.newContext({ viewport, locale: 'zh-CN', timezoneId });
    await servePage(context, { startDocument });
    const page = await context.newPage();
    await page.addInitScript(recordViolations);
    await connectPage(page, bridge);
    await page.goto(startUrl);
    return {
      page,
      bridge,
      context,
      violations: () => page.evaluate(() => (window as unknown as { __violations: Violation[] }).__violations),
      screenshot: async (name) => {
        mkdirSync(screenshotFolder, { recursive: true });
        const size = page.viewportSize();
        await page.screenshot({ path: join(screenshotFolder, `${size?.width}x${size?.height}-${name}.png`) });
      },
      close: async () => {
        await context.close();
        await bridge.stop();
      },
    };
  }
}
