#include "base/bounded_json.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/utf.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vardeko {
namespace {

using nlohmann::json;

// Strings longer than this are decoded straight into a string of their own, at its
// final size (a screenshot's text is 16 MiB: one pass, no copy); shorter ones go through
// the parser's buffer, are copied out at their size and wiped there, so the tree keeps
// no spare capacity and no string is left in a buffer freed later.
constexpr std::size_t kCopiedStringBytes = 4096;

// The first quote or backslash in [p, end), or end.
template <class Char>
const Char* FindQuoteOrBackslash(const Char* p, const Char* end) {
#if defined(__SSE2__)
  if constexpr (sizeof(Char) == 1) {
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int mask = _mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)));
      if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
  } else {
    const __m128i quote = _mm_set1_epi16('"');
    const __m128i backslash = _mm_set1_epi16('\\');
    for (; end - p >= 8; p += 8) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int mask = _mm_movemask_epi8(
          _mm_or_si128(_mm_cmpeq_epi16(block, quote), _mm_cmpeq_epi16(block, backslash)));
      if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
    }
  }
#endif
  while (p < end && *p != '"' && *p != '\\') ++p;
  return p;
}

// The first unit in [p, end) that a string cannot copy as it is: a backslash, a control
// character or anything outside ASCII; or end.
template <class Char>
const Char* FindSpecial(const Char* p, const Char* end) {
#if defined(__SSE2__)
  if constexpr (sizeof(Char) == 1) {
    // Signed bytes: the controls and everything from 0x80 compare below the space.
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const int mask = _mm_movemask_epi8(
          _mm_or_si128(_mm_cmplt_epi8(block, space), _mm_cmpeq_epi8(block, backslash)));
      if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
  } else {
    const __m128i space = _mm_set1_epi16(' ');
    const __m128i backslash = _mm_set1_epi16('\\');
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 8; p += 8) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(block, high), zero);
      const __m128i plain = _mm_andnot_si128(
          _mm_or_si128(_mm_cmplt_epi16(block, space), _mm_cmpeq_epi16(block, backslash)), ascii);
      const int mask = _mm_movemask_epi8(plain) ^ 0xFFFF;
      if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
    }
  }
#endif
  while (p < end && *p >= 0x20 && *p < 0x80 && *p != '\\') ++p;
  return p;
}

// Copies the units of [p, end) to `out` (as UTF-8) up to the first one FindSpecial
// stops at, in one pass; returns how many it copied.
template <class Char>
std::size_t CopyPlain(const Char* p, const Char* end, char* out) {
  const Char* const begin = p;
#if defined(__SSE2__)
  if constexpr (sizeof(Char) == 1) {
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; end - p >= 16; p += 16, out += 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      if (_mm_movemask_epi8(
              _mm_or_si128(_mm_cmplt_epi8(block, space), _mm_cmpeq_epi8(block, backslash))) != 0) {
        break;
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
    }
  } else {
    const __m128i space = _mm_set1_epi16(' ');
    const __m128i backslash = _mm_set1_epi16('\\');
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; end - p >= 8; p += 8, out += 8) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(block, high), zero);
      const __m128i plain = _mm_andnot_si128(
          _mm_or_si128(_mm_cmplt_epi16(block, space), _mm_cmpeq_epi16(block, backslash)), ascii);
      if (_mm_movemask_epi8(plain) != 0xFFFF) break;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(block, block));
    }
  }
#endif
  for (; p < end && *p >= 0x20 && *p < 0x80 && *p != '\\'; ++p) *out++ = static_cast<char>(*p);
  return static_cast<std::size_t>(p - begin);
}

std::uint32_t HexValue(char32_t unit) {
  if (unit >= '0' && unit <= '9') return unit - '0';
  if (unit >= 'a' && unit <= 'f') return unit - 'a' + 10;
  if (unit >= 'A' && unit <= 'F') return unit - 'A' + 10;
  return 0x10000;
}

// The four hex digits after "\u" at p (p[0] is the backslash), or above 0xFFFF.
template <class Char>
std::uint32_t EscapedUnit(const Char* p, const Char* end) {
  if (end - p < 6 || p[0] != '\\' || p[1] != 'u') return 0x10000;
  std::uint32_t value = 0;
  for (int i = 2; i < 6; ++i) value = value << 4 | HexValue(p[i]);
  return value;
}

