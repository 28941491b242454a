#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/secure_wipe.h"

// JSON from outside the program (page messages, service replies) enters only through
// ParseBoundedJson. The JSON library parses and destroys without recursion, but dump(),
// copies and comparisons recurse once per nesting level, and every value costs heap:
// the bounds below keep all of that small whatever the text holds.
namespace vardeko {

// Arrays and objects nested inside one another. Real records and replies nest a few
// levels; a thread's stack (1 MiB on Windows) holds thousands of levels of dump().
inline constexpr std::size_t kMaxJsonDepth = 128;

// Values of every kind (objects, arrays, strings, numbers, literals; member names are
// not counted). A value costs the parsed tree 16 to 160 bytes of heap besides its text,
// so this bounds a tree at about 160 MiB however the text is made. Records of the
// service run 20 to 40 bytes of text a value: 20 MiB of them and more fit.
inline constexpr std::size_t kMaxJsonValues = std::size_t{1} << 20;

// One strict JSON text (nothing but white space after the value), or nullopt when the
// text is not JSON, nests deeper than kMaxJsonDepth or holds more than kMaxJsonValues
// values. Long strings are taken over from the parser, not copied; the parser's buffer
// is wiped after each shorter one.
std::optional<nlohmann::json> ParseBoundedJson(std::string_view text);

// The same for UTF-16 text (a page message as the browser hands it over): text that does
// not convert strictly to UTF-8 counts as not JSON. Long strings go from the text into
// the tree in one step; no UTF-8 copy of the whole text is made.
std::optional<nlohmann::json> ParseBoundedJson(std::u16string_view text);

// Appends to `out` what SerialiseSecret(*ParseBoundedJson(text)) would give, without
// building the tree (a reply passed on to the page costs no tree: 32 MiB of records make
// one of 130 MiB); false, with `out` holding a part of it, for exactly the texts
// ParseBoundedJson refuses. A buffer outgrown on the way is wiped.
bool AppendCompactBoundedJson(std::string_view text, SecretString& out);

// The length of value.dump() (compact, non-ASCII unescaped), measured without
// recursion; once the count passes `limit` it stops and returns a number above `limit`.
std::size_t CompactLength(const nlohmann::json& value, std::size_t limit = SIZE_MAX);

// value.dump() written into a buffer allocated once at its final size, so no outgrown
// copy of the text is freed unwiped; wiped when the result goes. Raises what dump()
// raises (text that is not UTF-8).
SecretString SerialiseSecret(const nlohmann::json& value);

// Overwrites every string value (and its spare capacity) with zeros and empties it;
// member names are kept. Without recursion.
void WipeStrings(nlohmann::json& value) noexcept;

// A parsed value whose strings may hold a secret (the password in a login record):
// every string is wiped before the value is released. Move-only.
class WipedJson {
 public:
  WipedJson() = default;
  WipedJson(nlohmann::json value) noexcept : value_(std::move(value)) {}  // NOLINT: implicit
  ~WipedJson() { WipeStrings(value_); }
  WipedJson(WipedJson&& other) noexcept : value_(std::move(other.value_)) {}
  WipedJson& operator=(WipedJson&& other) noexcept {
    if (this != &other) {
      WipeStrings(value_);
      value_ = std::move(other.value_);
    }
    return *this;
  }
  WipedJson(const WipedJson&) = delete;
  WipedJson& operator=(const WipedJson&) = delete;

  nlohmann::json& get() noexcept { return value_; }
  const nlohmann::json& get() const noexcept { return value_; }

 private:
  nlohmann::json value_;
};

}  // namespace vardeko
