// The orders and bosses every screen names and chooses from, read once per sign-in and
// read again when one of them changes or the operator asks: fetching the whole order list
// on every visit of a screen was the page's main cost, and a late refill could overwrite
// a choice the operator had just made.
import type { VardekoClient } from '../client/client';
import { captionOf, isRecord, readList, recordIdOf, type JsonRecord } from '../client/replies';

export const ORDER_CAPTION = ['title', 'name'];
export const BOSS_CAPTION = ['display_name', 'game_name', 'game_id'];

class RecordList {
  private loading: Promise<JsonRecord[]> | null = null;
  /** The records of the last reply that held a list. */
  records: JsonRecord[] = [];
  private readonly listeners = new Set<() => void>();
  /** The text of a reply that held no list, for the screen's note. */
  odd = false;
  /** The last reply as it came. */
  raw: unknown = null;

  constructor(
    private readonly read: () => Promise<unknown>,
    private readonly caption: readonly string[],
  ) {}

  /** The records, read when not read yet; a failed read is not kept. */
  get(): Promise<JsonRecord[]> {
    if (!this.loading) {
      const loading = this.read().then((reply) => {
        this.raw = reply;
        const reading = readList(reply);
        this.odd = reading.kind !== 'list';
        this.records = reading.kind === 'list' ? reading.items.filter(isRecord) : [];
        for (const listener of [...this.listeners]) listener();
        return this.records;
      });
      this.loading = loading;
      loading.catch(() => {
        if (this.loading === loading) this.loading = null;
      });
    }
    return this.loading;
  }

  /** Read again at the next use, without reading now (counts changed somewhere). */
  stale(): void {
    this.loading = null;
  }

  /** Read again now (a record was created or changed, or the operator asked). */
  refresh(): Promise<JsonRecord[]> {
    this.loading = null;
    return this.get();
  }

  nameOf(id: unknown): string | undefined {
    if (typeof id !== 'string' || id === '') return undefined;
    const record = this.records.find((item) => recordIdOf(item) === id.toLowerCase() || recordIdOf(item) === id);
    return record ? captionOf(record, this.caption) : undefined;
  }

  find(id: string): JsonRecord | undefined {
    return this.records.find((item) => recordIdOf(item) === id);
  }

  onChange(listener: () => void): void {
    this.listeners.add(listener);
  }
}

export class Directory {
  readonly orders: RecordList;
  readonly bosses: RecordList;

  constructor(client: VardekoClient) {
    this.orders = new RecordList(() => client.listOrders(), ORDER_CAPTION);
    this.bosses = new RecordList(() => client.listBosses(''), BOSS_CAPTION);
  }
}

export type { RecordList };
