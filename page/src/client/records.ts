// The request records the service methods take. A record is sent exactly as given,
// members the native side does not know included; the rules below only mirror its checks.
import { MAX_AMOUNT, MAX_PAGE, boolean, choice, count, recordId, text, type JsonValue, type MemberRule } from './checks';

type Extra = { [member: string]: JsonValue | undefined };

export interface Credentials extends Extra {
  email: string;
  password: string;
}

export interface MatchSettingsRecord extends Extra {
  boss_id: string;
  boss_player_name: string;
}

export interface CatalogFilter extends Extra {
  q?: string;
  category?: string;
  page?: number | null;
  page_size?: number | null;
}

export interface BossRecord extends Extra {
  display_name: string;
  game_id: string;
  game_name: string;
  notes: string;
}

export const ORDER_KINDS = ['hourly', 'escort', 'single_round', 'wager'] as const;
export const FAILURE_TRIGGERS = ['failed', 'failed_below_standard', 'below_standard'] as const;
export const FAILURE_MODES = ['manual', 'fixed', 'shortfall'] as const;
export const WAGER_CONDITIONS = ['appearance', 'extracted'] as const;
export const WAGER_EXPECTATIONS = ['obtained', 'not_obtained'] as const;
export const MATCH_OUTCOMES = ['success', 'failed', 'unknown'] as const;
export const LEDGER_KINDS = ['progress', 'failure', 'adjustment', 'item_result'] as const;
export const LEDGER_OUTCOMES = ['success', 'failed'] as const;

export interface OrderRecord extends Extra {
  title: string;
  note: string;
  kind: (typeof ORDER_KINDS)[number];
  target_quantity: number;
  failure_default_quantity: number;
  failure_trigger?: (typeof FAILURE_TRIGGERS)[number];
  failure_mode?: (typeof FAILURE_MODES)[number];
  failure_standard_quantity?: number;
  wager_item_id?: string | null;
  wager_item_name?: string;
  wager_condition?: (typeof WAGER_CONDITIONS)[number];
  wager_expected?: (typeof WAGER_EXPECTATIONS)[number];
}

export interface OrderTemplateRecord extends OrderRecord {
  name: string;
}

export interface MatchRecord extends Extra {
  player_name: string;
  note: string;
  outcome: (typeof MATCH_OUTCOMES)[number];
  confirmed: boolean;
  amount: number | null;
  fake_amount?: number | null;
  failure_extra_amount?: number;
  item_obtained?: boolean | null;
  played_at: string | null;
  order_id?: string;
}

export interface LedgerEntryRecord extends Extra {
  kind: (typeof LEDGER_KINDS)[number];
  quantity: number;
  note: string;
  occurred_at: string | null;
  idempotency_key: string;
  amount?: number | null;
  fake_amount?: number | null;
  failure_extra_amount?: number;
  item_obtained?: boolean | null;
  outcome?: (typeof LEDGER_OUTCOMES)[number];
}

/** The record uploadMatch builds from a file; shown for reference, the page passes a Blob. */
export interface ScreenshotRecord {
  name: string;
  content_type: 'image/png' | 'image/jpeg' | 'image/webp';
  data_base64: string;
  order_id?: string | null;
}

const optional = { optional: true };
const nullable = { nullable: true };
const optionalNullable = { optional: true, nullable: true };

export const credentialsRules: MemberRule[] = [text('email', 320), text('password', 1024)];

export const matchSettingsRules: MemberRule[] = [text('boss_id', 80), text('boss_player_name', 80)];

export const catalogFilterRules: MemberRule[] = [
  text('q', 120, optional),
  text('category', 80, optional),
  count('page', 1, MAX_PAGE, optionalNullable),
  count('page_size', 1, 100, optionalNullable),
];

export const bossRules: MemberRule[] = [
  text('display_name', 80),
  text('game_id', 80),
  text('game_name', 80),
  text('notes', 4000),
];

export const orderRules: MemberRule[] = [
  text('title', 120),
  text('note', 2000),
  choice('kind', ORDER_KINDS),
  count('target_quantity', 1, MAX_AMOUNT),
  count('failure_default_quantity', 0, MAX_AMOUNT),
  choice('failure_trigger', FAILURE_TRIGGERS, optional),
  choice('failure_mode', FAILURE_MODES, optional),
  count('failure_standard_quantity', 0, MAX_AMOUNT, optional),
  text('wager_item_id', 80, optionalNullable),
  text('wager_item_name', 160, optional),
  choice('wager_condition', WAGER_CONDITIONS, optional),
  choice('wager_expected', WAGER_EXPECTATIONS, optional),
];

export const orderTemplateRules: MemberRule[] = [...orderRules, text('name', 80)];

export const matchRules: MemberRule[] = [
  text('player_name', 80),
  text('note', 1000),
  choice('outcome', MATCH_OUTCOMES),
  boolean('confirmed'),
  count('amount', 0, MAX_AMOUNT, nullable),
  count('fake_amount', 0, MAX_AMOUNT, optionalNullable),
  count('failure_extra_amount', 0, MAX_AMOUNT, optional),
  boolean('item_obtained', optionalNullable),
  text('played_at', 128, nullable),
  recordId('order_id', optional),
];

export const ledgerEntryRules: MemberRule[] = [
  choice('kind', LEDGER_KINDS),
  count('quantity', -MAX_AMOUNT, MAX_AMOUNT),
  text('note', 1000),
  text('occurred_at', 128, nullable),
  recordId('idempotency_key'),
  count('amount', 0, MAX_AMOUNT, optionalNullable),
  count('fake_amount', 0, MAX_AMOUNT, optionalNullable),
  count('failure_extra_amount', 0, MAX_AMOUNT, optional),
  boolean('item_obtained', optionalNullable),
  choice('outcome', LEDGER_OUTCOMES, optional),
];
