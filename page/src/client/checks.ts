// Cheap copies of the native argument checks, with the same messages and in the same
// order, so that the user reads the message without a round trip. The native side stays
// the authority: these checks must never refuse what it accepts.
import { Messages, invalidInput } from './errors';

export type JsonValue = null | boolean | number | string | JsonValue[] | { [key: string]: JsonValue };

const RECORD_ID = /^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$/;
const MAX_RECORD_BYTES = 131072;
const MAX_CHOICE_UNITS = 40;
export const MAX_PAGE = 9007199254740991;
export const MAX_AMOUNT = 9000000000000;

const LONE_SURROGATE = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/;

function wellFormed(text: string): boolean {
  const check = (text as { isWellFormed?: () => boolean }).isWellFormed;
  return check ? check.call(text) : !LONE_SURROGATE.test(text);
}

/**
 * A lone surrogate anywhere in a message makes the native JSON parser drop the whole
 * message without a reply, so every text, member names included, is looked at before
 * sending.
 */
export function checkEncoding(value: unknown): void {
  if (typeof value === 'string') {
    if (!wellFormed(value)) throw invalidInput(Messages.encoding);
  } else if (Array.isArray(value)) {
    for (const element of value) checkEncoding(element);
  } else if (value !== null && typeof value === 'object') {
    for (const [name, member] of Object.entries(value)) {
      checkEncoding(name);
      checkEncoding(member);
    }
  }
}

/** Lengths count UTF-16 code units, which is what a JavaScript string's length is. */
export function checkText(value: unknown, limit: number): string {
  if (typeof value !== 'string' || value.includes('\0')) throw invalidInput(Messages.input);
  if (!wellFormed(value)) throw invalidInput(Messages.encoding);
  if (value.length > limit) throw invalidInput(Messages.tooLong);
  return value;
}

// A number the native JSON parser reads as an integer once JSON.stringify has written it:
// no fraction, no exponent (from 1e21 on), within 64 bits.
function isJsonInteger(value: unknown): value is number {
  return (
    typeof value === 'number' &&
    Number.isInteger(value) &&
    value > -(2 ** 63) &&
    value < 2 ** 64 &&
    Math.abs(value) < 1e21
  );
}

export function checkCount(value: unknown, min: number, max: number): number {
  if (!isJsonInteger(value)) throw invalidInput(Messages.notInteger);
  if (value < min || value > max) throw invalidInput(Messages.outOfRange);
  return value;
}

export function checkRecordId(value: unknown): string {
  const text = checkText(value, 36);
  if (!RECORD_ID.test(text)) throw invalidInput(Messages.recordId);
  return text;
}

/** null, undefined and the empty text name no record. */
export function checkOptionalRecordId(value: unknown): void {
  if (value === null || value === undefined || value === '') return;
  checkRecordId(value);
}

export function isPresent(record: object, name: string): boolean {
  return Object.hasOwn(record, name) && (record as Record<string, unknown>)[name] !== undefined;
}

const encoder = new TextEncoder();

export function checkObject(value: unknown): Record<string, unknown> {
  if (value === null || typeof value !== 'object' || Array.isArray(value)) throw invalidInput(Messages.input);
  const text = JSON.stringify(value);
  // UTF-8 never takes fewer bytes than UTF-16 code units, so most records skip encoding.
  if (text.length > MAX_RECORD_BYTES || encoder.encode(text).length > MAX_RECORD_BYTES) {
    throw invalidInput(Messages.input);
  }
  return value as Record<string, unknown>;
}

export function checkPageQuery(page: unknown, pageSize: unknown): void {
  if (page !== null && page !== undefined) checkCount(page, 1, MAX_PAGE);
  if (pageSize !== null && pageSize !== undefined) checkCount(pageSize, 1, 100);
}

/** One member rule of a record; the rules of a record run in order, the first failure ends. */
export type MemberRule = ((record: Record<string, unknown>) => void) & { readonly member?: string };

interface Presence {
  optional?: boolean;
  nullable?: boolean;
}

function member(name: string, presence: Presence, check: (value: unknown) => void): MemberRule {
  return Object.assign((record: Record<string, unknown>) => {
    if (!isPresent(record, name)) {
      if (presence.optional) return;
      throw invalidInput(Messages.input);
    }
    const value = record[name];
    if (presence.nullable && value === null) return;
    check(value);
  }, { member: name });
}

/** The first member these rules refuse, with the refusal; undefined when all pass. */
export function firstRefusal(record: Record<string, unknown>, rules: readonly MemberRule[]): { member?: string; error: unknown } | undefined {
  for (const rule of rules) {
    try {
      rule(record);
    } catch (error) {
      return { member: rule.member, error };
    }
  }
  return undefined;
}

export const text = (name: string, limit: number, presence: Presence = {}): MemberRule =>
  member(name, presence, (value) => checkText(value, limit));

export const count = (name: string, min: number, max: number, presence: Presence = {}): MemberRule =>
  member(name, presence, (value) => checkCount(value, min, max));

export const choice = (name: string, allowed: readonly string[], presence: Presence = {}): MemberRule =>
  member(name, presence, (value) => {
    if (!allowed.includes(checkText(value, MAX_CHOICE_UNITS))) throw invalidInput(Messages.input);
  });

export const boolean = (name: string, presence: Presence = {}): MemberRule =>
  member(name, presence, (value) => {
    if (typeof value !== 'boolean') throw invalidInput(Messages.input);
  });

export const recordId = (name: string, presence: Presence = {}): MemberRule =>
  member(name, presence, checkRecordId);

export function checkRecord(value: unknown, rules: readonly MemberRule[]): void {
  const record = checkObject(value);
  for (const rule of rules) rule(record);
}
