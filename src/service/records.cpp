#include "service/records.h"

#include "base/api_failure.h"
#include "service/validation.h"

namespace vardeko {
namespace {

using nlohmann::json;
constexpr auto kRequired = Presence::kRequired;
constexpr auto kOptional = Presence::kOptional;
constexpr auto kNullable = Nullability::kNullable;

// A count member; null is not a count unless the rule says so.
void CheckCountMember(const json& record, std::string_view name, std::int64_t minimum,
                      std::int64_t maximum, Presence presence,
                      Nullability nullability = Nullability::kNotNull) {
  if (const json* value = MemberToCheck(record, name, presence, nullability)) {
    CheckCount(*value, minimum, maximum);
  }
}

void CheckBooleanMember(const json& record, std::string_view name, Presence presence,
                        Nullability nullability = Nullability::kNotNull) {
  const json* value = MemberToCheck(record, name, presence, nullability);
  if (value != nullptr && !value->is_boolean()) Throw(failures::kInvalidInput);
}

const json& MemberOrNull(const json& record, std::string_view name) {
  static const json kNull;
  return HasMember(record, name) ? *record.find(name) : kNull;
}

}  // namespace

void CheckCredentials(const json& record) {
  CheckObject(record);
  CheckTextMember(record, "email", 320, kRequired);
  CheckTextMember(record, "password", 1024, kRequired);
}

void CheckMatchSettings(const json& record) {
  CheckObject(record);
  CheckTextMember(record, "boss_id", 80, kRequired);
  CheckTextMember(record, "boss_player_name", 80, kRequired);
}

void CheckBoss(const json& record) {
  CheckObject(record);
  CheckTextMember(record, "display_name", 80, kRequired);
  CheckTextMember(record, "game_id", 80, kRequired);
  CheckTextMember(record, "game_name", 80, kRequired);
  CheckTextMember(record, "notes", 4000, kRequired);
}

void CheckOrder(const json& record, OrderKind kind) {
  CheckObject(record);
  CheckTextMember(record, "title", 120, kRequired);
  CheckTextMember(record, "note", 2000, kRequired);
  CheckChoice(record, "kind", {"hourly", "escort", "single_round", "wager"}, kRequired);
  CheckCountMember(record, "target_quantity", 1, kMaxQuantity, kRequired);
  CheckCountMember(record, "failure_default_quantity", 0, kMaxQuantity, kRequired);
  CheckChoice(record, "failure_trigger", {"failed", "failed_below_standard", "below_standard"},
              kOptional);
  CheckChoice(record, "failure_mode", {"manual", "fixed", "shortfall"}, kOptional);
  CheckCountMember(record, "failure_standard_quantity", 0, kMaxQuantity, kOptional);
  CheckTextMember(record, "wager_item_id", 80, kOptional, kNullable);
  CheckTextMember(record, "wager_item_name", 160, kOptional);
  CheckChoice(record, "wager_condition", {"appearance", "extracted"}, kOptional);
  CheckChoice(record, "wager_expected", {"obtained", "not_obtained"}, kOptional);
  if (kind == OrderKind::kTemplate) CheckTextMember(record, "name", 80, kRequired);
}

void CheckMatch(const json& record) {
  CheckObject(record);
  CheckTextMember(record, "player_name", 80, kRequired);
  CheckTextMember(record, "note", 1000, kRequired);
  CheckChoice(record, "outcome", {"success", "failed", "unknown"}, kRequired);
  CheckBooleanMember(record, "confirmed", kRequired);
  CheckCountMember(record, "amount", 0, kMaxQuantity, kRequired, kNullable);
  CheckCountMember(record, "fake_amount", 0, kMaxQuantity, kOptional, kNullable);
  CheckCountMember(record, "failure_extra_amount", 0, kMaxQuantity, kOptional);
  CheckBooleanMember(record, "item_obtained", kOptional, kNullable);
  CheckTextMember(record, "played_at", 128, kRequired, kNullable);
  if (HasMember(record, "order_id")) CheckRecordId(*record.find("order_id"));
}

void CheckLedgerEntry(const json& record) {
  CheckObject(record);
  CheckChoice(record, "kind", {"progress", "failure", "adjustment", "item_result"}, kRequired);
  CheckCountMember(record, "quantity", -kMaxQuantity, kMaxQuantity, kRequired);
  CheckTextMember(record, "note", 1000, kRequired);
  CheckTextMember(record, "occurred_at", 128, kRequired, kNullable);
  if (!HasMember(record, "idempotency_key")) Throw(failures::kInvalidInput);
  CheckRecordId(*record.find("idempotency_key"));
  CheckCountMember(record, "amount", 0, kMaxQuantity, kOptional, kNullable);
  CheckCountMember(record, "fake_amount", 0, kMaxQuantity, kOptional, kNullable);
  CheckCountMember(record, "failure_extra_amount", 0, kMaxQuantity, kOptional);
  CheckBooleanMember(record, "item_obtained", kOptional, kNullable);
  CheckChoice(record, "outcome", {"success", "failed"}, kOptional);
}

CatalogQuery CheckCatalogFilter(const json& filter) {
  static const json kEmptyFilter = json::object();
  const json& record = filter.is_null() ? kEmptyFilter : filter;
  CheckObject(record);
  CatalogQuery query;
  if (HasMember(record, "q")) query.q = CheckText(*record.find("q"), 120);
  if (HasMember(record, "category")) query.category = CheckText(*record.find("category"), 80);
  query.pageQuery =
      PageQuery(MemberOrNull(record, "page"), MemberOrNull(record, "page_size"), kCatalogPageSize);
  return query;
}

}  // namespace vardeko
