#pragma once

#include <cstddef>
#include <string_view>
#include <utility>

#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "base/secure_wipe.h"

namespace vardeko {

// What a service method answers: a value, or a service reply passed on to the page as
// its compact text (what the tree would serialise to), made without the tree: 32 MiB of
// records make a tree of some 130 MiB.
class ServiceResult {
 public:
  // Bytes a text keeps free before it and, at least, after it: the reply envelope is
  // written around the text where it lies ({"data": before, the id and "ok" after), so
  // a 32 MiB reply is not copied once more.
  static constexpr std::size_t kTextRoomBefore = 8;
  static constexpr std::size_t kTextRoomAfter = 1024;

  ServiceResult(nlohmann::json value) noexcept : value_(std::move(value)) {}  // NOLINT: implicit
  ServiceResult(std::nullptr_t) noexcept {}                                   // NOLINT: implicit

  // `buffer` holds kTextRoomBefore bytes of room, then the compact serialisation of a
  // checked reply (AppendCompactBoundedJson).
  static ServiceResult Text(SecretString buffer) noexcept {
    ServiceResult result(nullptr);
    result.text_ = std::move(buffer);
    result.isText_ = true;
    return result;
  }

  bool isText() const noexcept { return isText_; }
  // The value; null for a text.
  nlohmann::json& value() noexcept { return value_; }
  // The compact text; empty for a value.
  std::string_view text() const noexcept {
    return isText_ ? text_.view().substr(kTextRoomBefore) : std::string_view();
  }
  // The text's buffer, its room before it included; the result holds nothing after.
  SecretString TakeBuffer() noexcept {
    isText_ = false;
    return std::move(text_);
  }

  // The value either way (a text parsed): for callers that look inside.
  nlohmann::json ToJson() const {
    if (!isText_) return value_;
    return ParseBoundedJson(text()).value();  // checked when it was made
  }

 private:
  nlohmann::json value_;
  SecretString text_;  // a reply body's data: wiped when it goes
  bool isText_ = false;
};

}  // namespace vardeko
