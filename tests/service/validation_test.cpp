#include "service/validation.h"

#include <gtest/gtest.h>

#include "fakes/expect_failure.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

const std::string kInvalidInput = Text(failures::kInvalidInput);
const std::string kEncoding = Text(failures::kInvalidEncoding);
const std::string kTooLong = Text(failures::kTextTooLong);
const std::string kNotInteger = Text(failures::kCountNotInteger);
const std::string kOutOfRange = Text(failures::kCountOutOfRange);
const std::string kRecordId = Text(failures::kInvalidRecordId);

TEST(TextCheckTest, CountsUtf16UnitsAndRefusesBadText) {
  const struct {
    const char* name;
    json value;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"80 BMP characters", Repeat("订", 80), 80, kPassed},
      {"81 BMP characters", Repeat("订", 81), 80, kTooLong},
      {"40 astral characters", Repeat("\xF0\x9F\x98\x80", 40), 80, kPassed},
      {"41 astral characters", Repeat("\xF0\x9F\x98\x80", 41), 80, kTooLong},
      {"empty", "", 0, kPassed},
      {"number", 5, 80, kInvalidInput},
      {"null", nullptr, 80, kInvalidInput},
      {"NUL character", std::string("a\0b", 3), 80, kInvalidInput},
      {"NUL before bad UTF-8", std::string("\0\xFF", 2), 80, kInvalidInput},
      {"lone continuation", "a\x80", 80, kEncoding},
      {"overlong", "\xC0\xAF", 80, kEncoding},
      {"encoded surrogate", "\xED\xA0\x80", 80, kEncoding},
      {"above U+10FFFF", "\xF4\x90\x80\x80", 80, kEncoding},
      {"bad UTF-8 over the limit", Repeat("a", 100) + "\xFF", 80, kEncoding},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureOf([&] { CheckText(c.value, c.limit); }), c.expected) << c.name;
  }
  EXPECT_EQ(CheckText(json("订单 1"), 10), "订单 1");
}

TEST(CountCheckTest, OnlyJsonIntegersWithinTheRange) {
  const auto check = [](const char* text, std::int64_t min, std::int64_t max) {
    return FailureOf([&] { CheckCount(json::parse(text), min, max); });
  };
  EXPECT_EQ(check("100", 1, 100), kPassed);
  EXPECT_EQ(check("0", 1, 100), kOutOfRange);
  EXPECT_EQ(check("101", 1, 100), kOutOfRange);
  EXPECT_EQ(check("-1", 1, 100), kOutOfRange);
  for (const char* notInteger : {"1.0", "1e3", "\"5\"", "true", "null", "[]", "{}"}) {
    EXPECT_EQ(check(notInteger, 1, 100), kNotInteger) << notInteger;
  }
  EXPECT_EQ(check("-9000000000000", -kMaxQuantity, kMaxQuantity), kPassed);
  EXPECT_EQ(check("9000000000000", -kMaxQuantity, kMaxQuantity), kPassed);
  EXPECT_EQ(check("9000000000001", -kMaxQuantity, kMaxQuantity), kOutOfRange);
  EXPECT_EQ(check("-9000000000001", -kMaxQuantity, kMaxQuantity), kOutOfRange);
  EXPECT_EQ(check("0", 0, kMaxQuantity), kPassed);
  EXPECT_EQ(check("18446744073709551615", 0, kMaxQuantity), kOutOfRange);
  EXPECT_EQ(check("-9223372036854775808", 0, kMaxQuantity), kOutOfRange);
  EXPECT_EQ(check("9007199254740991", 1, kMaxPage), kPassed);
  EXPECT_EQ(CheckCount(json(-5), -kMaxQuantity, kMaxQuantity), -5);
}

TEST(RecordIdTest, HyphenatedHexInEitherCase) {
  const std::string id = "0123abcd-89AB-cdef-0123-456789abcdef";
  EXPECT_EQ(CheckRecordId(id), id);
  const struct {
    json value;
    std::string expected;
  } cases[] = {
      {"0123abcd89AB-cdef-0123-456789abcdef", kRecordId},   // 35: first hyphen missing
      {"0123abcd-89AB-cdef-0123-456789abcdef0", kTooLong},  // 37 characters
      {"0123abcd-89AB-cdef-0123-456789abcdeé", kRecordId},  // 36 characters, 37 bytes
      {"0123abcd-89AB-cdef-0123-456789abcdeg", kRecordId},
      {"0123abcd-89AB-cdef-0123_456789abcdef", kRecordId},
      {"0123abcd-89AB-cdef-01234-56789abcdef", kRecordId},
      {"                                    ", kRecordId},
      {42, kInvalidInput},
      {nullptr, kInvalidInput},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureOf([&] { CheckRecordId(c.value); }), c.expected) << c.value.dump();
  }
  // 35 characters of which one takes two bytes: 36 bytes, yet not the form.
  EXPECT_EQ(FailureOf([] { CheckRecordId(json("0123abcd-89AB-cdef-0123-456789abcdé")); }),
            kRecordId);
}

