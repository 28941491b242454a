#include "shell/start_document.h"

#include <string>

#include "platform/renderer_files.h"

namespace vardeko {

BrowserResult Respond(Host& host, WebResourceRequestedArgs& args, std::string_view body, int status,
                      std::u16string_view reason, std::u16string_view headers) {
  if (!host.environment) return kBrowserFail;
  std::unique_ptr<WebResourceResponse> response;
  const BrowserResult created =
      host.environment->CreateWebResourceResponse(body, status, reason, headers, response);
  if (Failed(created) || !response) return Failed(created) ? created : kBrowserFail;
  return args.SetResponse(*response);
}

BrowserResult ServeStartDocument(Host& host, WebResourceRequestedArgs& args) noexcept {
  try {
    // Read anew on every request; missing, unreadable, outside the folder or too large
    // all read as no document.
    const RendererFile file =
        ReadRendererFile(host.rendererDirectory, u"index.html", kMaxStartDocumentBytes);
    if (file.status != RendererFileStatus::kRead || file.bytes.empty()) {
      return Respond(host, args, {}, 500, u"Internal Server Error", kNoSniff);
    }
    return Respond(host, args, file.bytes, 200, u"OK", kStartDocumentHeaders);
  } catch (...) {
    return kBrowserOutOfMemory;  // only allocation can throw here
  }
}

}  // namespace vardeko
