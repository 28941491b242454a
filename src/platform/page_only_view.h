#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/browser.h"

namespace vardeko {

// A browser view that only carries page messages, for hosts without a browser (the
// headless bridge host): every other operation fails, which Host::Configure reports.
class PageOnlyView : public BrowserView {
 public:
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
  BrowserResult AddWebResourceRequestedFilter(std::u16string_view, int) override {
    return kBrowserFail;
  }
  BrowserResult Navigate(std::u16string_view) override { return kBrowserFail; }
};

}  // namespace vardeko
