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

inline constexpr std::u16string_view kNoSniff = u"X-Content-Type-Options: nosniff\r\n";

// Answers the request with the body (none when empty), status, reason and header lines.
// Returns the result of the last browser call; kBrowserFail without an environment.
BrowserResult Respond(Host& host, WebResourceRequestedArgs& args, std::string_view body, int status,
                      std::u16string_view reason, std::u16string_view headers);

// Answers the request for the start document with renderer/index.html, read anew each
// time (as ReadRendererFile allows it), and the security headers; an empty, unreadable or
// too large file with 500 and "nosniff", so that the load fails: a request left without
// a response would go on to the network, where this host name is the loopback.
// Returns the result of the last browser call.
BrowserResult ServeStartDocument(Host& host, WebResourceRequestedArgs& args) noexcept;

}  // namespace vardeko
