#include "base/utf.h"

#include <cstdint>
#include <cstring>

namespace vardeko::utf {
namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Length of the run of ASCII bytes at the start of [p, end), eight at a time.
std::size_t AsciiPrefix(const unsigned char* p, const unsigned char* end) {
  const unsigned char* start = p;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if ((word & kHighBits) != 0) break;
    p += 8;
  }
  while (p < end && *p < 0x80) ++p;
  return static_cast<std::size_t>(p - start);
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the multi-byte sequence at p (p[0] >= 0x80) following the well-formed byte
// ranges of the Unicode standard. Returns the bytes consumed, or 0 when ill-formed.
std::size_t DecodeSequence(const unsigned char* p, std::size_t available, char32_t& cp) {
  const unsigned char lead = p[0];
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) {
    if (available < 2 || !IsContinuation(p[1])) return 0;
    cp = (char32_t{lead} & 0x1F) << 6 | (p[1] & 0x3F);
    return 2;
  }
  if (lead < 0xF0) {
    if (available < 3) return 0;
    const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
    const unsigned char high = lead == 0xED ? 0x9F : 0xBF;  // no encoded surrogates
    if (p[1] < low || p[1] > high || !IsContinuation(p[2])) return 0;
    cp = (char32_t{lead} & 0x0F) << 12 | (char32_t{p[1]} & 0x3F) << 6 | (p[2] & 0x3F);
    return 3;
  }
  if (lead < 0xF5) {
    if (available < 4) return 0;
    const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;   // no overlong forms
    const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    if (p[1] < low || p[1] > high || !IsContinuation(p[2]) || !IsContinuation(p[3])) return 0;
    cp = (char32_t{lead} & 0x07) << 18 | (char32_t{p[1]} & 0x3F) << 12 |
         (char32_t{p[2]} & 0x3F) << 6 | (p[3] & 0x3F);
    return 4;
  }
  return 0;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::optional<std::size_t> Utf16Length(std::string_view in) {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* const end = p + in.size();
  std::size_t units = 0;
  while (p < end) {
    const std::size_t ascii = AsciiPrefix(p, end);
    p += ascii;
    units += ascii;
    if (p == end) break;
    char32_t cp;
    const std::size_t length = DecodeSequence(p, static_cast<std::size_t>(end - p), cp);
    if (length == 0) return std::nullopt;
    p += length;
    units += cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(in.data());
  const auto* const end = begin + in.size();

  // The first pass validates and counts, so the output is allocated once at its size.
  const std::optional<std::size_t> units = Utf16Length(in);
  if (!units) return false;

  out.resize(*units);
  char16_t* o = out.data();
  for (const unsigned char* p = begin; p < end;) {
    const std::size_t ascii = AsciiPrefix(p, end);
    for (std::size_t i = 0; i < ascii; ++i) *o++ = p[i];
    p += ascii;
    if (p == end) break;
    char32_t cp = 0;
    p += DecodeSequence(p, static_cast<std::size_t>(end - p), cp);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
      *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      *o++ = static_cast<char16_t>(cp);
    }
  }
  return true;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char16_t unit = in[i];
    if (unit < 0x80) {
      bytes += 1;
    } else if (unit < 0x800) {
      bytes += 2;
    } else if (IsHighSurrogate(unit)) {
      if (i + 1 == in.size() || !IsLowSurrogate(in[i + 1])) return false;
      ++i;
      bytes += 4;
    } else if (IsLowSurrogate(unit)) {
      return false;
    } else {
      bytes += 3;
    }
  }

  out.resize(bytes);
  char* o = out.data();
  for (std::size_t i = 0; i < in.size(); ++i) {
    char32_t cp = in[i];
    if (cp < 0x80) {
      *o++ = static_cast<char>(cp);
      continue;
    }
    if (IsHighSurrogate(in[i])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[++i] - 0xDC00);
    }
    if (cp < 0x800) {
      *o++ = static_cast<char>(0xC0 | cp >> 6);
    } else if (cp < 0x10000) {
      *o++ = static_cast<char>(0xE0 | cp >> 12);
      *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    } else {
      *o++ = static_cast<char>(0xF0 | cp >> 18);
      *o++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    }
    *o++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return true;
}

}  // namespace vardeko::utf
