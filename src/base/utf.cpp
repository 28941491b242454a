#include "base/utf.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

}  // namespace

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

namespace {

// Copies `count` ASCII bytes to as many UTF-16 units; returns the end of the output.
char16_t* WidenAscii(const unsigned char* in, std::size_t count, char16_t* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; count - i >= 16; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(bytes, zero));
  }
#endif
  for (; i < count; ++i) out[i] = in[i];
  return out + count;
}

// Length of the run of units below U+0080 at the start of `in`, eight at a time.
std::size_t AsciiUnits(std::u16string_view in, std::size_t from) {
  std::size_t i = from;
#if defined(__SSE2__)
  const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  for (; in.size() - i >= 8; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(units, high), zero);
    const int mask = _mm_movemask_epi8(ascii);
    if (mask != 0xFFFF)
      return i - from + static_cast<std::size_t>(__builtin_ctz(~mask & 0xFFFF)) / 2;
  }
#endif
  while (i < in.size() && in[i] < 0x80) ++i;
  return i - from;
}

// Copies `count` units below U+0080 to as many bytes; returns the end of the output.
char* NarrowAscii(const char16_t* in, std::size_t count, char* out) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; count - i >= 8; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
  }
#endif
  for (; i < count; ++i) out[i] = static_cast<char>(in[i]);
  return out + count;
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
    o = WidenAscii(p, ascii, o);
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

std::optional<std::size_t> Utf8Length(std::u16string_view in) {
  std::size_t bytes = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::size_t ascii = AsciiUnits(in, i);
    bytes += ascii;
    i += ascii;
    if (i == in.size()) break;
    const char16_t unit = in[i];
    if (unit < 0x800) {
      bytes += 2;
    } else if (IsHighSurrogate(unit)) {
      if (i + 1 == in.size() || !IsLowSurrogate(in[i + 1])) return std::nullopt;
      ++i;
      bytes += 4;
    } else if (IsLowSurrogate(unit)) {
      return std::nullopt;
    } else {
      bytes += 3;
    }
  }
  return bytes;
}

char* WriteUtf8(std::u16string_view in, char* o) {
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::size_t ascii = AsciiUnits(in, i);
    o = NarrowAscii(in.data() + i, ascii, o);
    i += ascii;
    if (i == in.size()) break;
    char32_t cp = in[i];
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
  return o;
}

bool Utf16ToUtf8(std::u16string_view in, std::string& out) {
  const std::optional<std::size_t> bytes = Utf8Length(in);
  if (!bytes) return false;
  out.resize(*bytes);
  WriteUtf8(in, out.data());
  return true;
}

}  // namespace vardeko::utf
