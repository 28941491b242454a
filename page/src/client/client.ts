// One typed function per method of the native channel. Arguments are checked as the native
// side checks them, only so that the user reads the message sooner; nothing is added,
// trimmed or defaulted, and an argument left out is not sent.
import { blobToBase64, base64ToBytes } from './base64';
import { Channel, type Webview } from './channel';
import {
  checkEncoding,
  checkOptionalRecordId,
  checkPageQuery,
  checkRecord,
  checkRecordId,
  checkText,
  type JsonValue,
} from './checks';
import { Messages, VardekoError, invalidInput } from './errors';
import {
  bossRules,
  catalogFilterRules,
  credentialsRules,
  ledgerEntryRules,
  matchRules,
  matchSettingsRules,
  orderRules,
  orderTemplateRules,
  type BossRecord,
  type CatalogFilter,
  type Credentials,
  type LedgerEntryRecord,
  type MatchRecord,
  type MatchSettingsRecord,
  type OrderRecord,
  type OrderTemplateRecord,
} from './records';

/** The native deadlines of a service request, and what the page adds before giving up. */
export const NATIVE_DEADLINE_MS = 15_000;
export const LONG_NATIVE_DEADLINE_MS = 100_000;
export const REPLY_MARGIN_MS = 10_000;
const GUARD_MS = NATIVE_DEADLINE_MS + REPLY_MARGIN_MS;
const LONG_GUARD_MS = LONG_NATIVE_DEADLINE_MS + REPLY_MARGIN_MS;

/** The largest screenshot the native side takes (16 MiB of base64). */
export const MAX_SCREENSHOT_BYTES = 12 * 1024 * 1024;
export const SCREENSHOT_TYPES = ['image/png', 'image/jpeg', 'image/webp'] as const;

/** A service reply: its shape is the service's. */
export type ServiceReply = JsonValue;

export interface AppInfo {
  version: string;
  apiUrl: string;
  persistentSession: boolean;
  runtime: string;
}

export type WindowAction = 'minimize' | 'maximize' | 'close';

export interface MatchListQuery {
  page?: number | null;
  pageSize?: number | null;
  orderId?: string | null;
  confirmed?: boolean | null;
}

export interface ScreenshotOptions {
  /** The file name sent with the image; a File's own name when left out. */
  name?: string;
  orderId?: string | null;
}

export interface MatchImage {
  contentType: string;
  /** An object URL of the image; give it back with URL.revokeObjectURL when done. */
  url: string;
}

/** Positional arguments as given: trailing ones left out are not sent, gaps become null. */
function given(...values: unknown[]): unknown[] {
  let end = values.length;
  while (end > 0 && values[end - 1] === undefined) end--;
  return values.slice(0, end).map((value) => (value === undefined ? null : value));
}

function screenshotFailure(message: string): VardekoError {
  return new VardekoError('INVALID_IMAGE', message);
}

export class VardekoClient {
  private readonly channel: Channel;

  constructor(webview: Webview | undefined) {
    this.channel = new Channel(webview);
  }

  /** The client of the program's own channel; without it every call fails with NO_HOST. */
  static fromWindow(): VardekoClient {
    const chrome = (globalThis as { chrome?: { webview?: Webview } }).chrome;
    return new VardekoClient(chrome?.webview);
  }

  /** The user tried to close the window; answer with windowControl('close') to close it. */
  onCloseRequested(listener: () => void): () => void {
    return this.channel.on('close-requested', listener);
  }

  dispose(): void {
    this.channel.dispose();
  }

  /** Posts the call unless a check refuses it first; `check` throws the native message. */
  private call<T = ServiceReply>(method: string, args: unknown[], check?: () => void, guardMs = GUARD_MS): Promise<T> {
    try {
      checkEncoding(args);
      check?.();
    } catch (error) {
      return Promise.reject(error);
    }
    return this.channel.request(method, args, guardMs) as Promise<T>;
  }

  // Built-in methods, answered at once by the native side.

  appInfo(): Promise<AppInfo> {
    return this.call<AppInfo>('appInfo', []);
  }

  windowControl(action: WindowAction): Promise<null> {
    return this.call<null>('windowControl', [action], () => {
      if (!['minimize', 'maximize', 'close'].includes(action)) throw invalidInput(Messages.windowAction);
    });
  }

