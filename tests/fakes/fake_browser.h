#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/utf.h"
#include "platform/browser.h"

namespace vardeko::testing {

// One WebMessageReceived event with the given source and text; nullopt stands for a
// value the runtime could not give.
class FakeWebMessage final : public WebMessageReceivedArgs {
 public:
  FakeWebMessage(std::optional<std::u16string> source, std::optional<std::u16string> json)
      : source_(std::move(source)), json_(std::move(json)) {}

  std::optional<std::u16string_view> Source() override { return source_; }
  std::optional<std::u16string_view> WebMessageAsJson() override {
    ++jsonReads;
    return json_;
  }

  int jsonReads = 0;

 private:
  std::optional<std::u16string> source_;
  std::optional<std::u16string> json_;
};

// The same event over texts the caller keeps alive: no copy, for large messages.
class WebMessageView final : public WebMessageReceivedArgs {
 public:
  WebMessageView(std::u16string_view source, std::u16string_view json)
      : source_(source), json_(json) {}
  std::optional<std::u16string_view> Source() override { return source_; }
  std::optional<std::u16string_view> WebMessageAsJson() override { return json_; }

 private:
  std::u16string_view source_;
  std::u16string_view json_;
};

}  // namespace vardeko::testing
