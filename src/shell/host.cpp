#include "shell/host.h"

#include "base/bounded_json.h"
#include "base/scope_exit.h"
#include "base/utf.h"

namespace vardeko {
namespace {

void PostTextToPage(BrowserView& webview, std::string_view text) {
  if (webview.PostWebMessageAsUtf8(text)) return;
  std::u16string wide = Utf8ToWide(text);
  const ScopeExit wipe([&wide] { SecureWipe(wide); });
  webview.PostWebMessageAsJson(wide);
}

}  // namespace

void PostJsonToPage(Host& host, const nlohmann::json& value) {
  if (!host.webview) return;
  PostTextToPage(*host.webview, SerialiseSecret(value).view());
}

void DeliverPostedJson(Host& host, PostedJson text) noexcept {
  if (!host.webview || !text) return;
  try {
    PostTextToPage(*host.webview, *text);
  } catch (...) {
    // The text came from the JSON library and converts; only memory can run out here,
    // and then the reply is lost like one posted to a closed window.
  }
}

}  // namespace vardeko
