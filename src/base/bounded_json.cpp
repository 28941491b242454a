#include "base/bounded_json.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <utility>
#include <vector>

namespace vardeko {
namespace {

using nlohmann::json;

constexpr std::size_t kCopiedStringBytes = 4096;

// A string from the parser's buffer, which the parser clears before its next token. A
// long one is taken over whole (a screenshot's text is 16 MiB: no copy); a short one is
// copied at its size, so the tree keeps no spare capacity, and the buffer is wiped.
// Either way no whole string is left in a buffer the parser frees later.
json::string_t Take(json::string_t& buffer) {
  if (buffer.size() > kCopiedStringBytes) return std::move(buffer);
  json::string_t copy(buffer);
  SecureWipe(buffer);
  return copy;
}

// Builds the value as the JSON library's own DOM parser does (a duplicate member name
// keeps the last value), refusing to go deeper than kMaxJsonDepth or past
// kMaxJsonValues values. Returning false stops the parse at once.
class BoundedBuilder {
 public:
  explicit BoundedBuilder(json& root) : root_(root) { containers_.reserve(kMaxJsonDepth); }

  bool null() { return Add(nullptr) != nullptr; }
  bool boolean(bool value) { return Add(value) != nullptr; }
  bool number_integer(json::number_integer_t value) { return Add(value) != nullptr; }
  bool number_unsigned(json::number_unsigned_t value) { return Add(value) != nullptr; }
  bool number_float(json::number_float_t value, const json::string_t&) {
    return Add(value) != nullptr;
  }
  bool string(json::string_t& value) { return Add(Take(value)) != nullptr; }
  bool binary(json::binary_t& value) { return Add(json::binary(std::move(value))) != nullptr; }
  bool start_object(std::size_t) { return Open(json::value_t::object); }
  bool key(json::string_t& name) {
    member_ = &(*containers_.back())[Take(name)];
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(json::value_t::array); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t, const std::string&, const json::exception&) { return false; }

 private:
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

// A put area over a buffer of the final size: nothing is ever reallocated.
class FixedOutput final : public std::streambuf {
 public:
  FixedOutput(char* begin, std::size_t size) { setp(begin, begin + size); }
  std::size_t Written() const { return static_cast<std::size_t>(pptr() - pbase()); }
};

}  // namespace

std::optional<json> ParseBoundedJson(std::string_view text) {
  json root;
  BoundedBuilder builder(root);
  if (!json::sax_parse(text.data(), text.data() + text.size(), &builder)) return std::nullopt;
  return root;
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
  FixedOutput buffer(text.str().data(), text.size());
  std::ostream out(&buffer);
  out << value;
  if (!out || buffer.Written() != text.size()) {
    throw std::logic_error("serialised length differs from the measured one");
  }
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