// Counts the UTF-8 bytes of a string's contents, or writes them.
struct CountBytes {
  std::size_t count = 0;
  template <class Char>
  void Plain(const Char*, std::size_t n) {
    count += n;
  }
  void CodePoint(char32_t cp) { count += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4; }
};

struct WriteBytes {
  char* out;
  void Plain(const char* p, std::size_t n) {
    std::memcpy(out, p, n);
    out += n;
  }
  void Plain(const char16_t* p, std::size_t n) { out = utf::WriteUtf8({p, n}, out); }
  void CodePoint(char32_t cp) {
    if (cp < 0x80) {
      *out++ = static_cast<char>(cp);
      return;
    }
    if (cp < 0x800) {
      *out++ = static_cast<char>(0xC0 | cp >> 6);
    } else if (cp < 0x10000) {
      *out++ = static_cast<char>(0xE0 | cp >> 12);
      *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    } else {
      *out++ = static_cast<char>(0xF0 | cp >> 18);
      *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    }
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
};

// A string's contents (between its quotes) as the JSON library reads them: no control
// characters, the escapes of RFC 8259 with surrogates in pairs, well-formed text. False
// when the library would refuse it.
template <class Char, class Sink>
bool DecodeContents(const Char* p, const Char* end, Sink& sink) {
  while (p < end) {
    const Char* const special = FindSpecial(p, end);
    sink.Plain(p, static_cast<std::size_t>(special - p));
    p = special;
    if (p == end) return true;
    const char32_t unit = *p;
    if (unit < 0x20) return false;
    if (unit == '\\') {
      if (end - p < 2) return false;
      char32_t cp = 0;
      switch (p[1]) {
        case '"':
          cp = '"';
          break;
        case '\\':
          cp = '\\';
          break;
        case '/':
          cp = '/';
          break;
        case 'b':
          cp = '\b';
          break;
        case 'f':
          cp = '\f';
          break;
        case 'n':
          cp = '\n';
          break;
        case 'r':
          cp = '\r';
          break;
        case 't':
          cp = '\t';
          break;
        case 'u': {
          const std::uint32_t first = EscapedUnit(p, end);
          if (first > 0xFFFF || (first >= 0xDC00 && first <= 0xDFFF)) return false;
          if (first >= 0xD800 && first <= 0xDBFF) {
            const std::uint32_t second = EscapedUnit(p + 6, end);
            if (second < 0xDC00 || second > 0xDFFF) return false;
            cp = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
            p += 6;
          } else {
            cp = first;
          }
          p += 4;
          break;
        }
        default:
          return false;
      }
      sink.CodePoint(cp);
      p += 2;
      continue;
    }
    if constexpr (sizeof(Char) == 1) {
      char32_t cp = 0;
      const std::size_t length = utf::DecodeSequence(reinterpret_cast<const unsigned char*>(p),
                                                     static_cast<std::size_t>(end - p), cp);
      if (length == 0) return false;
      sink.Plain(p, length);
      p += length;
    } else {
      char32_t cp = unit;
      if (unit >= 0xD800 && unit <= 0xDFFF) {
        if (unit > 0xDBFF || end - p < 2 || p[1] < 0xDC00 || p[1] > 0xDFFF) return false;
        cp = 0x10000 + ((unit - 0xD800) << 10) + (p[1] - 0xDC00);
        ++p;
      }
      sink.CodePoint(cp);
      ++p;
    }
  }
  return true;
}

// Decodes a long string's contents into a string of their exact size.
template <class Char>
bool DecodeLongString(const Char* begin, const Char* end, json::string_t& out) {
  // Most long strings (base64 above all) are plain ASCII: one pass at the final size.
  out.resize(static_cast<std::size_t>(end - begin));
  if (CopyPlain(begin, end, out.data()) == out.size()) return true;
  CountBytes count;
  if (!DecodeContents(begin, end, count)) return false;
  // Growing would free the buffer holding the copied prefix unwiped.
  if (count.count > out.capacity()) {
    SecureWipe(out);
    json::string_t().swap(out);
  }
  out.resize(count.count);
  WriteBytes write{out.data()};
  return DecodeContents(begin, end, write);
}

// Builds the value as the JSON library's own DOM parser does (a duplicate member name
// keeps the last value), refusing to go deeper than kMaxJsonDepth or past
// kMaxJsonValues values. Returning false stops the parse at once.
class BoundedBuilder {
 public:
  static constexpr bool kKeepsValues = true;
  explicit BoundedBuilder(json& root) : root_(root) { containers_.reserve(kMaxJsonDepth); }

