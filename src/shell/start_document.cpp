#include "shell/start_document.h"

#include <fstream>
#include <string>

namespace vardeko {
namespace {

// The whole file, or at most one byte past the limit, which is enough to refuse it.
std::string ReadBounded(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  std::string bytes(kMaxStartDocumentBytes + 1, '\0');
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

}  // namespace

BrowserResult ServeStartDocument(Host& host, WebResourceRequestedArgs& args) noexcept {
  try {
    const std::string bytes = ReadBounded(host.rendererDirectory / u"index.html");
    if (bytes.empty() || bytes.size() > kMaxStartDocumentBytes) return kBrowserFail;
    if (!host.environment) return kBrowserFail;
    std::unique_ptr<WebResourceResponse> response;
    const BrowserResult created = host.environment->CreateWebResourceResponse(
        bytes, 200, u"OK", kStartDocumentHeaders, response);
    if (Failed(created) || !response) return Failed(created) ? created : kBrowserFail;
    return args.SetResponse(*response);
  } catch (...) {
    return kBrowserOutOfMemory;  // only allocation can throw here
  }
}

}  // namespace vardeko
