#include "shell/page_files.h"

#include <array>
#include <filesystem>

#include "base/utf.h"
#include "platform/renderer_files.h"
#include "shell/start_document.h"

namespace vardeko {
namespace {

int HexValue(char16_t digit) {
  if (digit >= u'0' && digit <= u'9') return digit - u'0';
  if (digit >= u'a' && digit <= u'f') return digit - u'a' + 10;
  if (digit >= u'A' && digit <= u'F') return digit - u'A' + 10;
  return -1;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// Windows opens a device, not a file, for these names in any folder, whatever follows
// the first dot and with blanks before it; the digits include the superscripts 1-3.
bool IsDeviceName(std::string_view segment) {
  std::string_view stem = segment.substr(0, segment.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"}) {
    if (EqualsIgnoringCase(stem, device)) return true;
  }
  if (stem.size() < 4) return false;
  const std::string_view prefix = stem.substr(0, 3);
  if (!EqualsIgnoringCase(prefix, "COM") && !EqualsIgnoringCase(prefix, "LPT")) return false;
  const std::string_view digit = stem.substr(3);
  return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool IsServableSegment(std::string_view segment) {
  if (segment.empty() || segment == "." || segment == "..") return false;
  if (segment.back() == '.' || segment.back() == ' ') return false;
  for (unsigned char c : segment) {
    if (c < 0x20 || c == 0x7F) return false;
    if (std::string_view("\\:<>\"|?*").find(static_cast<char>(c)) != std::string_view::npos) {
      return false;
    }
  }
  return !IsDeviceName(segment);
}

std::filesystem::path RelativePath(std::string_view pagePath) {
  std::filesystem::path relative;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = pagePath.find('/', start);
    relative /= Utf8ToWide(pagePath.substr(start, slash - start));
    if (slash == std::string_view::npos) return relative;
    start = slash + 1;
  }
}

}  // namespace

std::optional<std::string> PagePathOf(std::u16string_view uri, std::u16string_view origin) {
  if (uri.size() <= origin.size() || uri.substr(0, origin.size()) != origin ||
      uri[origin.size()] != u'/') {
    return std::nullopt;
  }
  std::u16string_view encoded = uri.substr(origin.size() + 1);
  encoded = encoded.substr(0, encoded.find_first_of(u"?#"));

  std::string decoded;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    const char16_t c = encoded[i];
    // The runtime hands over URIs in their ASCII form; anything else is not a name.
    if (c <= 0x20 || c >= 0x7F) return std::nullopt;
    if (c != u'%') {
      decoded += static_cast<char>(c);
    } else {
      const int high = i + 2 < encoded.size() ? HexValue(encoded[i + 1]) : -1;
      const int low = high >= 0 ? HexValue(encoded[i + 2]) : -1;
      if (low < 0) return std::nullopt;
      decoded += static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (decoded.size() > kMaxPagePathBytes) return std::nullopt;
  }
  if (!utf::Utf16Length(decoded)) return std::nullopt;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = decoded.find('/', start);
    if (!IsServableSegment(std::string_view(decoded).substr(start, slash - start))) {
      return std::nullopt;
    }
    if (slash == std::string::npos) return decoded;
    start = slash + 1;
  }
}

std::string_view ContentTypeOf(std::string_view fileName) {
  struct Type {
    std::string_view extension;
    std::string_view type;
  };
  static constexpr std::array<Type, 20> kTypes{{
      {"html", "text/html; charset=utf-8"},
      {"htm", "text/html; charset=utf-8"},
      {"js", "text/javascript; charset=utf-8"},
      {"mjs", "text/javascript; charset=utf-8"},
      {"css", "text/css; charset=utf-8"},
      {"json", "application/json"},
      {"map", "application/json"},
      {"svg", "image/svg+xml"},
      {"png", "image/png"},
      {"jpg", "image/jpeg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"webp", "image/webp"},
      {"ico", "image/x-icon"},
      {"woff", "font/woff"},
      {"woff2", "font/woff2"},
      {"ttf", "font/ttf"},
      {"otf", "font/otf"},
      {"wasm", "application/wasm"},
      {"txt", "text/plain; charset=utf-8"},
  }};
  const std::size_t slash = fileName.rfind('/');
  const std::string_view name =
      slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string_view::npos && dot > 0) {
    const std::string_view extension = name.substr(dot + 1);
    for (const Type& entry : kTypes) {
      if (EqualsIgnoringCase(extension, entry.extension)) return entry.type;
    }
  }
  return "application/octet-stream";
}

BrowserResult ServePageFile(Host& host, WebResourceRequestedArgs& args) noexcept {
  try {
    const std::optional<std::u16string> method = args.Method();
    if (method != u"GET") {
      return Respond(host, args, {}, 405, u"Method Not Allowed",
                     std::u16string(u"Allow: GET\r\n") + std::u16string(kNoSniff));
    }
    const std::optional<std::u16string> uri = args.Uri();
    const std::optional<std::string> path = uri ? PagePathOf(*uri, host.pageOrigin) : std::nullopt;
    if (path == "index.html") return ServeStartDocument(host, args);
    RendererFile file;
    if (path)
      file = ReadRendererFile(host.rendererDirectory, RelativePath(*path), kMaxPageFileBytes);
    switch (path ? file.status : RendererFileStatus::kMissing) {
      case RendererFileStatus::kRead:
        return Respond(host, args, file.bytes, 200, u"OK",
                       u"Content-Type: " + Utf8ToWide(ContentTypeOf(*path)) + u"\r\n" +
                           std::u16string(kNoSniff));
      case RendererFileStatus::kTooLarge:
        return Respond(host, args, {}, 500, u"File Too Large", kNoSniff);
      case RendererFileStatus::kUnreadable:
        return Respond(host, args, {}, 500, u"Internal Server Error", kNoSniff);
      case RendererFileStatus::kMissing:
      case RendererFileStatus::kOutside:
      case RendererFileStatus::kNotRegular:
        break;
    }
    return Respond(host, args, {}, 404, u"Not Found", kNoSniff);
  } catch (...) {
    return kBrowserOutOfMemory;  // only allocation can throw here
  }
}

}  // namespace vardeko
