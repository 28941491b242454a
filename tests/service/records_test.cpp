#include "service/records.h"

#include <gtest/gtest.h>

#include "fakes/expect_failure.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

const std::string kInvalidInput = Text(failures::kInvalidInput);
const std::string kNotInteger = Text(failures::kCountNotInteger);
const std::string kOutOfRange = Text(failures::kCountOutOfRange);
const std::string kTooLong = Text(failures::kTextTooLong);
const std::string kRecordId = Text(failures::kInvalidRecordId);
const char kId[] = "0123abcd-89AB-cdef-0123-456789abcdef";

json Order() {
  return {{"title", "代练"},
          {"note", ""},
          {"kind", "wager"},
          {"target_quantity", 1},
          {"failure_default_quantity", 0}};
}

json Match() {
  return {{"player_name", "玩家"}, {"note", ""},        {"outcome", "unknown"},
          {"confirmed", false},    {"amount", nullptr}, {"played_at", nullptr}};
}

json Entry() {
  return {{"kind", "progress"},
          {"quantity", -5},
          {"note", ""},
          {"occurred_at", nullptr},
          {"idempotency_key", kId}};
}

// Applies one change to a valid record: a member set, or removed when the value is
// absent.
json With(json record, const std::string& name, std::optional<json> value) {
  if (value) {
    record[name] = *value;
  } else {
    record.erase(name);
  }
  return record;
}

struct Case {
  const char* member;
  std::optional<json> value;
  std::string expected;
};

TEST(OrderRecordTest, MembersFollowTheirRules) {
  const Case cases[] = {
      {"note", std::nullopt, kInvalidInput},
      {"target_quantity", 0, kOutOfRange},
      {"target_quantity", 9000000000000, kPassed},
      {"failure_default_quantity", 0, kPassed},
      {"failure_standard_quantity", nullptr, kNotInteger},
      {"failure_standard_quantity", 9000000000001, kOutOfRange},
      {"wager_item_id", nullptr, kPassed},
      {"wager_item_name", nullptr, kInvalidInput},
      {"kind", "Hourly", kInvalidInput},
      {"failure_trigger", "below_standard", kPassed},
      {"failure_mode", "auto", kInvalidInput},
      {"wager_condition", "extracted", kPassed},
      {"wager_expected", "maybe", kInvalidInput},
      {"title", std::string(121, 't'), kTooLong},
      {"client_ref", "kept", kPassed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FailureOf([&] { CheckOrder(With(Order(), c.member, c.value), OrderKind::kOrder); }),
              c.expected)
        << c.member;
  }
  EXPECT_EQ(FailureOf([] { CheckOrder(Order(), OrderKind::kTemplate); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { CheckOrder(With(Order(), "name", "模板"), OrderKind::kTemplate); }),
            kPassed);
  EXPECT_EQ(FailureOf([] { CheckOrder(With(Order(), "name", "模板"), OrderKind::kOrder); }),
            kPassed);
}

TEST(OrderRecordTest, FirstFailingMemberInTableOrderDecides) {
  json order = With(Order(), "target_quantity", 0);
  order["title"] = 7;
  EXPECT_EQ(FailureOf([&] { CheckOrder(order, OrderKind::kOrder); }), kInvalidInput);
}

TEST(MatchRecordTest, MembersFollowTheirRules) {
  const Case cases[] = {
      {"amount", std::nullopt, kInvalidInput},
      {"amount", nullptr, kPassed},
      {"amount", -1, kOutOfRange},
      {"confirmed", 1, kInvalidInput},
      {"outcome", "unknown", kPassed},
      {"fake_amount", nullptr, kPassed},
      {"failure_extra_amount", nullptr, kNotInteger},
      {"item_obtained", nullptr, kPassed},
      {"item_obtained", "yes", kInvalidInput},
      {"played_at", std::string(129, '1'), kTooLong},
      {"order_id", nullptr, kInvalidInput},
      {"order_id", "", kRecordId},
      {"order_id", kId, kPassed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FailureOf([&] { CheckMatch(With(Match(), c.member, c.value)); }), c.expected)
        << c.member;
  }
}

TEST(LedgerEntryRecordTest, MembersFollowTheirRules) {
  const Case cases[] = {
      {"quantity", -5, kPassed},
      {"quantity", -9000000000001, kOutOfRange},
      {"idempotency_key", std::nullopt, kInvalidInput},
      {"idempotency_key", "not-an-id", kRecordId},
      {"outcome", "unknown", kInvalidInput},
      {"outcome", "failed", kPassed},
      {"occurred_at", nullptr, kPassed},
      {"occurred_at", std::nullopt, kInvalidInput},
      {"kind", "item_result", kPassed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FailureOf([&] { CheckLedgerEntry(With(Entry(), c.member, c.value)); }), c.expected)
        << c.member;
  }
}

TEST(SmallRecordsTest, CredentialsSettingsAndBoss) {
  EXPECT_EQ(FailureOf([] { CheckCredentials({{"email", "a@b.c"}, {"password", "p"}}); }), kPassed);
  EXPECT_EQ(FailureOf([] { CheckCredentials({{"email", "a@b.c"}}); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { CheckCredentials(json::array()); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] {
              CheckMatchSettings({{"boss_id", ""}, {"boss_player_name", "x"}});
            }),
            kPassed);

  json boss = {{"display_name", "老板"}, {"game_id", "g"}, {"game_name", "n"}};
  std::string notes;
  for (int i = 0; i < 4000; ++i) notes += "记";
  boss["notes"] = notes;
  EXPECT_EQ(FailureOf([&] { CheckBoss(boss); }), kPassed);
  boss["notes"] = notes + "记";
  EXPECT_EQ(FailureOf([&] { CheckBoss(boss); }), kTooLong);
}

TEST(CatalogFilterTest, YieldsQueryPartsAndIgnoresUnknownMembers) {
  const CatalogQuery empty = CheckCatalogFilter(nullptr);
  EXPECT_EQ(empty.q, "");
  EXPECT_EQ(empty.category, "");
  EXPECT_EQ(empty.pageQuery, "page=1&page_size=40");

  const CatalogQuery full = CheckCatalogFilter(
      {{"q", "剑 a"}, {"category", "武器"}, {"page", 3}, {"page_size", nullptr}, {"x", 1}});
  EXPECT_EQ(full.q, "剑 a");
  EXPECT_EQ(full.category, "武器");
  EXPECT_EQ(full.pageQuery, "page=3&page_size=40");

  EXPECT_EQ(FailureOf([] { CheckCatalogFilter({{"page_size", 0}}); }), kOutOfRange);
  EXPECT_EQ(FailureOf([] { CheckCatalogFilter({{"q", nullptr}}); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { CheckCatalogFilter(json::array()); }), kInvalidInput);
}

}  // namespace
}  // namespace vardeko::testing
