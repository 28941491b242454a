#pragma once

#include <functional>
#include <utility>

#include "host/browser.h"

namespace vardeko::testing {

// A browser view that only delivers page messages, to `onPost`; everything else fails,
// for code that uses nothing but the page channel.
class StubBrowserView final : public BrowserView {
 public:
  explicit StubBrowserView(std::function<void(std::u16string_view)> onPost = {})
      : onPost_(std::move(onPost)) {}

  void PostWebMessageAsJson(std::u16string_view json) override {
    if (onPost_) onPost_(json);
  }
  BrowserResult GetSettings(std::unique_ptr<BrowserSettings>&) override { return kBrowserFail; }
  BrowserResult AddProcessFailed(BrowserEvent<ProcessFailedArgs>) override { return kBrowserFail; }
  BrowserResult AddWebMessageReceived(BrowserEvent<WebMessageReceivedArgs>) override {
    return kBrowserFail;
  }
  BrowserResult AddNavigationStarting(BrowserEvent<NavigationStartingArgs>) override {
    return kBrowserFail;
  }
  BrowserResult AddFrameNavigationStarting(BrowserEvent<NavigationStartingArgs>) override {
    return kBrowserFail;
  }
  BrowserResult AddNewWindowRequested(BrowserEvent<NewWindowRequestedArgs>) override {
    return kBrowserFail;
  }
  BrowserResult AddPermissionRequested(BrowserEvent<PermissionRequestedArgs>) override {
    return kBrowserFail;
  }
  std::optional<BrowserResult> AddDownloadStarting(BrowserEvent<DownloadStartingArgs>) override {
    return std::nullopt;
  }
  BrowserResult AddNavigationCompleted(BrowserEvent<NavigationCompletedArgs>) override {
    return kBrowserFail;
  }
  BrowserResult AddWebResourceRequested(WebResourceRequestedHandler) override {
    return kBrowserFail;
  }
  BrowserResult SetVirtualHostNameToFolderMapping(std::u16string_view, const std::filesystem::path&,
                                                  int) override {
    return kBrowserFail;
  }
  BrowserResult AddWebResourceRequestedFilter(std::u16string_view, int) override {
    return kBrowserFail;
  }
  BrowserResult Navigate(std::u16string_view) override { return kBrowserFail; }

 private:
  std::function<void(std::u16string_view)> onPost_;
};

}  // namespace vardeko::testing