TEST(RecordIdTest, OptionalIdTakesNullAndEmptyAsNone) {
  EXPECT_EQ(CheckOptionalRecordId(nullptr), "");
  EXPECT_EQ(CheckOptionalRecordId(""), "");
  EXPECT_EQ(FailureOf([] { CheckOptionalRecordId(json(Repeat(" ", 36))); }), kRecordId);
  EXPECT_EQ(FailureOf([] { CheckOptionalRecordId(json(7)); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { CheckOptionalRecordId(json(false)); }), kInvalidInput);
}

TEST(ObjectCheckTest, ObjectsUpTo128KiBCompact) {
  for (const char* bad : {"[]", "\"x\"", "null", "1"}) {
    EXPECT_EQ(FailureOf([&] { CheckObject(json::parse(bad)); }), kInvalidInput) << bad;
  }
  EXPECT_EQ(FailureOf([] { CheckObject(json::object()); }), kPassed);
  // {"a":"…"} is 8 bytes around the text.
  json atLimit = {{"a", std::string(131072 - 8, 'x')}};
  ASSERT_EQ(atLimit.dump().size(), 131072u);
  EXPECT_EQ(FailureOf([&] { CheckObject(atLimit); }), kPassed);
  atLimit["a"] = std::string(131073 - 8, 'x');
  EXPECT_EQ(FailureOf([&] { CheckObject(atLimit); }), kInvalidInput);
}

TEST(MemberCheckTest, PresenceNullabilityAndChoices) {
  const json record = {{"present", "Success"}, {"null", nullptr}, {"ok", "success"}};
  EXPECT_TRUE(HasMember(record, "null"));
  EXPECT_FALSE(HasMember(record, "absent"));
  EXPECT_FALSE(HasMember(json::array(), "present"));

  const auto text = [&](const char* name, Presence presence, Nullability nullability) {
    return FailureOf([&] { CheckTextMember(record, name, 10, presence, nullability); });
  };
  EXPECT_EQ(text("absent", Presence::kOptional, Nullability::kNotNull), kPassed);
  EXPECT_EQ(text("absent", Presence::kRequired, Nullability::kNotNull), kInvalidInput);
  EXPECT_EQ(text("null", Presence::kRequired, Nullability::kNullable), kPassed);
  EXPECT_EQ(text("null", Presence::kRequired, Nullability::kNotNull), kInvalidInput);

  const auto choice = [&](const char* name, Presence presence) {
    return FailureOf([&] { CheckChoice(record, name, {"success", "failed"}, presence); });
  };
  EXPECT_EQ(choice("ok", Presence::kRequired), kPassed);
  EXPECT_EQ(choice("present", Presence::kRequired), kInvalidInput);  // capital S
  EXPECT_EQ(choice("null", Presence::kOptional), kInvalidInput);
  EXPECT_EQ(choice("absent", Presence::kOptional), kPassed);
  EXPECT_EQ(choice("absent", Presence::kRequired), kInvalidInput);
}

TEST(PageQueryTest, DefaultsAndRanges) {
  EXPECT_EQ(PageQuery(nullptr, nullptr, 20), "page=1&page_size=20");
  EXPECT_EQ(PageQuery(json(9007199254740991), json(100), 20),
            "page=9007199254740991&page_size=100");
  EXPECT_EQ(FailureOf([] { PageQuery(json(0), nullptr, 20); }), kOutOfRange);
  EXPECT_EQ(FailureOf([] { PageQuery(nullptr, json(101), 20); }), kOutOfRange);
  // The page is checked before the page size.
  EXPECT_EQ(FailureOf([] { PageQuery(json("1"), json(0), 20); }), kNotInteger);
}

TEST(UrlEncodingTest, UnreservedBytesStayAndTheRestIsUpperCaseHex) {
  EXPECT_EQ(UrlEncodeComponent("a b/c"), "a%20b%2Fc");
  EXPECT_EQ(UrlEncodeComponent("中"), "%E4%B8%AD");
  EXPECT_EQ(UrlEncodeComponent("A-Z_a.z~0"), "A-Z_a.z~0");
  EXPECT_EQ(UrlEncodeComponent(std::string("\0%+&=", 5)), "%00%25%2B%26%3D");
  EXPECT_EQ(UrlEncodeComponent(""), "");
}

TEST(StrictConversionTest, FailuresCarryTheServiceMessages) {
  EXPECT_EQ(ToUtf16Strict(""), u"");
  EXPECT_EQ(ToUtf16Strict("订单"), u"订单");
  EXPECT_EQ(FailureOf([] { ToUtf16Strict(std::string("a\0", 2)); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { ToUtf16Strict("\xC3("); }), kEncoding);
  EXPECT_EQ(FailureOf([] { ToUtf8Strict(std::u16string{0xD800}); }), kInvalidInput);
  EXPECT_EQ(ToUtf8Strict(u"订单"), "订单");
}

TEST(ArgumentTest, PositionsPastTheEndReadAsNullAndCountsAreBounded) {
  const json args = {1, "two"};
  EXPECT_EQ(ArgumentAt(args, 1), "two");
  EXPECT_TRUE(ArgumentAt(args, 2).is_null());
  EXPECT_EQ(CheckArgumentCount(args, 0, 2), 2u);
  EXPECT_EQ(FailureOf([&] { CheckArgumentCount(args, 0, 1); }), kInvalidInput);
  EXPECT_EQ(FailureOf([&] { CheckArgumentCount(args, 3, 4); }), kInvalidInput);
  EXPECT_EQ(FailureOf([] { CheckArgumentCount(json::object(), 0, 8); }), kInvalidInput);
}

}  // namespace
}  // namespace vardeko::testing
