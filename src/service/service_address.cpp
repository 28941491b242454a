#include "service/service_address.h"

#include "base/api_failure.h"
#include "service/validation.h"

namespace vardeko {
namespace {

constexpr std::size_t kMaxUrlBytes = 4096;
constexpr int kSchemeHttp = 1;
constexpr int kSchemeHttps = 2;

bool EqualsIgnoringAsciiCase(std::u16string_view text, std::u16string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i] >= u'A' && text[i] <= u'Z' ? text[i] + (u'a' - u'A') : text[i];
    if (c != lower[i]) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view text) {
  for (const char16_t c : text) {
    if (c > 0x7F) return false;
  }
  return true;
}

std::optional<std::uint16_t> ParsePort(std::u16string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<UrlParts> SplitUrl(std::u16string_view url) {
  const std::size_t schemeEnd = url.find(u"://");
  if (schemeEnd == std::u16string_view::npos) return std::nullopt;
  UrlParts parts;
  const std::u16string_view scheme = url.substr(0, schemeEnd);
  if (EqualsIgnoringAsciiCase(scheme, u"http")) {
    parts.scheme = kSchemeHttp;
  } else if (EqualsIgnoringAsciiCase(scheme, u"https")) {
    parts.scheme = kSchemeHttps;
  } else {
    return std::nullopt;
  }

  const std::u16string_view rest = url.substr(schemeEnd + 3);
  const std::size_t authorityEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
  std::u16string_view authority = rest.substr(0, authorityEnd);

  if (const std::size_t at = authority.find(u'@'); at != std::u16string_view::npos) {
    const std::u16string_view userInfo = authority.substr(0, at);
    const std::size_t colon = userInfo.find(u':');
    parts.userName = std::u16string(userInfo.substr(0, colon));
    if (colon != std::u16string_view::npos)
      parts.password = std::u16string(userInfo.substr(colon + 1));
    authority = authority.substr(at + 1);
  }

  std::u16string_view host = authority;
  std::optional<std::u16string_view> portText;
  if (!authority.empty() && authority.front() == u'[') {
    // An IPv6 literal keeps its brackets in the host name.
    const std::size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return std::nullopt;
    host = authority.substr(0, close + 1);
    const std::u16string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != u':') return std::nullopt;
      portText = after.substr(1);
    }
  } else if (const std::size_t colon = authority.find(u':'); colon != std::u16string_view::npos) {
    host = authority.substr(0, colon);
    portText = authority.substr(colon + 1);
  }
  parts.host = std::u16string(host);
  if (portText) {
    const std::optional<std::uint16_t> port = ParsePort(*portText);
    if (!port) return std::nullopt;
    parts.port = *port;
  } else {
    parts.port = parts.scheme == kSchemeHttps ? 443 : 80;
  }

  const std::u16string_view tail = rest.substr(authorityEnd);
  const std::size_t extra = std::min(tail.find_first_of(u"?#"), tail.size());
  parts.urlPath = std::u16string(tail.substr(0, extra));
  parts.extraInfo = std::u16string(tail.substr(extra));
  return parts;
}

ServiceAddress ParseServiceAddress(std::string_view url) {
  if (url.empty() || url.size() > kMaxUrlBytes) Throw(failures::kAddressNotSecure);
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '?' || c == '#' || c == '\\' || byte <= 0x20 || byte == 0x7F) {
      Throw(failures::kAddressNotSecure);
    }
  }
  const std::optional<UrlParts> parts = SplitUrl(ToUtf16Strict(url));
  if (!parts || parts->host.empty() || parts->userName || parts->password ||
      !parts->extraInfo.empty()) {
    Throw(failures::kAddressInvalid);
  }
  // WinHTTP takes port 0 as the scheme's default, while the address and the session file
  // name would keep ":0". Host names beyond ASCII reach WinHTTP only as Punycode; they are
  // refused rather than converted: the conversion rules differ between IDNA versions
  // (letters such as "ß" map differently), so one text could reach different hosts on
  // Windows and Linux, and the address that names the session file would not be the one
  // connected to. The Punycode form is accepted and means the same everywhere.
  if (parts->port == 0 || !IsAscii(parts->host)) Throw(failures::kAddressInvalid);

  ServiceAddress address;
  address.secure = parts->scheme == kSchemeHttps;
  address.host = parts->host;
  for (char16_t& c : address.host) {
    if (c >= u'A' && c <= u'Z') c += u'a' - u'A';
  }
  address.port = parts->port;
  if (!address.secure && address.host != u"localhost" && address.host != u"127.0.0.1" &&
      address.host != u"::1" && address.host != u"[::1]") {
    Throw(failures::kRemoteAddressNeedsHttps);
  }
  address.basePath = parts->urlPath;
  while (!address.basePath.empty() && address.basePath.back() == u'/') address.basePath.pop_back();

  // GCC 12 warns falsely (-Wrestrict) on operator+ chains here; appends say the same.
  const std::string host = ToUtf8Strict(address.host);
  const bool bracket = host.find(':') != std::string::npos && host.front() != '[';
  address.baseUrl = address.secure ? "https://" : "http://";
  if (bracket) address.baseUrl += '[';
  address.baseUrl += host;
  if (bracket) address.baseUrl += ']';
  if (address.port != (address.secure ? 443 : 80)) {
    address.baseUrl += ':';
    address.baseUrl += std::to_string(address.port);
  }
  address.baseUrl += ToUtf8Strict(address.basePath);
  return address;
}

}  // namespace vardeko