  template <class Value>
  bool Scalar(Value&& value) {
    return Add(std::forward<Value>(value)) != nullptr;
  }
  bool Key(json::string_t name) {
    member_ = &(*containers_.back())[std::move(name)];
    return true;
  }
  bool Open(json::value_t type) {
    if (containers_.size() == kMaxJsonDepth) return false;
    json* container = Add(json(type));
    if (container == nullptr) return false;
    containers_.push_back(container);
    return true;
  }
  bool Close() {
    containers_.pop_back();
    return true;
  }

 private:
  // Places the value in the open container (or as the root). Elements of an array are
  // only added while none of them is open, so the pointers kept stay valid.
  template <class Value>
  json* Add(Value&& value) {
    if (++values_ > kMaxJsonValues) return nullptr;
    if (containers_.empty()) {
      root_ = json(std::forward<Value>(value));
      return &root_;
    }
    json& parent = *containers_.back();
    if (parent.is_array()) {
      auto& elements = parent.get_ref<json::array_t&>();
      elements.emplace_back(std::forward<Value>(value));
      return &elements.back();
    }
    *member_ = json(std::forward<Value>(value));
    return member_;
  }

  json& root_;
  std::vector<json*> containers_;
  json* member_ = nullptr;
  std::size_t values_ = 0;
};

// A string as it stands in the text, between its quotes, once checked as the library
// reads strings; `escaped` when it holds a backslash.
template <class Char>
struct RawString {
  const Char* begin = nullptr;
  const Char* end = nullptr;
  bool escaped = false;
};

// Reads one JSON text as the JSON library's parser does (RFC 8259, strict: nothing but
// white space after the value, or a NUL, which ends the text for the library; a UTF-8
// byte order mark skipped at the start; numbers
// converted by the same C functions, with the same fall-back to a double on overflow),
// handing the values to the builder in the library's order, without recursion. Strings
// are scanned and decoded in blocks rather than one character at a time. UTF-16 text
// reads as its strict UTF-8 conversion would.
template <class Char, class Builder>
class Parser {
 public:
  Parser(std::basic_string_view<Char> text, Builder& builder)
      : p_(text.data()), end_(text.data() + text.size()), builder_(builder) {}
  ~Parser() { SecureWipe(buffer_.data(), buffer_.size()); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  bool Run() {
    if constexpr (sizeof(Char) == 1) {
      if (p_ < end_ && static_cast<unsigned char>(*p_) == 0xEF) {
        if (end_ - p_ < 3 || static_cast<unsigned char>(p_[1]) != 0xBB ||
            static_cast<unsigned char>(p_[2]) != 0xBF) {
          return false;
        }
        p_ += 3;
      }
    } else {
      if (p_ < end_ && *p_ == 0xFEFF) ++p_;  // converted, the mark the library skips
    }
    std::vector<bool> objects;  // the open containers, innermost last
    enum class Next { kValue, kKey, kAfterValue } next = Next::kValue;
    for (;;) {
      SkipSpace();
      // The library's lexer reads a NUL between tokens as the end of the text.
      const bool atEnd = p_ == end_ || *p_ == 0;
      if (next == Next::kValue) {
        if (atEnd) return false;
        const Char c = *p_;
        if (c == '{' || c == '[') {
          const bool object = c == '{';
          ++p_;
          if (!builder_.Open(object ? json::value_t::object : json::value_t::array)) return false;
          SkipSpace();
          if (p_ < end_ && *p_ == (object ? '}' : ']')) {
            ++p_;
            if (!builder_.Close()) return false;
            next = Next::kAfterValue;
          } else {
            objects.push_back(object);
            next = object ? Next::kKey : Next::kValue;
          }
          continue;
        }
        if (!Scalar(c)) return false;
        next = Next::kAfterValue;
      } else if (next == Next::kKey) {
        if (atEnd || *p_ != '"') return false;
        if constexpr (Builder::kKeepsValues) {
          json::string_t name;
          if (!String(name) || !builder_.Key(std::move(name))) return false;
        } else {
          RawString<Char> name;
          if (!Raw(name) || !builder_.Key(name)) return false;
        }
        SkipSpace();
        if (p_ == end_ || *p_ != ':') return false;
        ++p_;
        next = Next::kValue;
      } else {
        if (objects.empty()) return atEnd;
        if (atEnd) return false;
        if (*p_ == ',') {
          ++p_;
          next = objects.back() ? Next::kKey : Next::kValue;
        } else if (*p_ == (objects.back() ? '}' : ']')) {
          ++p_;
          objects.pop_back();
          if (!builder_.Close()) return false;
        } else {
          return false;
        }
      }
    }
  }

 private:
  void SkipSpace() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }

