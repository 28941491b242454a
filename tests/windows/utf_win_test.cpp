// The Win32 conversions against the portable codec the Linux build uses: both must
// accept and refuse the same texts and produce the same code units.
#include <windows.h>

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>

#include "base/dpi_scaling.h"
#include "base/utf.h"

namespace vardeko {
namespace {

std::optional<std::u16string> Win32Wide(const std::string& bytes) {
  try {
    return Utf8ToWide(bytes);
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "invalid UTF-8");
    return std::nullopt;
  }
}

// The bare Win32 call, for the exhaustive comparison where exceptions would dominate.
std::optional<std::u16string> RawWin32Wide(const std::string& bytes) {
  if (bytes.empty()) return std::u16string();
  const int size = static_cast<int>(bytes.size());
  wchar_t buffer[8];
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), size, buffer, 8);
  if (units <= 0) return std::nullopt;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer), static_cast<std::size_t>(units));
}

std::optional<std::u16string> PortableWide(const std::string& bytes) {
  std::u16string out;
  if (!utf::Utf8ToUtf16(bytes, out)) return std::nullopt;
  return out;
}

TEST(Win32TextConversionTest, AgreesWithThePortableCodecOnEveryShortSequence) {
  int compared = 0;
  int mismatches = 0;
  for (unsigned b0 = 0; b0 < 256; ++b0) {
    for (unsigned b1 = 0; b1 < 256; ++b1) {
      for (unsigned b2 : {0x41u, 0x80u, 0x8Fu, 0x90u, 0x9Fu, 0xA0u, 0xBFu, 0xC0u}) {
        for (unsigned b3 : {0x80u, 0xBFu, 0x41u}) {
          const std::string bytes{static_cast<char>(b0), static_cast<char>(b1),
                                  static_cast<char>(b2), static_cast<char>(b3)};
          for (std::size_t length = 1; length <= 4; ++length) {
            const std::string text = bytes.substr(0, length);
            ++compared;
            if (RawWin32Wide(text) != PortableWide(text)) {
              if (++mismatches < 10) ADD_FAILURE() << "differs on " << testing::PrintToString(text);
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << "of " << compared;
}

TEST(Win32TextConversionTest, AgreesOnRandomMixedText) {
  std::mt19937 random(20261208);
  const char* pieces[] = {"a",
                          "订",
                          "\xF0\x9F\x98\x80",
                          "\x80",
                          "\xED\xA0\x80",
                          "\xC0\xAF",
                          "\xF4\x90\x80\x80",
                          std::string("\0", 1).c_str(),
                          "\xE5\xAD"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      const char* piece = pieces[random() % std::size(pieces)];
      text += *piece == '\0' ? std::string(1, '\0') : std::string(piece);
    }
    ASSERT_EQ(Win32Wide(text), PortableWide(text)) << testing::PrintToString(text);
  }
}

TEST(Win32TextConversionTest, UnpairedSurrogatesAreRefusedAndPairsConvert) {
  EXPECT_EQ(WideToUtf8(u"订单\U0001F600"), "订单\xF0\x9F\x98\x80");
  EXPECT_EQ(WideToUtf8(u""), "");
  EXPECT_EQ(Utf8ToWide(""), u"");
  for (const std::u16string& text :
       {std::u16string{0xD800}, std::u16string{u'a', 0xDC00}, std::u16string{0xDE00, 0xD83D}}) {
    EXPECT_THROW(WideToUtf8(text), std::runtime_error);
    std::string portable;
    EXPECT_FALSE(utf::Utf16ToUtf8(text, portable));
  }
}

TEST(Win32MulDivTest, PortableMulDivMatchesWin32) {
  for (int dpi : {96, 120, 144, 168, 192, 240, 288, 0}) {
    for (int value = -4000; value <= 4000; value += 7) {
      ASSERT_EQ(vardeko::MulDiv(value, dpi, 96), ::MulDiv(value, dpi, 96)) << value << " " << dpi;
      ASSERT_EQ(vardeko::MulDiv(value, 96, dpi), ::MulDiv(value, 96, dpi)) << value << " " << dpi;
    }
  }
  EXPECT_EQ(vardeko::MulDiv(0x7FFFFFFF, 2, 1), ::MulDiv(0x7FFFFFFF, 2, 1));
}

}  // namespace
}  // namespace vardeko
