// Service replies read without trusting their shape: the service's reply shapes are its
// own, so a screen asks what it needs and gets either that or the value as it came.

/** Where a list may sit inside an object reply, in the order they are tried. */
export const LIST_MEMBERS = ['items', 'data', 'results', 'list', 'rows'] as const;

export type JsonRecord = { [name: string]: unknown };

export type ListReading =
  | { kind: 'list'; items: unknown[]; paging: JsonRecord }
  | { kind: 'other'; value: unknown };

export type RecordReading = { kind: 'record'; record: JsonRecord } | { kind: 'other'; value: unknown };

export function isRecord(value: unknown): value is JsonRecord {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

/**
 * A JSON array, or an object holding one: under one of LIST_MEMBERS, else as its only array
 * member. The object's other members are the paging members. Anything else is "other".
 */
export function readList(reply: unknown): ListReading {
  if (Array.isArray(reply)) return { kind: 'list', items: reply, paging: {} };
  if (!isRecord(reply)) return { kind: 'other', value: reply };
  let member: string | undefined = LIST_MEMBERS.find((name) => Array.isArray(reply[name]));
  if (member === undefined) {
    const arrays = Object.keys(reply).filter((name) => Array.isArray(reply[name]));
    if (arrays.length !== 1) return { kind: 'other', value: reply };
    member = arrays[0];
  }
  const paging: JsonRecord = {};
  for (const [name, value] of Object.entries(reply)) if (name !== member) paging[name] = value;
  return { kind: 'list', items: reply[member as string] as unknown[], paging };
}

/** An object is a record; a record wrapped alone under "data" (or another list member) too. */
export function readRecord(reply: unknown): RecordReading {
  if (!isRecord(reply)) return { kind: 'other', value: reply };
  const names = Object.keys(reply);
  if (names.length === 1 && (LIST_MEMBERS as readonly string[]).includes(names[0]) && isRecord(reply[names[0]])) {
    return { kind: 'record', record: reply[names[0]] as JsonRecord };
  }
  return { kind: 'record', record: reply };
}

/** A record's "id" as text when it is a string or a number; records without one cannot be opened. */
export function recordIdOf(value: unknown): string | undefined {
  if (!isRecord(value)) return undefined;
  const id = value.id;
  if (typeof id === 'string' && id !== '') return id;
  if (typeof id === 'number' && Number.isFinite(id)) return String(id);
  return undefined;
}

/** A number among the paging members, when the reply gave one under any of these names. */
export function pagingNumber(paging: JsonRecord, names: readonly string[]): number | undefined {
  for (const name of names) {
    const value = paging[name];
    if (typeof value === 'number' && Number.isFinite(value)) return value;
  }
  return undefined;
}

export interface Field {
  name: string;
  label: string;
  /** Chinese labels of a choice's exact values. */
  choices?: Readonly<Record<string, string>>;
}

export interface Member {
  name: string;
  label: string;
  value: unknown;
  text: string;
}

/** Known members in the fields' order, with labels; every other member after, by name. */
export function splitMembers(record: JsonRecord, fields: readonly Field[]): { known: Member[]; other: Member[] } {
  const known: Member[] = [];
  const names = new Set<string>();
  for (const field of fields) {
    names.add(field.name);
    if (!Object.hasOwn(record, field.name)) continue;
    const value = record[field.name];
    known.push({ name: field.name, label: field.label, value, text: displayText(value, field.choices) });
  }
  const other: Member[] = [];
  for (const [name, value] of Object.entries(record)) {
    if (names.has(name)) continue;
    other.push({ name, label: name, value, text: displayText(value) });
  }
  return { known, other };
}

const SHORT_JSON = 400;

/** One line for a member's value: texts as they are, choices by their label, the rest as JSON. */
export function displayText(value: unknown, choices?: Readonly<Record<string, string>>): string {
  if (value === null || value === undefined) return '—';
  if (typeof value === 'string') {
    if (choices && Object.hasOwn(choices, value)) return choices[value];
    return value === '' ? '（空）' : value;
  }
  if (typeof value === 'boolean') return value ? '是' : '否';
  if (typeof value === 'number') return String(value);
  const text = jsonText(value, false, SHORT_JSON);
  return text;
}

/**
 * JSON for showing, cut at `limit` characters. Replies reach the page nested at most 128
 * deep (the native bound), which JSON.stringify walks without trouble.
 */
export function jsonText(value: unknown, pretty: boolean, limit: number): string {
  let text: string;
  try {
    text = JSON.stringify(value, null, pretty ? 2 : undefined) ?? String(value);
  } catch {
    text = String(value);
  }
  return text.length > limit ? `${text.slice(0, limit)}…` : text;
}

/** The first text among these members, for a row's caption. */
export function captionOf(record: JsonRecord, names: readonly string[]): string | undefined {
  for (const name of names) {
    const value = record[name];
    if (typeof value === 'string' && value !== '') return value;
  }
  return undefined;
}

/** The id of the record a create or update answered with, when it answered with one. */
export function replyId(reply: unknown): string | undefined {
  const reading = readRecord(reply);
  return reading.kind === 'record' ? recordIdOf(reading.record) : undefined;
}
