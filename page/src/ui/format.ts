// Values as an operator reads them: service times in the computer's local time, counts and
// amounts with thousands separators, choices by their label.
import { displayText } from '../client/replies';

// ISO 8601 date and time with an offset or Z; a bare date or local time is left as sent.
const ISO_TIME = /^\d{4}-\d{2}-\d{2}[T ]\d{2}:\d{2}(:\d{2}(\.\d+)?)?(Z|[+-]\d{2}:?\d{2})$/i;

const pad = (n: number) => String(n).padStart(2, '0');

function localParts(date: Date): string {
  return `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())}T${pad(date.getHours())}:${pad(date.getMinutes())}`;
}

/** The Date of a service timestamp, when it is ISO 8601 with an offset. */
export function parseTime(value: unknown): Date | undefined {
  if (typeof value !== 'string' || !ISO_TIME.test(value)) return undefined;
  const date = new Date(value.replace(' ', 'T'));
  return Number.isNaN(date.getTime()) ? undefined : date;
}

/** `YYYY-MM-DD HH:mm` in local time, or the text as sent when it is not ISO 8601. */
export function timeText(value: unknown): string {
  const date = parseTime(value);
  return date ? localParts(date).replace('T', ' ') : displayText(value);
}

/** The value a datetime-local control shows for a service timestamp ('' when none). */
export function timeControlValue(value: unknown): string {
  const date = parseTime(value);
  return date ? localParts(date) : '';
}

/** A datetime-local control's value as ISO 8601 with the computer's offset. */
export function isoFromControl(text: string): string {
  const date = new Date(text);
  const offset = -date.getTimezoneOffset();
  const sign = offset >= 0 ? '+' : '-';
  const abs = Math.abs(offset);
  return `${localParts(date)}:${pad(date.getSeconds())}${sign}${pad(Math.floor(abs / 60))}:${pad(abs % 60)}`;
}

const grouping = new Intl.NumberFormat('en-US', { maximumFractionDigits: 2 });

/** `4,520,000`; from 100,000 on with the 万 form beside it; negatives with a minus sign. */
export function numberText(value: number): string {
  const text = grouping.format(Math.abs(value));
  const wan = Math.abs(value) >= 100_000 ? `（${grouping.format(Math.round(Math.abs(value) / 1000) / 10)} 万）` : '';
  return `${value < 0 ? '−' : ''}${text}${wan}`;
}

/** Whether a member holds a time, going by its name. */
export const isTimeMember = (name: string) => /(_at|_time)$/.test(name) || name === 'time';

/** One member's value as shown in tables and record views. */
export function valueText(name: string, value: unknown, choices?: Readonly<Record<string, string>>): string {
  if (typeof value === 'number' && Number.isFinite(value) && !/(^|_)id$/.test(name)) return numberText(value);
  if (isTimeMember(name)) return timeText(value);
  return displayText(value, choices);
}
