#include "base/bounded_json.h"

#include <gtest/gtest.h>

#include <string>

namespace vardeko::testing {
namespace {

using nlohmann::json;

std::string Nested(std::size_t depth, const std::string& inner = "") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

// Whether the compact writer takes the text (it must take what the parser takes).
bool Compact(const std::string& text) {
  SecretString out;
  return AppendCompactBoundedJson(text, out);
}

TEST(BoundedJsonTest, DepthAtTheBoundParsesAndOneMoreDoesNot) {
  const std::optional<json> atBound = ParseBoundedJson(Nested(kMaxJsonDepth, "1"));
  ASSERT_TRUE(atBound);
  EXPECT_EQ(*atBound, json::parse(Nested(kMaxJsonDepth, "1")));
  EXPECT_FALSE(ParseBoundedJson(Nested(kMaxJsonDepth + 1)));
  EXPECT_TRUE(Compact(Nested(kMaxJsonDepth, "1")));
  EXPECT_FALSE(Compact(Nested(kMaxJsonDepth + 1)));
  // Objects count as arrays do, and a member overwritten later still had to be parsed.
  std::string objects;
  for (std::size_t i = 0; i < kMaxJsonDepth; ++i) objects += R"({"a":)";
  objects += "0" + std::string(kMaxJsonDepth, '}');
  EXPECT_TRUE(ParseBoundedJson(objects));
  EXPECT_FALSE(ParseBoundedJson(R"({"a":)" + Nested(kMaxJsonDepth) + R"(,"a":1})"));
  EXPECT_FALSE(Compact(R"({"a":)" + Nested(kMaxJsonDepth) + R"(,"a":1})"));
  // The crash input of a stack overflow: refused at once, nothing recursed over it.
  EXPECT_FALSE(ParseBoundedJson(Nested(200000)));
  EXPECT_FALSE(Compact(Nested(200000)));
}

TEST(BoundedJsonTest, ValueCountAtTheBoundParsesAndOneMoreDoesNot) {
  // The array itself is a value too.
  std::string text = "[0";
  text.reserve(kMaxJsonValues * 2 + 2);
  for (std::size_t i = 2; i < kMaxJsonValues; ++i) text += ",0";
  text += "]";
  const std::optional<json> atBound = ParseBoundedJson(text);
  ASSERT_TRUE(atBound);
  EXPECT_EQ(atBound->size(), kMaxJsonValues - 1);
  EXPECT_TRUE(Compact(text));
  text.back() = ',';
  text += "{}]";
  EXPECT_FALSE(ParseBoundedJson(text));
  EXPECT_FALSE(Compact(text));
}

TEST(BoundedJsonTest, AgreesWithTheLibraryParser) {
  for (
      const std::string text : {
          R"({"b":[1,-2,3.5,1e3,18446744073709551615,-9223372036854775808],"a":"\u4e2d\ud83d\ude00"})",
          R"({"a":1,"a":2})",
          R"("text")",
          " null ",
          "true",
          R"([{"":{}},[],""])",
      }) {
    const std::optional<json> bounded = ParseBoundedJson(text);
    ASSERT_TRUE(bounded) << text;
    EXPECT_EQ(*bounded, json::parse(text)) << text;
    EXPECT_EQ(bounded->dump(), json::parse(text).dump()) << text;
  }
  for (const std::string text :
       {"", "[1] [2]", "[1,]", "{'a':1}", "[1e400]", "// c\n1", R"(["\ud800"])", "\"\x01\""}) {
    EXPECT_FALSE(ParseBoundedJson(text)) << text;
  }
}

// Written without a tree, a text comes out as the tree's dump(): members sorted by their
// decoded names, the last of a name kept, scalars in their dump() forms.
TEST(BoundedJsonTest, CompactTextIsWhatTheTreeDumps) {
  for (const std::string& text : {
           std::string(R"({"b":1,"a":2})"),
           std::string(R"({"b":1,"a":2,"b":{"z":[1,{"y":0,"x":1}],"a":null},"c":[]})"),
           std::string(R"([{"id":3,"name":"x","id":4},{"k":{"k":{"k":1,"j":2},"k":3}}])"),
           std::string(R"({"\u0062":1,"a":2,"\u0061":3,"ab":4,"a\u0000":5})"),
           std::string(R"({"é":1,"z":2,"\u00e9x":3})"),
           std::string(" [ 1E2 , -0 , 0.1 , 1e-7 , -1.5e300 , 18446744073709551616 ] "),
           std::string(R"(["\/\"\\\b\f\n\r\t\u0001\u007f\u00e9\ud83d\ude00", "plain 文本", ""])"),
           std::string("\xEF\xBB\xBF{\"a\" :\t{ } ,\"b\":[ ]}\r\n"),
           std::string("{\"b\":1,\"a\":2}") + '\0' + "not read",
           std::string("\"text\""),
           std::string("true"),
       }) {
    const std::string expected = json::parse(text).dump();
    SecretString out(std::string_view("prefix:"));
    ASSERT_TRUE(AppendCompactBoundedJson(text, out)) << text;
    EXPECT_EQ(out.view(), "prefix:" + expected) << text;
  }
  // Objects out of order nested deep, a long string inside: sorting each level where it
  // lies would move the string a hundred times; the text comes out the same.
  std::string deep;
  for (int i = 0; i < 100; ++i) deep += R"({"b":0,"a":)";
  deep += '"' + std::string(200000, 'x') + '"' + std::string(100, '}');
  SecretString out(std::string_view("prefix:"));
  ASSERT_TRUE(AppendCompactBoundedJson(deep, out));
  EXPECT_EQ(out.view(), "prefix:" + json::parse(deep).dump());
}

TEST(BoundedJsonTest, CompactLengthIsTheSerialisedLength) {
  const json value = json::parse(R"({
    "quote\"back\\slash": "tab\t nl\n cr\r bs\b ff\f nul\u0000 us\u001f del\u007f 中",
    "numbers": [0, -1, 9223372036854775807, -9223372036854775808, 18446744073709551615,
                0.1, -2.5e-300, 1e300, 100.0],
    "nested": {"a": [[], {}, [null, true, false]], "": ""}
  })");
  EXPECT_EQ(CompactLength(value), value.dump().size());
  EXPECT_EQ(SerialiseSecret(value).view(), value.dump());
  // The measure stops past its limit.
  EXPECT_GT(CompactLength(value, 10), 10u);
  EXPECT_LT(CompactLength(value, 10), value.dump().size());
  // Text that is not UTF-8 fails as dump() does.
  EXPECT_THROW(SerialiseSecret(json("\xff")), json::type_error);
}

TEST(BoundedJsonTest, WipedStringsAreZeroedWhereTheyLie) {
  json value = json::parse(R"({"password":"correct horse battery staple","n":[1,"x"]})");
  std::string& password = value["password"].get_ref<std::string&>();
  const char* bytes = password.data();
  const std::size_t capacity = password.capacity();
  WipeStrings(value);
  EXPECT_EQ(std::string(bytes, capacity), std::string(capacity, '\0'));
  EXPECT_EQ(value, json::parse(R"({"password":"","n":[1,""]})"));
}

}  // namespace
}  // namespace vardeko::testing