  /** Starts moving the window with the mouse; call it on mouse-down. */
  windowDrag(): Promise<null> {
    return this.call<null>('windowDrag', []);
  }

  /** Tells the native side whether a form holds unsaved input (it asks before the session ends). */
  setUnsavedInput(unsaved: boolean): Promise<null> {
    return this.call<null>('setUnsavedInput', [unsaved], () => {
      if (typeof unsaved !== 'boolean') throw invalidInput(Messages.input);
    });
  }

  /** Debugging runs only: a close attempt, as the user's. */
  testRequestClose(): Promise<null> {
    return this.call<null>('test:request-close', []);
  }

  /** Debugging runs only: the window size in 96-DPI units. */
  testWindowSize(width: number, height: number): Promise<null> {
    return this.call<null>('test:window-size', [width, height], () => {
      const inRange = (value: number, min: number, max: number) =>
        Number.isInteger(value) && value >= min && value <= max;
      if (!inRange(width, 960, 3840) || !inRange(height, 640, 2160)) throw invalidInput(Messages.windowSize);
    });
  }

  // Service methods.

  health(): Promise<ServiceReply> {
    return this.call('health', []);
  }

  /** Resolves to the service's user; the token stays on the native side. */
  login(credentials: Credentials): Promise<ServiceReply> {
    return this.call('login', [credentials], () => checkRecord(credentials, credentialsRules));
  }

  register(credentials: Credentials): Promise<ServiceReply> {
    return this.call('register', [credentials], () => checkRecord(credentials, credentialsRules));
  }

  me(): Promise<ServiceReply> {
    return this.call('me', []);
  }

  logout(): Promise<null> {
    return this.call<null>('logout', []);
  }

  /**
   * Uploads a PNG, JPEG or WebP screenshot of 1 byte to 12 MiB. Its media type is the
   * blob's own; a Blob that is not a File needs a name.
   */
  async uploadMatch(image: File, options?: ScreenshotOptions): Promise<ServiceReply>;
  async uploadMatch(image: Blob, options: ScreenshotOptions & { name: string }): Promise<ServiceReply>;
  async uploadMatch(image: Blob, options: ScreenshotOptions = {}): Promise<ServiceReply> {
    const name = options.name ?? (image as Partial<File>).name;
    const contentType = image.type;
    try {
      checkText(name, 255);
      checkText(contentType, 30);
    } catch {
      throw screenshotFailure(Messages.imageName);
    }
    if (!(SCREENSHOT_TYPES as readonly string[]).includes(contentType)) throw screenshotFailure(Messages.imageType);
    // Refused before a byte is read: the native side would refuse it after the copy.
    if (image.size === 0 || image.size > MAX_SCREENSHOT_BYTES) throw screenshotFailure(Messages.imageSize);
    checkOptionalRecordId(options.orderId);
    const record: Record<string, unknown> = {
      name,
      content_type: contentType,
      data_base64: await blobToBase64(image),
    };
    if (options.orderId !== undefined) record.order_id = options.orderId;
    return this.channel.request('uploadMatch', [record], LONG_GUARD_MS) as Promise<ServiceReply>;
  }

  listMatches(query: MatchListQuery = {}): Promise<ServiceReply> {
    const { page, pageSize, orderId, confirmed } = query;
    return this.call('listMatches', given(page, pageSize, orderId, confirmed), () => {
      checkPageQuery(page, pageSize);
      checkOptionalRecordId(orderId);
      if (confirmed !== undefined && confirmed !== null && typeof confirmed !== 'boolean') {
        throw invalidInput(Messages.input);
      }
    });
  }

  matchStats(orderId?: string | null): Promise<ServiceReply> {
    return this.call('matchStats', given(orderId), () => checkOptionalRecordId(orderId));
  }

  matchSettings(): Promise<ServiceReply> {
    return this.call('matchSettings', []);
  }

  updateMatchSettings(settings: MatchSettingsRecord): Promise<ServiceReply> {
    return this.call('updateMatchSettings', [settings], () => checkRecord(settings, matchSettingsRules));
  }

  getMatch(matchId: string): Promise<ServiceReply> {
    return this.call('getMatch', [matchId], () => checkRecordId(matchId));
  }

  deleteMatch(matchId: string): Promise<ServiceReply> {
    return this.call('deleteMatch', [matchId], () => checkRecordId(matchId));
  }