  bool Scalar(Char c) {
    switch (c) {
      case '"': {
        if constexpr (Builder::kKeepsValues) {
          json::string_t text;
          return String(text) && builder_.Scalar(std::move(text));
        } else {
          RawString<Char> text;
          return Raw(text) && builder_.Text(text);
        }
      }
      case 't':
        return Literal("true") && builder_.Scalar(true);
      case 'f':
        return Literal("false") && builder_.Scalar(false);
      case 'n':
        return Literal("null") && builder_.Scalar(nullptr);
      default:
        return Number();
    }
  }

  bool Literal(std::string_view word) {
    if (static_cast<std::size_t>(end_ - p_) < word.size()) return false;
    for (const char letter : word) {
      if (*p_++ != letter) return false;
    }
    return true;
  }

  static bool IsDigit(Char c) { return c >= '0' && c <= '9'; }
  void SkipDigits() {
    while (p_ < end_ && IsDigit(*p_)) ++p_;
  }

  bool Number() {
    const Char* const start = p_;
    if (*p_ == '-') ++p_;
    if (p_ == end_ || !IsDigit(*p_)) return false;
    if (*p_++ != '0') SkipDigits();
    bool integer = true;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      SkipDigits();
      integer = false;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (p_ == end_ || !IsDigit(*p_)) return false;
      SkipDigits();
      integer = false;
    }
    // The token as the library's lexer keeps it, its decimal point the locale's.
    number_.assign(start, p_);
    for (char& digit : number_) {
      if (digit == '.') digit = *std::localeconv()->decimal_point;
    }
    char* stop = nullptr;
    if (integer) {
      errno = 0;
      if (*start == '-') {
        const long long value = std::strtoll(number_.c_str(), &stop, 10);
        if (errno == 0) return builder_.Scalar(static_cast<json::number_integer_t>(value));
      } else {
        const unsigned long long value = std::strtoull(number_.c_str(), &stop, 10);
        if (errno == 0) return builder_.Scalar(static_cast<json::number_unsigned_t>(value));
      }
    }
    // A float, or an integer too large for 64 bits; the library refuses infinities.
    const double value = std::strtod(number_.c_str(), &stop);
    return std::isfinite(value) && builder_.Scalar(static_cast<json::number_float_t>(value));
  }

  // The string at p_ (its opening quote), checked but left where it stands.
  bool Raw(RawString<Char>& string) {
    const Char* const begin = ++p_;
    const Char* close = begin;
    bool escaped = false;
    for (;;) {
      close = FindQuoteOrBackslash(close, end_);
      if (close == end_) return false;
      if (*close == '"') break;
      if (end_ - close < 2) return false;
      escaped = true;
      close += 2;  // the escaped unit cannot end the string
    }
    p_ = close + 1;
    CountBytes count;
    if (!DecodeContents(begin, close, count)) return false;
    string = {begin, close, escaped};
    return true;
  }

  // The string at p_ (its opening quote) into `out`.
  bool String(json::string_t& out) {
    const Char* const begin = ++p_;
    const Char* close = begin;
    for (;;) {
      close = FindQuoteOrBackslash(close, end_);
      if (close == end_) return false;
      if (*close == '"') break;
      if (end_ - close < 2) return false;
      close += 2;  // the escaped unit cannot end the string
    }
    p_ = close + 1;
    const auto units = static_cast<std::size_t>(close - begin);
    if (units > kCopiedStringBytes) {
      if (DecodeLongString(begin, close, out)) return true;
      SecureWipe(out);
      return false;
    }
    // At most one byte a unit from UTF-8, three from UTF-16.
    const std::size_t room = units * (sizeof(Char) == 1 ? 1 : 3);
    if (buffer_.size() < room) {
      SecureWipe(buffer_);
      buffer_.resize(std::max(room, std::size_t{256}));
    }
    WriteBytes write{buffer_.data()};
    const bool valid = DecodeContents(begin, close, write);
    const auto length = static_cast<std::size_t>(write.out - buffer_.data());
    if (valid) out.assign(buffer_.data(), length);
    SecureWipe(buffer_.data(), length);
    return valid;
  }

