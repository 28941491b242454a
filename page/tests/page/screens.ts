// Helpers for driving the ledger screens by their visible labels.
import { deflateSync } from 'node:zlib';
import type { Locator, Page } from 'playwright-core';

/** The screen being shown (the others stay in the document, hidden). */
export function shown(page: Page): Locator {
  return page.locator('#screens > section.screen:not([hidden])');
}

export async function goTo(page: Page, label: string): Promise<Locator> {
  await page.locator('#nav').getByRole('button', { name: label, exact: true }).click();
  if (label === '概览') {
    await page.waitForSelector('#content', { state: 'visible' });
    return page.locator('#content');
  }
  const screen = shown(page);
  await screen.getByRole('heading', { level: 1, name: label, exact: true }).waitFor();
  return screen;
}

export async function signIn(page: Page, email: string, password: string): Promise<void> {
  await page.waitForSelector('#login-email:focus');
  await page.fill('#login-email', email);
  await page.fill('#login-password', password);
  await page.keyboard.press('Enter');
  await page.waitForSelector('#signed-in', { state: 'visible' });
}

const CRC_TABLE = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes: Buffer): number {
  let c = 0xffffffff;
  for (const byte of bytes) c = CRC_TABLE[(c ^ byte) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type: string, data: Buffer): Buffer {
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

/** A real PNG of a colour gradient; `seed` changes the colours (and so the demo's recognition). */
export function screenshotPng(seed: number, width = 320, height = 180): Buffer {
  const rows: Buffer[] = [];
  for (let y = 0; y < height; y++) {
    const row = Buffer.alloc(1 + width * 3);
    for (let x = 0; x < width; x++) {
      row[1 + x * 3] = (x + seed * 40) & 0xff;
      row[2 + x * 3] = (y * 2 + seed * 70) & 0xff;
      row[3 + x * 3] = (seed * 90) & 0xff;
    }
    rows.push(row);
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header[8] = 8; // bit depth
  header[9] = 2; // truecolour
  return Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header),
    chunk('IDAT', deflateSync(Buffer.concat(rows))),
    chunk('IEND', Buffer.alloc(0)),
  ]);
}

/** A paste of an image file, as Win+Shift+S then Ctrl+V gives one. */
export async function pasteImage(page: Page, png: Buffer, name: string): Promise<void> {
  await page.evaluate(
    ({ bytes, name }) => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(bytes)], name, { type: 'image/png' }));
      document.activeElement?.dispatchEvent(new ClipboardEvent('paste', { clipboardData: data, bubbles: true }));
    },
    { bytes: [...png], name },
  );
}

/** A file dropped onto `target`. */
export async function dropImage(target: Locator, png: Buffer, name: string, type = 'image/png'): Promise<void> {
  await target.evaluate(
    (node, { bytes, name, type }) => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(bytes)], name, { type }));
      for (const kind of ['dragenter', 'dragover', 'drop']) {
        node.dispatchEvent(new DragEvent(kind, { dataTransfer: data, bubbles: true, cancelable: true }));
      }
    },
    { bytes: [...png], name, type },
  );
}
