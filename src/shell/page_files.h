#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/browser.h"
#include "shell/host.h"
#include "shell/launch_config.h"

// The renderer folder served to the page under the private origin, every file by the
// program itself: the runtime's folder mapping would answer requests before the
// program sees them, and so without the security headers.
namespace vardeko {

// Per file. The page's files are tens of KiB; the bound leaves room for a subset CJK web
// font or a wasm module and keeps one read on the UI thread to a few milliseconds.
inline constexpr std::size_t kMaxPageFileBytes = std::size_t{8} << 20;
// A longer decoded path names no file the page ships.
inline constexpr std::size_t kMaxPagePathBytes = 1024;

// The path inside the renderer folder that a request URI names, decoded (UTF-8, "/"
// between names), or nullopt when it must be refused: not the private origin, a bad or
// non-ASCII escape, invalid UTF-8, an empty, "." or ".." segment, a backslash, ":", a
// control character or one of <>"|?*, a trailing dot or blank, or a device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension). Query and
// fragment are ignored; the path is decoded once.
// `origin` is the page origin served (Host::pageOrigin).
std::optional<std::string> PagePathOf(std::u16string_view uri,
                                      std::u16string_view origin = kPrivateOrigin);

// "Content-Type" by the file name's extension, ASCII letters in any case;
// "application/octet-stream" for any other.
std::string_view ContentTypeOf(std::string_view fileName);

// The handler of every request for the private origin. The start document is answered
// as ServeStartDocument does; any other file of the folder with 200, its type and
// "nosniff"; a refused or missing name with 404, a file past the bound with 500, a
// method other than GET with 405, each with "nosniff" and no body. Returns the result
// of the last browser call, or the start document's own.
BrowserResult ServePageFile(Host& host, WebResourceRequestedArgs& args) noexcept;

}  // namespace vardeko
