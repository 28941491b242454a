#pragma once

#include <functional>
#include <utility>

#include "platform/page_only_view.h"

namespace vardeko::testing {

// A browser view that only delivers page messages, to `onPost`.
class StubBrowserView final : public PageOnlyView {
 public:
  explicit StubBrowserView(std::function<void(std::u16string_view)> onPost = {})
      : onPost_(std::move(onPost)) {}

  void PostWebMessageAsJson(const std::u16string& json) override {
    if (onPost_) onPost_(json);
  }

 private:
  std::function<void(std::u16string_view)> onPost_;
};

}  // namespace vardeko::testing
