// The bounded parser reads text with its own block-wise code, not the JSON library's
// lexer: whatever a string holds and wherever it sits, and for every kind of token, the
// outcome must be the library's own, from UTF-8 and from UTF-16 text alike.
#include <gtest/gtest.h>

#include <string>

#include "base/bounded_json.h"
#include "base/utf.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

// Well past the length from which strings are decoded apart.
const std::string kFill(5000, 'x');

struct Contents {
  const char* name;
  std::string text;  // between the quotes
};

std::vector<Contents> ContentsCases() {
  std::vector<Contents> cases = {
      {"plain", kFill},
      {"every short escape", kFill + R"(\"\\\/\b\f\n\r\t)" + kFill},
      {"unicode escapes", kFill + R"(\u0041\u00e9\u4e2d\uD83D\uDE00\u0000)"},
      {"hex digits of either case", kFill + R"(\uaBcD)"},
      {"text of every length", kFill + "é订\xF0\x9F\x98\x80" + "\x7F"},
      {"control character", kFill + "\x01"},
      {"tab unescaped", kFill + "\t"},
      {"unknown escape", kFill + R"(\x)"},
      {"short unicode escape", kFill + R"(\u12)"},
      {"bad hex digit", kFill + R"(\u12G4)"},
      {"lone high surrogate", kFill + R"(\uD83D)" + kFill},
      {"high surrogate then text", kFill + R"(\uD83Dx\uDE00)"},
      {"high surrogate then high", kFill + R"(\uD83D\uD83D)"},
      {"lone low surrogate", kFill + R"(\uDE00)"},
      {"backslash at the end", kFill + "\\"},
      {"overlong form", kFill + "\xC0\xAF"},
      {"encoded surrogate", kFill + "\xED\xA0\x80"},
      {"stray continuation", kFill + "\x80"},
      {"truncated sequence", kFill + "\xE4\xB8"},
  };
  // Non-ASCII and escapes at every place within a block of the vector scans.
  for (std::size_t offset = 0; offset < 34; ++offset) {
    cases.push_back({"offset", std::string(kFill.size() + offset, 'y') + "订" + kFill});
    cases.push_back({"escape offset", std::string(kFill.size() + offset, 'y') + "\\n" + kFill});
    cases.push_back({"bad byte offset", std::string(kFill.size() + offset, 'y') + "\xFF" + kFill});
  }
  return cases;
}

std::vector<std::string> Documents(const std::string& s) {
  return {
      "\"" + s + "\"",
      R"({"id":"a","args":[")" + s + R"(",1,"short"]})",
      R"({")" + s + R"(":1,")" + s + R"(":[true]})",  // a long name, given twice
      R"([")" + s + R"(",")" + s + R"(x"])",
      "\xEF\xBB\xBF[\"" + s + "\"]",
      R"({"a":")" + s + R"("} x)",  // text after the value
      R"({"a":")" + s + R"(")",     // unclosed object
      R"([")" + s,                  // unterminated string
      R"(["a\)" + s + R"("])",      // a backslash before the long part
  };
}

void ExpectSameOutcome(const std::string& text, const std::string& label) {
  const json expected = json::parse(text, nullptr, false);
  const std::optional<json> fromUtf8 = ParseBoundedJson(text);
  ASSERT_EQ(fromUtf8.has_value(), !expected.is_discarded()) << label;
  if (fromUtf8) {
    EXPECT_EQ(*fromUtf8, expected) << label;
  }
  // Written compact without a tree: the same texts pass, as the tree's dump().
  SecretString compact;
  ASSERT_EQ(AppendCompactBoundedJson(text, compact), fromUtf8.has_value()) << label;
  if (fromUtf8) {
    EXPECT_EQ(compact.view(), fromUtf8->dump()) << label << " (compact)";
  }

  std::u16string wide;
  if (!utf::Utf8ToUtf16(text, wide)) return;  // the page cannot send it
  const std::optional<json> fromUtf16 = ParseBoundedJson(wide);
  ASSERT_EQ(fromUtf16.has_value(), !expected.is_discarded()) << label << " (UTF-16)";
  if (fromUtf16) {
    EXPECT_EQ(*fromUtf16, expected) << label << " (UTF-16)";
  }
}

