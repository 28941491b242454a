#pragma once

#include <cstddef>
#include <string_view>

#include "platform/browser.h"
#include "shell/host.h"

namespace vardeko {

inline constexpr std::size_t kMaxStartDocumentBytes = 1048576;

inline constexpr std::u16string_view kStartDocumentHeaders =
    u"Content-Type: text/html; charset=utf-8\r\n"
    u"Content-Security-Policy: default-src 'self'; script-src 'self'; style-src 'self' "
    u"'unsafe-inline'; img-src 'self' data: blob:; font-src 'self' data:; connect-src 'none'; "
    u"object-src 'none'; base-uri 'self'; frame-src 'none'\r\n"
    u"X-Content-Type-Options: nosniff\r\n";

// Answers the request for the start document with renderer/index.html, read anew each
// time (as ReadRendererFile allows it), and the security headers. Returns the runtime result:
// kBrowserFail for an empty, unreadable or too large file, else that of the last browser call.
BrowserResult ServeStartDocument(Host& host, WebResourceRequestedArgs& args) noexcept;

}  // namespace vardeko