  const Char* p_;
  const Char* const end_;
  Builder& builder_;
  std::string buffer_;  // short strings are decoded here; wiped after each
  std::string number_;
};

std::size_t DigitCount(std::uint64_t number) {
  std::size_t digits = 1;
  for (; number >= 10; number /= 10) ++digits;
  return digits;
}

// Bytes dump() adds to a string's own when it escapes them: two-character escapes for
// quote, backslash and the five named controls, \u00XX for the other controls.
constexpr std::array<std::uint8_t, 256> kEscapeExtra = [] {
  std::array<std::uint8_t, 256> extra{};
  for (int c = 0; c < 0x20; ++c) extra[c] = 5;
  for (const int c : {'\b', '\t', '\n', '\f', '\r', '"', '\\'}) extra[c] = 1;
  return extra;
}();

std::size_t QuotedLength(std::string_view text) {
  std::size_t length = text.size() + 2;
  for (const char c : text) length += kEscapeExtra[static_cast<unsigned char>(c)];
  return length;
}

std::size_t ScalarLength(const json& value) {
  switch (value.type()) {
    case json::value_t::null:
      return 4;
    case json::value_t::boolean:
      return value.get<bool>() ? 4 : 5;
    case json::value_t::number_integer: {
      const auto number = value.get<std::int64_t>();
      return number < 0 ? 1 + DigitCount(0 - static_cast<std::uint64_t>(number))
                        : DigitCount(static_cast<std::uint64_t>(number));
    }
    case json::value_t::number_unsigned:
      return DigitCount(value.get<std::uint64_t>());
    case json::value_t::string:
      return QuotedLength(value.get_ref<const json::string_t&>());
    default:
      return value.dump().size();  // floats (shortest form), binary: never deep
  }
}

// The serialiser's output straight into a buffer of the final size (no stream in
// between, nothing ever reallocated); what would not fit is dropped and noted.
class FixedOutput final : public nlohmann::detail::output_adapter_protocol<char> {
 public:
  FixedOutput(char* begin, std::size_t size) : next_(begin), end_(begin + size) {}
  void write_character(char c) override {
    if (next_ == end_) {
      overflowed_ = true;
      return;
    }
    *next_++ = c;
  }
  void write_characters(const char* text, std::size_t length) override {
    if (length > static_cast<std::size_t>(end_ - next_)) {
      overflowed_ = true;
      return;
    }
    std::memcpy(next_, text, length);
    next_ += length;
  }
  bool Filled() const { return !overflowed_ && next_ == end_; }

 private:
  char* next_;
  char* end_;
  bool overflowed_ = false;
};

// Writes what dump() writes, into [out, end), without recursion and without the
// library's character-by-character escaping: plain runs are copied in blocks. Returns
// the end of what was written, or nullptr for text that is not UTF-8 (dump() raises
// there) or a buffer that does not fit.
class CompactWriter {
 public:
  CompactWriter(char* out, char* end) : out_(out), end_(end) {}

  char* Write(const json& value) {
    struct Frame {
      json::const_iterator next;
      json::const_iterator end;
      bool object;
      bool first;
    };
    std::vector<Frame> frames;
    const json* current = &value;
    for (;;) {
      if (current != nullptr) {
        if (current->is_structured()) {
          if (current->empty()) {
            if (!Put(current->is_object() ? "{}" : "[]")) return nullptr;
          } else {
            if (!Put(current->is_object() ? "{" : "[")) return nullptr;
            frames.push_back({current->cbegin(), current->cend(), current->is_object(), true});
          }
        } else if (!Scalar(*current)) {
          return nullptr;
        }
        current = nullptr;
      }
      if (frames.empty()) return out_;
      Frame& frame = frames.back();
      if (frame.next == frame.end) {
        if (!Put(frame.object ? "}" : "]")) return nullptr;
        frames.pop_back();
        continue;
      }
      if (!frame.first && !Put(",")) return nullptr;
      frame.first = false;
      if (frame.object && (!Quoted(frame.next.key()) || !Put(":"))) return nullptr;
      current = &*frame.next;
      ++frame.next;
    }
  }