TEST(BoundedJsonLongStringsTest, OutcomeIsTheLibrarysForEveryContentAndPlace) {
  for (const Contents& contents : ContentsCases()) {
    const std::vector<std::string> documents = Documents(contents.text);
    for (std::size_t i = 0; i < documents.size(); ++i) {
      ExpectSameOutcome(documents[i], std::string(contents.name) + " #" + std::to_string(i));
    }
  }
}

TEST(BoundedJsonLongStringsTest, EveryTokenReadsAsTheLibraryReadsIt) {
  const std::string nul(1, '\0');
  const std::string tokens[] = {
      // numbers: forms, signs, the integer ranges and the fall-back to a double
      "0",
      "-0",
      "01",
      "-",
      "1.",
      ".5",
      "+1",
      "1e",
      "1E+2",
      "-1.5e-3",
      "1e400",
      "-1e400",
      "1e-400",
      "18446744073709551615",
      "18446744073709551616",
      "-9223372036854775808",
      "-9223372036854775809",
      "123456789012345678901234567890",
      "0.1",
      "2.5E-3",
      "1x",
      // literals
      "true",
      "false",
      "null",
      "tru",
      "nul",
      "falsey",
      "True",
      // escapes of short strings, the second half of a pair included
      R"("\ud83d\ude00")",
      R"("\ud83d-ude00")",
      R"("\ud83d\u0041")",
      R"("\ude00")",
      R"("\/")",
      "\"\\u00e9\"",
      "\"\xC3\xA9\"",
      "\"\xFF\"",
      "\"\t\"",
      "\"" + nul + "\"",
      // structure and what may follow it: a NUL ends the text for the library
      "[]",
      "[ ]",
      "{ }",
      "[1,]",
      "[,1]",
      "{\"a\"}",
      "{\"a\":1,}",
      "{1:1}",
      "[1 2]",
      "1" + nul + "x",
      "[1]" + nul + "]",
      "tr" + nul + "ue",
      nul,
      "",
      " ",
      "\xEF\xBB\xBF"
      "1",
      "\xEF\xBB"
      "1",
      "\xEF\xBB\xBF",
      " \xEF\xBB\xBF"
      "1",
      "\xC2\xA0"
      "1",
      "\x01",
  };
  for (const std::string& token : tokens) {
    ExpectSameOutcome(token, "token " + token);
    ExpectSameOutcome(R"({"k":[)" + token + "]}", "nested " + token);
  }
}

TEST(BoundedJsonLongStringsTest, Utf16SurrogatesMustPair) {
  const std::u16string fill(5000, u'x');
  const std::optional<json> paired = ParseBoundedJson(u"[\"" + fill + u"\U0001F600\"]");
  ASSERT_TRUE(paired);
  EXPECT_EQ(paired->at(0).get<std::string>(), std::string(5000, 'x') + "\xF0\x9F\x98\x80");
  for (const std::u16string& unpaired :
       {fill + char16_t{0xD83D}, fill + char16_t{0xDE00} + fill, char16_t{0xD83D} + fill}) {
    EXPECT_FALSE(ParseBoundedJson(u"[\"" + unpaired + u"\"]"));
  }
  // Outside the long string as inside it.
  EXPECT_FALSE(ParseBoundedJson(u"[\"" + fill + u"\",\"" + char16_t{0xD800} + u"\"]"));
}

TEST(BoundedJsonLongStringsTest, BoundsHoldWithLongStringsInside) {
  const std::string deep =
      std::string(kMaxJsonDepth, '[') + "\"" + kFill + "\"" + std::string(kMaxJsonDepth, ']');
  EXPECT_TRUE(ParseBoundedJson(deep));
  EXPECT_FALSE(ParseBoundedJson("[" + deep + "]"));
  std::u16string wide;
  ASSERT_TRUE(utf::Utf8ToUtf16("[" + deep + "]", wide));
  EXPECT_FALSE(ParseBoundedJson(wide));
}

}  // namespace
}  // namespace vardeko::testing
