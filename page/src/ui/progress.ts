// An order's progress against its target, as a bar and `6 / 10`, and its counts.
import type { JsonRecord } from '../client/replies';
import { h } from './dom';
import { numberText } from './format';

const num = (value: unknown) => (typeof value === 'number' && Number.isFinite(value) ? value : undefined);

/** `6 / 10` and its share, when the order has a target. */
export function progressOf(order: JsonRecord): { done: number; target: number; text: string; share: number } | undefined {
  const done = num(order.progress_quantity);
  const target = num(order.target_quantity);
  if (done === undefined || target === undefined) return undefined;
  return { done, target, text: `${numberText(done)} / ${numberText(target)}`, share: target > 0 ? done / target : 0 };
}

export function progressBar(order: JsonRecord): HTMLElement | null {
  const progress = progressOf(order);
  if (!progress) return null;
  const percent = Math.max(0, Math.min(100, Math.round(progress.share * 100)));
  return h(
    'span',
    { class: progress.share >= 1 ? 'progress done' : 'progress', role: 'img', 'aria-label': `进度 ${progress.text}` },
    h('span', { class: 'bar' }, h('span', { class: 'fill', style: `width: ${percent}%` })),
    h('span', { class: 'progress-text' }, progress.text),
  );
}

/** The order's totals: progress, entries and matches. */
export function orderTotals(order: JsonRecord): HTMLElement {
  const items: Node[] = [];
  const bar = progressBar(order);
  if (bar) items.push(h('div', { class: 'total' }, h('span', { class: 'total-label' }, '进度'), bar));
  for (const [name, label] of [
    ['entry_count', '账目'],
    ['match_count', '对局'],
  ] as const) {
    const value = num(order[name]);
    if (value !== undefined) items.push(h('div', { class: 'total' }, h('span', { class: 'total-label' }, label), h('strong', {}, `${numberText(value)} 条`)));
  }
  return h('div', { class: 'totals' }, items);
}
