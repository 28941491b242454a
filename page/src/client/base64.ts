// Base64 for screenshots of up to 12 MiB. Work is cut into slices so the page keeps
// answering input while a large file is encoded or an image decoded.

// A multiple of 3 bytes (and so of 4 characters): the slices' texts join without padding.
const SLICE_BYTES = 3 * 256 * 1024;
const SLICE_CHARS = (SLICE_BYTES / 3) * 4;

type WithBase64 = Uint8Array & { toBase64?: () => string };
type WithFromBase64 = typeof Uint8Array & { fromBase64?: (text: string) => Uint8Array };

function sliceToBase64(bytes: Uint8Array): string {
  const native = (bytes as WithBase64).toBase64;
  if (native) return native.call(bytes);
  let binary = '';
  for (let i = 0; i < bytes.length; i += 0x8000) {
    binary += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000) as unknown as number[]);
  }
  return btoa(binary);
}

/** Reads the blob slice by slice; each read is asynchronous, so events run in between. */
export async function blobToBase64(blob: Blob): Promise<string> {
  const parts: string[] = [];
  for (let offset = 0; offset < blob.size; offset += SLICE_BYTES) {
    const bytes = new Uint8Array(await blob.slice(offset, offset + SLICE_BYTES).arrayBuffer());
    parts.push(sliceToBase64(bytes));
  }
  return parts.join('');
}

function nextTask(): Promise<void> {
  return new Promise((resolve) => {
    const channel = new MessageChannel();
    channel.port1.onmessage = () => {
      channel.port1.close();
      resolve();
    };
    channel.port2.postMessage(null);
  });
}

/** Decodes well-formed base64 (the native side's own encoding). */
export async function base64ToBytes(text: string): Promise<Uint8Array> {
  const fromBase64 = (Uint8Array as WithFromBase64).fromBase64;
  if (fromBase64) return fromBase64(text);
  const padding = text.endsWith('==') ? 2 : text.endsWith('=') ? 1 : 0;
  const output = new Uint8Array((text.length / 4) * 3 - padding);
  let written = 0;
  for (let offset = 0; offset < text.length; offset += SLICE_CHARS) {
    if (offset > 0) await nextTask();
    const binary = atob(text.slice(offset, offset + SLICE_CHARS));
    for (let i = 0; i < binary.length; i++) output[written++] = binary.charCodeAt(i);
  }
  return output;
}
