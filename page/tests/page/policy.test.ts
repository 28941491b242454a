import { readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';
import { afterAll, beforeAll, expect, it } from 'vitest';
import { builtPage, startDocumentHeaders } from '../../tools/harness.mjs';
import { PageFixture } from './fixture';

const fixture = new PageFixture();
beforeAll(() => fixture.start());
afterAll(() => fixture.stop());

const headerPolicy = () => startDocumentHeaders().find(({ name }) => name === 'Content-Security-Policy')!.value;

it('builds a page that carries the start document policy and no inline script', () => {
  const html = readFileSync(join(builtPage, 'index.html'), 'utf8');
  const meta = /<meta http-equiv="Content-Security-Policy" content="([^"]*)">/.exec(html);
  expect(meta?.[1]).toBe(headerPolicy());
  expect(startDocumentHeaders().map(({ name }) => name)).toEqual([
    'Content-Type',
    'Content-Security-Policy',
    'X-Content-Type-Options',
  ]);
  const scripts = [...html.matchAll(/<script\b([^>]*)>([\s\S]*?)<\/script>/g)];
  expect(scripts.length).toBeGreaterThan(0);
  for (const [, attributes, body] of scripts) {
    expect(attributes).toMatch(/\bsrc="\/assets\/[^"]+\.js"/);
    expect(body.trim()).toBe('');
  }
  expect(html).not.toMatch(/\son[a-z]+=/i);
  for (const name of readdirSync(join(builtPage, 'assets')).filter((file) => file.endsWith('.js'))) {
    expect(readFileSync(join(builtPage, 'assets', name), 'utf8')).not.toMatch(/\beval\(|new Function\(/);
  }
});

it('blocks the page from the network and from inline and evaluated script', async () => {
  const view = await fixture.open({
    // An inline script in the start document itself, as a tampered renderer folder would hold.
    startDocument: (html) => html.replace('</head>', '<script>window.inlineRan = true;</script></head>'),
  });
  const { page } = view;
  await page.waitForSelector('#login-email:focus');
  const target = fixture.service.url('/echo');
  const socket = target.replace('http:', 'ws:');
  const outcome = await page.evaluate(
    async ({ target, socket }) => {
      const results: Record<string, string> = {};
      results.fetch = await fetch(target).then(
        () => 'sent',
        () => 'blocked',
      );
      results.xhr = await new Promise((resolve) => {
        const request = new XMLHttpRequest();
        request.onload = () => resolve('sent');
        request.onerror = () => resolve('blocked');
        try {
          request.open('GET', target);
          request.send();
        } catch {
          resolve('blocked');
        }
      });
      results.webSocket = await new Promise((resolve) => {
        try {
          const ws = new WebSocket(socket);
          ws.onopen = () => resolve('sent');
          ws.onerror = () => resolve('blocked');
        } catch {
          resolve('blocked');
        }
      });
      const script = document.createElement('script');
      script.textContent = 'window.addedRan = true;';
      document.body.append(script);
      try {
        results.eval = String(eval('1 + 1'));
      } catch {
        results.eval = 'blocked';
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
      const w = window as unknown as { inlineRan?: boolean; addedRan?: boolean };
      results.inline = w.inlineRan ? 'ran' : 'blocked';
      results.added = w.addedRan ? 'ran' : 'blocked';
      return results;
    },
    { target, socket },
  );
  expect(outcome).toEqual({
    fetch: 'blocked',
    xhr: 'blocked',
    webSocket: 'blocked',
    eval: 'blocked',
    inline: 'blocked',
    added: 'blocked',
  });
  // Each attempt is reported twice: the header's policy and the meta element's both refuse it.
  const counts: Record<string, number> = {};
  for (const { directive } of await view.violations()) counts[directive] = (counts[directive] ?? 0) + 1;
  expect(counts).toEqual({ 'connect-src': 2 * 3, 'script-src': 2 * 1, 'script-src-elem': 2 * 2 });
  // The service heard only the bridge's own requests (the overview may check its health
  // again when it is shown).
  const paths = (await fixture.service.requests()).map((request) => request.path);
  expect(new Set(paths)).toEqual(new Set(['/api/health']));
  await view.close();
});
