// The page's end of the native channel: requests posted as objects, replies matched by id,
// unsolicited events dispatched by name.
import { Messages, VardekoError } from './errors';

export interface WebviewMessageEvent {
  readonly data: unknown;
}

/** What the page uses of window.chrome.webview. */
export interface Webview {
  postMessage(message: unknown): void;
  addEventListener(type: 'message', listener: (event: WebviewMessageEvent) => void): void;
  removeEventListener(type: 'message', listener: (event: WebviewMessageEvent) => void): void;
}

interface Pending {
  resolve(data: unknown): void;
  reject(error: VardekoError): void;
  timer: ReturnType<typeof setTimeout>;
}

function randomPrefix(): string {
  const bytes = crypto.getRandomValues(new Uint8Array(6));
  return Array.from(bytes, (byte) => byte.toString(16).padStart(2, '0')).join('');
}

export class Channel {
  // Replies to a previous document's requests still arrive after a reload; a random
  // prefix keeps them from matching this document's ids.
  private readonly prefix = randomPrefix();
  private sequence = 0;
  private readonly pending = new Map<string, Pending>();
  private readonly listeners = new Map<string, Set<() => void>>();
  private readonly onMessage = (event: WebviewMessageEvent) => this.receive(event.data);

  constructor(private readonly webview: Webview | undefined) {
    webview?.addEventListener('message', this.onMessage);
  }

  /**
   * Posts one request. `guardMs` is how long to wait for a reply that the native side may
   * have lost (its window closing, a worker abandoned); it must exceed the native deadline.
   */
  request(method: string, args: unknown[], guardMs: number): Promise<unknown> {
    const webview = this.webview;
    if (!webview) return Promise.reject(new VardekoError('NO_HOST', Messages.noHost));
    const id = `${this.prefix}-${++this.sequence}`;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new VardekoError('NO_REPLY', Messages.noReply));
      }, guardMs);
      this.pending.set(id, { resolve, reject, timer });
      try {
        webview.postMessage({ id, method, args });
      } catch {
        this.settle(id);
        reject(new VardekoError('INVALID_INPUT', Messages.input));
      }
    });
  }

  /** Calls `listener` for each event of that name until the returned function is called. */
  on(event: string, listener: () => void): () => void {
    let set = this.listeners.get(event);
    if (!set) this.listeners.set(event, (set = new Set()));
    set.add(listener);
    return () => set.delete(listener);
  }

  dispose(): void {
    this.webview?.removeEventListener('message', this.onMessage);
    for (const id of [...this.pending.keys()]) this.settle(id)?.reject(new VardekoError('NO_REPLY', Messages.noReply));
  }

  private settle(id: string): Pending | undefined {
    const entry = this.pending.get(id);
    if (entry) {
      clearTimeout(entry.timer);
      this.pending.delete(id);
    }
    return entry;
  }

  private receive(message: unknown): void {
    if (message === null || typeof message !== 'object') return;
    const envelope = message as { id?: unknown; ok?: unknown; data?: unknown; error?: unknown; event?: unknown };
    if (typeof envelope.event === 'string') {
      for (const listener of [...(this.listeners.get(envelope.event) ?? [])]) listener();
      return;
    }
    if (typeof envelope.id !== 'string') return;
    const entry = this.settle(envelope.id);
    if (!entry) return; // not ours, or already given up on
    if (envelope.ok === true) {
      entry.resolve(envelope.data ?? null);
      return;
    }
    const error = envelope.error as { code?: unknown; message?: unknown } | undefined;
    entry.reject(
      typeof error?.code === 'string' && typeof error.message === 'string'
        ? new VardekoError(error.code, error.message)
        : new VardekoError('INVALID_RESPONSE', Messages.response),
    );
  }
}
