import { describe, expect, it } from 'vitest';
import {
  displayText,
  jsonText,
  pagingNumber,
  readList,
  readRecord,
  recordIdOf,
  replyId,
  splitMembers,
} from '../src/client/replies';
import { bossFields, ledgerShownFields, orderFields } from '../src/ui/fields';

const ID = '0123abcd-89ab-cdef-0123-456789abcdef';

function nested(depth: number): unknown {
  let value: unknown = 'bottom';
  for (let i = 0; i < depth; i++) value = i % 2 ? [value] : { level: value };
  return value;
}

describe('list replies', () => {
  it('reads an array, and an array wrapped under any of the usual names with paging beside it', () => {
    const rows = [{ id: ID }, { id: 'x' }];
    expect(readList(rows)).toEqual({ kind: 'list', items: rows, paging: {} });
    for (const name of ['items', 'data', 'results', 'list', 'rows']) {
      expect(readList({ [name]: rows, page: 2, total: 41 })).toEqual({ kind: 'list', items: rows, paging: { page: 2, total: 41 } });
    }
    // The usual names win over another array member; an object's only array is its list.
    expect(readList({ tags: ['a'], rows, total: 2 })).toMatchObject({ kind: 'list', items: rows, paging: { tags: ['a'] } });
    expect(readList({ bosses: rows, has_more: false })).toEqual({ kind: 'list', items: rows, paging: { has_more: false } });
    expect(pagingNumber({ total: 41, count: 'x' }, ['count', 'total'])).toBe(41);
  });

  it('reads an empty list as a list, and every other shape as what it is', () => {
    expect(readList([])).toEqual({ kind: 'list', items: [], paging: {} });
    expect(readList({ items: [], total: 0 })).toMatchObject({ kind: 'list', items: [] });
    // null is what a 204 reply becomes; none of these holds a list to show.
    for (const value of [null, 0, 42.5, '', '列表', true, {}, { a: { id: 1 }, b: { id: 2 } }, { a: [1], b: [2] }]) {
      expect(readList(value)).toEqual({ kind: 'other', value });
    }
  });

  it('keeps ten thousand items, in order, without copying them', () => {
    const items = Array.from({ length: 10_000 }, (_, i) => ({ id: String(i), note: `第 ${i} 条` }));
    const reading = readList({ data: items, total: 10_000 });
    expect(reading.kind === 'list' && reading.items).toBe(items);
  });
});

describe('record replies', () => {
  it('reads an object as a record, also alone under a wrapper, and anything else as other', () => {
    expect(readRecord({ id: ID, title: 'x' })).toEqual({ kind: 'record', record: { id: ID, title: 'x' } });
    expect(readRecord({ data: { id: ID } })).toEqual({ kind: 'record', record: { id: ID } });
    // Two members, or a wrapped array, are the record itself.
    expect(readRecord({ data: { id: ID }, meta: {} })).toMatchObject({ kind: 'record', record: { meta: {} } });
    expect(readRecord({ items: [1] })).toEqual({ kind: 'record', record: { items: [1] } });
    for (const value of [null, 7, '已保存', [{ id: ID }], false]) expect(readRecord(value)).toEqual({ kind: 'other', value });
    expect(replyId({ data: { id: ID } })).toBe(ID);
    expect(replyId([{ id: ID }])).toBeUndefined();
  });

  it('identifies a record by a text or numeric id only', () => {
    expect(recordIdOf({ id: ID })).toBe(ID);
    expect(recordIdOf({ id: 12 })).toBe('12');
    for (const value of [{ id: '' }, { id: null }, { id: { x: 1 } }, { id: Infinity }, {}, [ID], 'id']) {
      expect(recordIdOf(value)).toBeUndefined();
    }
  });

  it('shows known members in the records order with labels, and the rest by name after', () => {
    const record = { notes: '常客', zeta: 1, id: ID, display_name: '王老板', game_id: 'w-1', created_at: '2025-03-01' };
    const { known, other } = splitMembers(record, bossFields);
    expect(known.map(({ label, text }) => [label, text])).toEqual([
      ['显示名称', '王老板'],
      ['游戏 ID', 'w-1'],
      ['备注', '常客'],
    ]);
    expect(other.map(({ name }) => name)).toEqual(['zeta', 'id', 'created_at']);
  });

  it('labels every choice value and shows unknown values as they came', () => {
    const { known } = splitMembers({ kind: 'wager', wager_expected: 'not_obtained', failure_mode: 'later' }, orderFields);
    expect(known.map(({ text }) => text)).toEqual(['对赌', 'later', '未获得']);
    const entry = splitMembers({ kind: 'item_result', outcome: 'success', item_obtained: false, amount: null }, ledgerShownFields);
    expect(entry.known.map(({ text }) => text)).toEqual(['物品结果', '—', '否', '成功']);
  });
});

describe('values for showing', () => {
  it('shows texts, numbers, booleans and empty values plainly and the rest as short JSON', () => {
    expect(displayText('')).toBe('（空）');
    expect(displayText(9000000000000)).toBe('9000000000000');
    expect(displayText(true)).toBe('是');
    expect(displayText(undefined)).toBe('—');
    expect(displayText({ engine: 'demo', confidence: 0.9 })).toBe('{"engine":"demo","confidence":0.9}');
    expect(displayText(Array.from({ length: 1000 }, (_, i) => i)).length).toBe(401);
  });

  it('writes values nested as deep as a reply can be, and cuts long ones', () => {
    const deep = nested(128);
    const text = jsonText(deep, true, 1_000_000);
    expect(JSON.parse(text)).toEqual(deep);
    expect(displayText(deep)).toHaveLength(401);
    expect(jsonText('x'.repeat(50), false, 10)).toBe(`"${'x'.repeat(9)}…`);
    const cyclic: Record<string, unknown> = {};
    cyclic.self = cyclic;
    expect(jsonText(cyclic, false, 100)).toBe('[object Object]');
  });
});