  bool Put(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(end_ - out_)) return false;
    std::memcpy(out_, text.data(), text.size());
    out_ += text.size();
    return true;
  }

  bool Scalar(const json& value) {
    char digits[24];
    switch (value.type()) {
      case json::value_t::null:
        return Put("null");
      case json::value_t::boolean:
        return Put(value.get<bool>() ? "true" : "false");
      case json::value_t::number_integer: {
        const auto result =
            std::to_chars(digits, digits + sizeof digits, value.get<std::int64_t>());
        return Put({digits, static_cast<std::size_t>(result.ptr - digits)});
      }
      case json::value_t::number_unsigned: {
        const auto result =
            std::to_chars(digits, digits + sizeof digits, value.get<std::uint64_t>());
        return Put({digits, static_cast<std::size_t>(result.ptr - digits)});
      }
      case json::value_t::string:
        return Quoted(value.get_ref<const json::string_t&>());
      default:
        return Put(value.dump());  // floats (shortest form), binary: never deep
    }
  }

  bool Quoted(std::string_view text) {
    if (!Put("\"")) return false;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
      const auto plain = static_cast<std::size_t>(FindSpecial(p, end) - p);
      // Quotes are plain to FindSpecial; they are escaped here.
      const char* const quote = static_cast<const char*>(std::memchr(p, '"', plain));
      const std::size_t run = quote != nullptr ? static_cast<std::size_t>(quote - p) : plain;
      if (!Put({p, run})) return false;
      p += run;
      if (p == end) break;
      const auto c = static_cast<unsigned char>(*p);
      if (c >= 0x80) {
        char32_t cp = 0;
        const std::size_t length = utf::DecodeSequence(reinterpret_cast<const unsigned char*>(p),
                                                       static_cast<std::size_t>(end - p), cp);
        if (length == 0 || !Put({p, length})) return false;
        p += length;
        continue;
      }
      bool written = false;
      switch (c) {
        case '"':
          written = Put("\\\"");
          break;
        case '\\':
          written = Put("\\\\");
          break;
        case '\b':
          written = Put("\\b");
          break;
        case '\f':
          written = Put("\\f");
          break;
        case '\n':
          written = Put("\\n");
          break;
        case '\r':
          written = Put("\\r");
          break;
        case '\t':
          written = Put("\\t");
          break;
        default: {
          constexpr char kHex[] = "0123456789abcdef";
          const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
          written = Put({escape, sizeof escape});
        }
      }
      if (!written) return false;
      ++p;
    }
    return Put("\"");
  }

 private:
  char* out_;
  char* const end_;
};

// Writes what dump() of the tree BoundedBuilder would build writes, straight from the
// parser's events, building no tree: scalars as dump() writes them (a string without
// escapes as it stands), and each object's members sorted by name, a duplicate name
// keeping its last value. An object is rewritten in place when its members came in
// another order. Counts and nests as BoundedBuilder does, so the same texts pass; stops
// (TooCostly) once the rewriting would have moved more than a few times the text: objects
// out of order nested deep move their contents once a level.
class CompactBuilder {
 public:
  static constexpr bool kKeepsValues = false;

  CompactBuilder(SecretString& out, SecretString& scratch, std::size_t textSize)
      : out_(out), scratch_(scratch), length_(out.size()), moveBudget_(4 * textSize + 65536) {
    frames_.reserve(kMaxJsonDepth);
  }
  bool TooCostly() const { return tooCostly_; }
  ~CompactBuilder() { out_.str().resize(length_); }
  CompactBuilder(const CompactBuilder&) = delete;
  CompactBuilder& operator=(const CompactBuilder&) = delete;

  bool Scalar(std::nullptr_t) { return Value() && Put("null"); }
  bool Scalar(bool value) { return Value() && Put(value ? "true" : "false"); }
  template <class Number>
  bool Scalar(Number value) {
    if (!Value()) return false;
    if constexpr (std::is_floating_point_v<Number>) {
      return Put(json(value).dump());  // the shortest form, as dump() writes it
    } else {
      char digits[24];
      const auto result = std::to_chars(digits, digits + sizeof digits, value);
      return Put({digits, static_cast<std::size_t>(result.ptr - digits)});
    }
  }
  bool Text(const RawString<char>& text) { return Value() && Quoted(text); }

  bool Key(const RawString<char>& name) {
    Frame& frame = frames_[depth_ - 1];
    if (!frame.members.empty()) {
      frame.members.back().end = length_;
      if (!Put(",")) return false;
    }
    Member member;
    member.begin = length_;
    member.name = std::string_view(name.begin, static_cast<std::size_t>(name.end - name.begin));
    if (name.escaped) {
      member.decoded = Decoded(name);
      member.escaped = true;
    }
    frame.members.push_back(std::move(member));
    return Quoted(name) && Put(":");
  }

