#pragma once

#include <filesystem>

#include "platform/browser.h"

namespace vardeko {

// The WebView2 runtime behind the browser seam. The loader library is taken from
// `loaderPath` only (never the search path); a missing file or entry point makes
// environment creation fail at once.
std::unique_ptr<BrowserRuntime> CreateWebView2Runtime(std::filesystem::path loaderPath);

}  // namespace vardeko
