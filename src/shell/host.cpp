#include "shell/host.h"

#include "base/bounded_json.h"
#include "base/scope_exit.h"
#include "base/utf.h"

namespace vardeko {
namespace {

// `release`, when given, frees the UTF-8 text once converted: the runtime makes a copy of
// its own, and a 32 MiB reply is 64 MiB of UTF-16.
void PostTextToPage(BrowserView& webview, std::string_view text, PostedJson* release = nullptr) {
  if (webview.PostWebMessageAsUtf8(text)) return;
  std::u16string wide = Utf8ToWide(text);
  const ScopeExit wipe([&wide] { SecureWipe(wide); });
  if (release != nullptr) release->reset();
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
    PostTextToPage(*host.webview, *text, &text);
  } catch (...) {
    // The text came from the JSON library and converts; only memory can run out here,
    // and then the reply is lost like one posted to a closed window.
  }
}

}  // namespace vardeko