  recognizeMatch(matchId: string): Promise<ServiceReply> {
    return this.call('recognizeMatch', [matchId], () => checkRecordId(matchId), LONG_GUARD_MS);
  }

  /** The stored screenshot as an object URL the page may show in an img element. */
  async matchImage(matchId: string): Promise<MatchImage> {
    const reply = await this.call<{ content_type?: unknown; data_base64?: unknown }>('matchImage', [matchId], () =>
      checkRecordId(matchId),
    );
    if (typeof reply?.content_type !== 'string' || typeof reply.data_base64 !== 'string') {
      throw new VardekoError('INVALID_RESPONSE', Messages.response);
    }
    const bytes = await base64ToBytes(reply.data_base64);
    const blob = new Blob([bytes as Uint8Array<ArrayBuffer>], { type: reply.content_type });
    return { contentType: reply.content_type, url: URL.createObjectURL(blob) };
  }

  updateMatch(matchId: string, match: MatchRecord): Promise<ServiceReply> {
    return this.call('updateMatch', [matchId, match], () => {
      checkRecordId(matchId);
      checkRecord(match, matchRules);
    });
  }

  listBosses(search?: string | null): Promise<ServiceReply> {
    return this.call('listBosses', given(search), () => {
      if (search !== undefined && search !== null) checkText(search, 200);
    });
  }

  getBoss(bossId: string): Promise<ServiceReply> {
    return this.call('getBoss', [bossId], () => checkRecordId(bossId));
  }

  createBoss(boss: BossRecord): Promise<ServiceReply> {
    return this.call('createBoss', [boss], () => checkRecord(boss, bossRules));
  }

  updateBoss(bossId: string, boss: BossRecord): Promise<ServiceReply> {
    return this.call('updateBoss', [bossId, boss], () => {
      checkRecordId(bossId);
      checkRecord(boss, bossRules);
    });
  }

  listOrders(bossId?: string | null): Promise<ServiceReply> {
    return this.call('listOrders', given(bossId), () => checkOptionalRecordId(bossId));
  }

  getOrder(orderId: string): Promise<ServiceReply> {
    return this.call('getOrder', [orderId], () => checkRecordId(orderId));
  }

  createOrder(bossId: string, order: OrderRecord): Promise<ServiceReply> {
    return this.call('createOrder', [bossId, order], () => {
      checkRecordId(bossId);
      checkRecord(order, orderRules);
    });
  }

  updateOrder(orderId: string, order: OrderRecord): Promise<ServiceReply> {
    return this.call('updateOrder', [orderId, order], () => {
      checkRecordId(orderId);
      checkRecord(order, orderRules);
    });
  }

  listOrderTemplates(): Promise<ServiceReply> {
    return this.call('listOrderTemplates', []);
  }

  createOrderTemplate(template: OrderTemplateRecord): Promise<ServiceReply> {
    return this.call('createOrderTemplate', [template], () => checkRecord(template, orderTemplateRules));
  }

  updateOrderTemplate(templateId: string, template: OrderTemplateRecord): Promise<ServiceReply> {
    return this.call('updateOrderTemplate', [templateId, template], () => {
      checkRecordId(templateId);
      checkRecord(template, orderTemplateRules);
    });
  }

  deleteOrderTemplate(templateId: string): Promise<ServiceReply> {
    return this.call('deleteOrderTemplate', [templateId], () => checkRecordId(templateId));
  }

  listCatalog(filter?: CatalogFilter | null): Promise<ServiceReply> {
    return this.call('listCatalog', given(filter), () => {
      if (filter !== undefined && filter !== null) checkRecord(filter, catalogFilterRules);
    });
  }

  listLedgerEntries(orderId: string, page?: number | null, pageSize?: number | null): Promise<ServiceReply> {
    return this.call('listLedgerEntries', given(orderId, page, pageSize), () => {
      checkPageQuery(page, pageSize);
      checkRecordId(orderId);
    });
  }

  addLedgerEntry(orderId: string, entry: LedgerEntryRecord): Promise<ServiceReply> {
    return this.call('addLedgerEntry', [orderId, entry], () => {
      checkRecordId(orderId);
      checkRecord(entry, ledgerEntryRules);
    });
  }

  deleteLedgerEntry(orderId: string, entryId: string): Promise<ServiceReply> {
    return this.call('deleteLedgerEntry', [orderId, entryId], () => {
      checkRecordId(entryId);
      checkRecordId(orderId);
    });
  }
}
