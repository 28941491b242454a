#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vardeko {

// The validated service base URL every request is built from; fixed for the life of
// the service client.
struct ServiceAddress {
  std::string baseUrl;      // scheme, host, port when not the default, path; no final "/"
  std::u16string host;      // as split from the URL, A-Z lowered
  std::u16string basePath;  // the URL path without trailing "/"; may be empty
  std::uint16_t port = 0;   // explicit, or the scheme's default
  bool secure = false;      // https
};

// The components of a URL, split as WinHttpCrackUrl splits them with no flags.
struct UrlParts {
  int scheme = 0;  // 1 http, 2 https (INTERNET_SCHEME_*)
  std::u16string host;
  std::optional<std::u16string> userName;  // set when the URL has user information
  std::optional<std::u16string> password;
  std::uint16_t port = 0;
  std::u16string urlPath;
  std::u16string extraInfo;  // from "?" or "#" on
};

// nullopt where WinHttpCrackUrl fails: no "://", a scheme other than http and https, or a
// port that is not a decimal number up to 65535.
std::optional<UrlParts> SplitUrl(std::u16string_view url);

// Validates and normalises the service base URL. Raises ApiFailure (INVALID_CONFIG, or
// the strict conversion's INVALID_INPUT) on any rejection.
ServiceAddress ParseServiceAddress(std::string_view url);

}  // namespace vardeko
