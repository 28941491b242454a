// The members of each request record, in the records' own order, with Chinese labels for
// the members and for every exact value of a choice.
import type { Field } from '../client/replies';

export type InputKind =
  | 'text' // required text
  | 'area' // required long text
  | 'count' // required integer
  | 'nullableCount' // integer or null (empty)
  | 'nullableText' // text or null (empty)
  | 'optionalText' // text, left out when empty
  | 'optionalCount' // integer, left out when empty
  | 'choice' // required choice
  | 'optionalChoice' // choice, left out when none is chosen
  | 'boolean' // required true or false
  | 'optionalBoolean' // true, false or left out
  | 'nullableTime'; // a date and time sent as ISO 8601 with the offset, or null (empty)

export interface FormField extends Field {
  input: InputKind;
  limit?: number;
  /** The service refuses it empty: the page asks for it first. */
  required?: boolean;
  /** Shown (and sent) only while this holds for the form's current values. */
  when?: (values: Record<string, unknown>) => boolean;
  placeholder?: string;
}

export const ORDER_KIND_LABELS = { hourly: '按小时', escort: '护航', single_round: '单局', wager: '对赌' };
const FAILURE_TRIGGER_LABELS = { failed: '对局失败', failed_below_standard: '失败或未达标', below_standard: '未达标' };
const FAILURE_MODE_LABELS = { manual: '手动填写', fixed: '固定数量', shortfall: '按差额' };
const WAGER_CONDITION_LABELS = { appearance: '出现即算', extracted: '带出才算' };
const WAGER_EXPECTED_LABELS = { obtained: '获得', not_obtained: '未获得' };
export const MATCH_OUTCOME_LABELS = { success: '成功', failed: '失败', unknown: '未知' };
export const LEDGER_KIND_LABELS = { progress: '进度', failure: '失败', adjustment: '调整', item_result: '物品结果' };
const LEDGER_OUTCOME_LABELS = { success: '成功', failed: '失败' };

// Failure members matter where a round can be lost; wager members only for a wager.
const hasFailures = (values: Record<string, unknown>) => values.kind !== undefined && values.kind !== 'hourly';
const isWager = (values: Record<string, unknown>) => values.kind === 'wager';

export const bossFields: FormField[] = [
  { name: 'display_name', label: '显示名称', input: 'text', limit: 80, required: true },
  { name: 'game_id', label: '游戏 ID', input: 'text', limit: 80 },
  { name: 'game_name', label: '游戏昵称', input: 'text', limit: 80 },
  { name: 'notes', label: '备注', input: 'area', limit: 4000 },
];

export const orderFields: FormField[] = [
  { name: 'title', label: '标题', input: 'text', limit: 120, required: true },
  { name: 'note', label: '备注', input: 'area', limit: 2000 },
  { name: 'kind', label: '类型', input: 'choice', choices: ORDER_KIND_LABELS },
  { name: 'target_quantity', label: '目标数量', input: 'count' },
  { name: 'failure_default_quantity', label: '失败默认数量', input: 'count' },
  { name: 'failure_trigger', label: '失败判定', input: 'optionalChoice', choices: FAILURE_TRIGGER_LABELS, when: hasFailures },
  { name: 'failure_mode', label: '失败计算', input: 'optionalChoice', choices: FAILURE_MODE_LABELS, when: hasFailures },
  { name: 'failure_standard_quantity', label: '达标数量', input: 'optionalCount', when: hasFailures },
  { name: 'wager_item_id', label: '对赌物品编号', input: 'optionalText', limit: 80, when: isWager },
  { name: 'wager_item_name', label: '对赌物品', input: 'optionalText', limit: 160, when: isWager },
  { name: 'wager_condition', label: '对赌条件', input: 'optionalChoice', choices: WAGER_CONDITION_LABELS, when: isWager },
  { name: 'wager_expected', label: '对赌预期', input: 'optionalChoice', choices: WAGER_EXPECTED_LABELS, when: isWager },
];

export const templateFields: FormField[] = [
  { name: 'name', label: '模板名称', input: 'text', limit: 80, required: true },
  ...orderFields,
];

/** The template's members in the order the records list them ("name" last). */
export const templateShownFields: FormField[] = [...orderFields, templateFields[0]];

export const matchFields: FormField[] = [
  { name: 'player_name', label: '玩家名称', input: 'text', limit: 80 },
  { name: 'note', label: '备注', input: 'area', limit: 1000 },
  { name: 'outcome', label: '结果', input: 'choice', choices: MATCH_OUTCOME_LABELS },
  { name: 'confirmed', label: '已确认', input: 'boolean' },
  { name: 'amount', label: '金额', input: 'nullableCount' },
  { name: 'fake_amount', label: '虚报金额', input: 'optionalCount' },
  { name: 'failure_extra_amount', label: '失败追加金额', input: 'optionalCount' },
  { name: 'item_obtained', label: '获得物品', input: 'optionalBoolean' },
  { name: 'played_at', label: '对局时间', input: 'nullableTime' },
  { name: 'order_id', label: '订单', input: 'optionalChoice' },
];

export const ledgerFields: FormField[] = [
  { name: 'kind', label: '类型', input: 'choice', choices: LEDGER_KIND_LABELS },
  { name: 'quantity', label: '数量', input: 'count' },
  { name: 'note', label: '备注', input: 'area', limit: 1000 },
  { name: 'occurred_at', label: '发生时间', input: 'nullableTime' },
  { name: 'amount', label: '金额', input: 'optionalCount' },
  { name: 'fake_amount', label: '虚报金额', input: 'optionalCount' },
  { name: 'failure_extra_amount', label: '失败追加金额', input: 'optionalCount' },
  { name: 'item_obtained', label: '获得物品', input: 'optionalBoolean' },
  { name: 'outcome', label: '结果', input: 'optionalChoice', choices: LEDGER_OUTCOME_LABELS },
];

/** The entry as shown: the key the page made stays under 更多字段 with the record ids. */
export const ledgerShownFields: FormField[] = ledgerFields;

export const settingsFields: FormField[] = [
  { name: 'boss_id', label: '老板游戏 ID', input: 'text', limit: 80 },
  { name: 'boss_player_name', label: '老板玩家名', input: 'text', limit: 80 },
];

export const catalogFields: Field[] = [
  { name: 'category', label: '类别' },
  { name: 'grade', label: '品级' },
  { name: 'value', label: '价值' },
];
