#include "base/utf.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/utf.h"

namespace vardeko {
namespace {

struct Utf8Case {
  const char* name;
  std::string bytes;
};

TEST(TextConversionTest, EmptyStaysEmpty) {
  EXPECT_EQ(Utf8ToWide(""), u"");
  EXPECT_EQ(WideToUtf8(u""), "");
}

TEST(TextConversionTest, ValidTextConvertsBothWays) {
  const std::string samples[] = {
      "ascii only",
      std::string("nul\0inside", 10),
      "订单 № 42 — ✓",
      "\xF0\x9F\x98\x80 and \xF4\x8F\xBF\xBF",         // U+1F600 and U+10FFFF
      "\xEF\xBF\xBE\xEF\xBF\xBF",                      // noncharacters are text
      "\xED\x9F\xBF\xEE\x80\x80",                      // U+D7FF and U+E000 around the surrogates
      "\xC2\x80\xDF\xBF\xE0\xA0\x80\xF0\x90\x80\x80",  // smallest of each length
  };
  for (const std::string& sample : samples) {
    const std::u16string wide = Utf8ToWide(sample);
    EXPECT_EQ(WideToUtf8(wide), sample);
  }
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x98\x80"), std::u16string({0xD83D, 0xDE00}));
  EXPECT_EQ(Utf8ToWide("订单"), u"订单");
}

TEST(TextConversionTest, InvalidUtf8IsRefused) {
  const Utf8Case cases[] = {
      {"lone continuation", "a\x80"},
      {"overlong two-byte", "\xC0\xAF"},
      {"overlong C1", "\xC1\xBF"},
      {"overlong three-byte", "\xE0\x80\xAF"},
      {"overlong four-byte", "\xF0\x80\x80\xAF"},
      {"encoded high surrogate", "\xED\xA0\x80"},
      {"encoded low surrogate", "\xED\xBF\xBF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80"},
      {"F5 lead", "\xF5\x80\x80\x80"},
      {"FF byte", "\xFF"},
      {"truncated at end", "ok\xE5\xAD"},
      {"truncated before ASCII",
       "\xE5\xAD"
       "a"},
      {"missing continuation", "\xC3("},
      {"after a long ASCII run", std::string(37, 'a') + "\x80"},
  };
  for (const Utf8Case& c : cases) {
    try {
      Utf8ToWide(c.bytes);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "invalid UTF-8") << c.name;
    }
  }
}

TEST(TextConversionTest, UnpairedSurrogatesAreRefused) {
  const std::u16string cases[] = {
      {0xD800}, {u'a', 0xD83D, u'b'}, {0xDE00, 0xD83D}, {0xDC00}, {0xD83D, 0xD83D}, {u'x', 0xDFFF},
  };
  for (const std::u16string& text : cases) {
    try {
      WideToUtf8(text);
      ADD_FAILURE() << "accepted an unpaired surrogate";
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "invalid UTF-16");
    }
  }
}

// Every one- to three-byte sequence, decided by the portable codec, must agree with a
// direct reading of the well-formed byte table.
TEST(TextConversionTest, ShortSequencesFollowTheWellFormedTable) {
  const auto wellFormed = [](unsigned b0, unsigned b1, unsigned b2, std::size_t n) {
    const auto cont = [](unsigned b) { return b >= 0x80 && b <= 0xBF; };
    if (n == 1) return b0 < 0x80;
    if (n == 2) return b0 >= 0xC2 && b0 <= 0xDF && cont(b1);
    if (b0 == 0xE0) return b1 >= 0xA0 && b1 <= 0xBF && cont(b2);
    if (b0 == 0xED) return b1 >= 0x80 && b1 <= 0x9F && cont(b2);
    return b0 >= 0xE1 && b0 <= 0xEF && cont(b1) && cont(b2);
  };
  std::u16string out;
  int mismatches = 0;
  for (unsigned b0 = 0; b0 < 256; ++b0) {
    for (unsigned b1 = 0; b1 < 256; ++b1) {
      for (unsigned b2 : {0x00u, 0x41u, 0x80u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u, 0xFFu}) {
        const char bytes[] = {static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2)};
        // Interpret as one three-byte sequence only when the lead says so.
        const std::size_t n = b0 < 0x80 ? 1 : (b0 < 0xE0 ? 2 : 3);
        const bool expected = wellFormed(b0, b1, b2, n);
        if (utf::Utf8ToUtf16(std::string_view(bytes, n), out) != expected) ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The conversions work on blocks of ASCII: text of every other kind, and faults, at
// every place in and around a block must come out as they do one unit at a time.
TEST(TextConversionTest, BlocksOfAsciiMeetEveryOtherUnitAnywhere) {
  struct Insert {
    const char* name;
    std::u16string wide;
    std::string narrow;  // empty: not convertible
  };
  const Insert inserts[] = {
      {"two-byte", u"é", "é"},
      {"three-byte", u"订", "订"},
      {"pair", u"\U0001F600", "\xF0\x9F\x98\x80"},
      {"NUL", std::u16string(1, u'\0'), std::string(1, '\0')},
      {"DEL", u"\x7F", "\x7F"},
      {"lone high", std::u16string(1, char16_t{0xD800}), ""},
      {"lone low", std::u16string(1, char16_t{0xDC00}), ""},
  };
  for (const Insert& insert : inserts) {
    for (std::size_t before = 0; before < 40; ++before) {
      const std::u16string wide = std::u16string(before, u'a') + insert.wide + u"bcdefghijklmnopq";
      std::string narrow;
      const bool converted = utf::Utf16ToUtf8(wide, narrow);
      EXPECT_EQ(converted, !insert.narrow.empty()) << insert.name << " after " << before;
      if (!converted) {
        EXPECT_FALSE(utf::Utf8Length(wide)) << insert.name;
        continue;
      }
      EXPECT_EQ(narrow, std::string(before, 'a') + insert.narrow + "bcdefghijklmnopq")
          << insert.name << " after " << before;
      EXPECT_EQ(utf::Utf8Length(wide), narrow.size());
      std::u16string back;
      ASSERT_TRUE(utf::Utf8ToUtf16(narrow, back));
      EXPECT_EQ(back, wide) << insert.name << " after " << before;
    }
  }
}

}  // namespace
}  // namespace vardeko