  bool Open(json::value_t type) {
    if (depth_ == kMaxJsonDepth || !Value()) return false;
    if (depth_ == frames_.size()) frames_.emplace_back();
    Frame& frame = frames_[depth_++];
    frame.object = type == json::value_t::object;
    frame.elements = 0;
    frame.members.clear();
    frame.start = length_ + 1;
    return Put(frame.object ? "{" : "[");
  }

  bool Close() {
    Frame& frame = frames_[--depth_];
    if (frame.object && !frame.members.empty()) {
      frame.members.back().end = length_;
      if (!InOrder(frame.members) && !Sort(frame)) return false;
    }
    return Put(frame.object ? "}" : "]");
  }

 private:
  struct Member {
    std::string_view name;  // as it stands in the text
    std::string decoded;    // when it holds escapes
    bool escaped = false;
    std::size_t begin = 0;  // the member's text in the output: name, colon, value
    std::size_t end = 0;
    std::string_view Name() const { return escaped ? std::string_view(decoded) : name; }
  };
  struct Frame {
    bool object = false;
    std::size_t elements = 0;
    std::size_t start = 0;  // just after the opening bracket
    std::vector<Member> members;
  };

  // Counts the value and writes the comma before an array's elements after the first.
  bool Value() {
    if (++values_ > kMaxJsonValues) return false;
    if (depth_ == 0 || frames_[depth_ - 1].object) return true;
    return frames_[depth_ - 1].elements++ == 0 || Put(",");
  }

  static bool InOrder(const std::vector<Member>& members) {
    for (std::size_t i = 1; i < members.size(); ++i) {
      if (!(members[i - 1].Name() < members[i].Name())) return false;
    }
    return true;
  }

  // Rewrites the object's members in name order, the last of equal names only. The
  // result is never longer than the text it replaces.
  bool Sort(Frame& frame) {
    const std::size_t size = length_ - frame.start;
    if (size > moveBudget_) {
      tooCostly_ = true;
      return false;
    }
    moveBudget_ -= size;
    std::vector<Member>& members = frame.members;
    std::stable_sort(members.begin(), members.end(),
                     [](const Member& a, const Member& b) { return a.Name() < b.Name(); });
    std::string& out = out_.str();
    if (scratch_.str().size() < size) {
      scratch_.Wipe();
      scratch_.Reserve(size);
      scratch_.str().resize(scratch_.str().capacity());
    }
    char* const copy = scratch_.str().data();
    std::memcpy(copy, out.data() + frame.start, size);
    length_ = frame.start;
    bool first = true;
    for (std::size_t i = 0; i < members.size(); ++i) {
      if (i + 1 < members.size() && members[i + 1].Name() == members[i].Name()) continue;
      if (!first) out[length_++] = ',';
      first = false;
      const Member& member = members[i];
      std::memcpy(out.data() + length_, copy + (member.begin - frame.start),
                  member.end - member.begin);
      length_ += member.end - member.begin;
    }
    SecureWipe(copy, size);
    return true;
  }

  static std::string Decoded(const RawString<char>& text) {
    CountBytes count;
    DecodeContents(text.begin, text.end, count);
    std::string decoded(count.count, '\0');
    WriteBytes write{decoded.data()};
    DecodeContents(text.begin, text.end, write);
    return decoded;
  }

  bool Quoted(const RawString<char>& text) {
    const auto size = static_cast<std::size_t>(text.end - text.begin);
    if (!text.escaped) {
      // Checked: no controls, quotes or backslashes, well-formed: dump() writes it so.
      char* const room = Room(size + 2);
      room[0] = '"';
      std::memcpy(room + 1, text.begin, size);
      room[size + 1] = '"';
      length_ += size + 2;
      return true;
    }
    std::string decoded = Decoded(text);
    const std::size_t quoted = QuotedLength(decoded);
    char* const room = Room(quoted);
    CompactWriter writer(room, room + quoted);
    const bool written = writer.Quoted(decoded);
    SecureWipe(decoded);
    length_ += quoted;
    return written;
  }

  bool Put(std::string_view text) {
    std::memcpy(Room(text.size()), text.data(), text.size());
    length_ += text.size();
    return true;
  }

