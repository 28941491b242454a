#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "base/secure_wipe.h"

namespace vardeko {

// What a service method answers: a value, or a service reply passed on to the page as
// it came. A reply is checked as ParseBoundedJson would take it but no tree is built:
// 32 MiB of records make a tree of some 130 MiB, and the page parses the text anyway.
class ServiceResult {
 public:
  ServiceResult(nlohmann::json value) noexcept : value_(std::move(value)) {}  // NOLINT: implicit
  ServiceResult(std::nullptr_t) noexcept {}                                   // NOLINT: implicit

  // The checked value is `length` bytes at `offset` in `body` (CheckBoundedJson), given
  // as numbers: a short text moves out of the string's own storage.
  static ServiceResult Forwarded(SecretString body, std::size_t offset, std::size_t length) {
    ServiceResult result(nullptr);
    result.body_ = std::move(body);
    result.offset_ = offset;
    result.length_ = length;
    result.forwarded_ = true;
    return result;
  }

  bool forwarded() const noexcept { return forwarded_; }
  // The value; null for a forwarded reply.
  nlohmann::json& value() noexcept { return value_; }
  // The forwarded reply's JSON text; empty for a value.
  std::string_view text() const noexcept { return body_.view().substr(offset_, length_); }

  // The value either way (a forwarded text parsed): for callers that look inside.
  nlohmann::json ToJson() const {
    if (!forwarded_) return value_;
    return ParseBoundedJson(text()).value();  // checked when it was made
  }

 private:
  nlohmann::json value_;
  SecretString body_;  // a reply body: wiped when it goes
  std::size_t offset_ = 0;
  std::size_t length_ = 0;
  bool forwarded_ = false;
};

}  // namespace vardeko