  // `size` writable bytes past what is written, and one more for a closing bracket. A
  // buffer outgrown is wiped (SecretString::Reserve).
  char* Room(std::size_t size) {
    std::string& out = out_.str();
    const std::size_t needed = length_ + size + 1;
    if (needed > out.size()) {
      out.resize(length_);
      if (needed > out.capacity()) out_.Reserve(std::max(out.capacity() * 2, needed));
      out.resize(out.capacity());
    }
    return out.data() + length_;
  }

  SecretString& out_;
  SecretString& scratch_;   // a copy of the object being sorted
  std::size_t length_;      // written so far; past it the buffer is spare room
  std::size_t moveBudget_;  // bytes the sorting may still move
  bool tooCostly_ = false;
  std::vector<Frame> frames_;
  std::size_t depth_ = 0;
  std::size_t values_ = 0;
};

template <class Char>
std::optional<json> Parse(std::basic_string_view<Char> text) {
  json root;
  BoundedBuilder builder(root);
  if (!Parser<Char, BoundedBuilder>(text, builder).Run()) {
    WipeStrings(root);
    return std::nullopt;
  }
  return root;
}

}  // namespace

std::optional<json> ParseBoundedJson(std::string_view text) { return Parse(text); }

std::optional<json> ParseBoundedJson(std::u16string_view text) { return Parse(text); }

bool AppendCompactBoundedJson(std::string_view text, SecretString& out) {
  const std::size_t start = out.size();
  bool tooCostly = false;
  {
    SecretString scratch;
    CompactBuilder builder(out, scratch, text.size());
    if (Parser<char, CompactBuilder>(text, builder).Run()) return true;
    tooCostly = builder.TooCostly();
  }
  if (!tooCostly) return false;
  // Sorting where the members lie would move the text over and over: the tree, within
  // its own bounds, costs less for such a text.
  const std::optional<json> tree = ParseBoundedJson(text);
  if (!tree) return false;
  const SecretString compact = SerialiseSecret(*tree);
  out.str().resize(start);  // the part written stays in the buffer, wiped with it
  out.Append(compact.view());
  return true;
}

std::size_t CompactLength(const json& value, std::size_t limit) {
  struct Frame {
    json::const_iterator next;
    json::const_iterator end;
    bool object;
    bool first;
  };
  std::vector<Frame> frames;
  std::size_t length = 0;
  const json* current = &value;
  for (;;) {
    if (current != nullptr) {
      if (current->is_structured()) {
        length += 2;
        if (!current->empty()) {
          frames.push_back({current->cbegin(), current->cend(), current->is_object(), true});
        }
      } else {
        length += ScalarLength(*current);
      }
      if (length > limit) return length;
      current = nullptr;
    }
    if (frames.empty()) return length;
    Frame& frame = frames.back();
    if (frame.next == frame.end) {
      frames.pop_back();
      continue;
    }
    if (!frame.first) length += 1;  // the comma
    frame.first = false;
    if (frame.object) length += QuotedLength(frame.next.key()) + 1;  // and the colon
    current = &*frame.next;
    ++frame.next;
  }
}

SecretString SerialiseSecret(const json& value) {
  SecretString text(std::string(CompactLength(value), '\0'));
  char* const begin = text.str().data();
  if (CompactWriter(begin, begin + text.size()).Write(value) == begin + text.size()) return text;
  // Text that is not UTF-8: the library's serialiser raises what dump() raises.
  const auto output = std::make_shared<FixedOutput>(text.str().data(), text.size());
  nlohmann::detail::serializer<json> serializer(output, ' ');
  serializer.dump(value, false, false, 0);
  if (!output->Filled()) throw std::logic_error("serialised length differs from the measured one");
  return text;
}

void WipeStrings(json& value) noexcept {
  struct Frame {
    json::iterator next;
    json::iterator end;
  };
  // Values from ParseBoundedJson nest at most kMaxJsonDepth deep; anything deeper is
  // left as it is rather than allocating while wiping.
  std::array<Frame, kMaxJsonDepth + 1> frames;
  std::size_t depth = 0;
  json* current = &value;
  for (;;) {
    if (current != nullptr) {
      if (current->is_string()) {
        SecureWipe(current->get_ref<json::string_t&>());
      } else if (current->is_structured() && !current->empty() && depth < frames.size()) {
        frames[depth++] = {current->begin(), current->end()};
      }
      current = nullptr;
    }
    if (depth == 0) return;
    Frame& frame = frames[depth - 1];
    if (frame.next == frame.end) {
      --depth;
      continue;
    }
    current = &*frame.next;
    ++frame.next;
  }
}

}  // namespace vardeko
