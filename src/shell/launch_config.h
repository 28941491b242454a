#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/launch_platform.h"

namespace vardeko {

// Set at build time with -DVARDEKO_DEFAULT_API_URL=...
#ifndef VARDEKO_DEFAULT_API_URL
#define VARDEKO_DEFAULT_API_URL "https://ledger.vardeko.com/api"
#endif
inline constexpr std::u16string_view kDefaultServiceBaseUrl = u"" VARDEKO_DEFAULT_API_URL;

// Name under which the program serves the renderer folder. Private: it resolves nowhere
// else. Under ".localhost" the browser answers the name itself, without any lookup (a
// ".local" name goes to multicast DNS first and stalls every load by seconds).
inline constexpr std::u16string_view kVirtualHostName = u"app.vardeko.localhost";
inline constexpr std::u16string_view kPrivateOrigin = u"https://app.vardeko.localhost";
inline constexpr std::u16string_view kStartUrl = u"https://app.vardeko.localhost/index.html";
static_assert(kPrivateOrigin.substr(8) == kVirtualHostName &&
              kStartUrl.substr(0, kPrivateOrigin.size()) == kPrivateOrigin);

// The origin the renderer folder is served under and the start URL in it, per engine:
// WebView2 lets the program answer an https name, WebKitGTK only a scheme of the
// program's own, registered as secure.
struct PageOrigin {
  std::u16string_view origin;  // without a trailing slash
  std::u16string_view startUrl;
};
inline constexpr PageOrigin kWebView2PageOrigin{kPrivateOrigin, kStartUrl};
inline constexpr std::string_view kWebKitPageScheme = "vardeko";
inline constexpr PageOrigin kWebKitPageOrigin{u"vardeko://app", u"vardeko://app/index.html"};

// What a launch resolves from the environment and the executable's location.
struct LaunchConfig {
  std::filesystem::path rendererDirectory;
  std::filesystem::path dataDirectory;  // exists once resolved
  std::string serviceBaseUrl;           // as configured; the service client validates it
  std::u16string startUrl;
  std::optional<std::u16string> debugPort;
  std::u16string pageOrigin{kPrivateOrigin};
  std::u16string defaultStartUrl{kStartUrl};
};

// Whether the launch serves the page from the renderer folder (the program) or only
// speaks the page protocol (the headless host, which needs no renderer folder).
enum class PageSource { kRendererFolder, kProtocolOnly };

// Resolves every value in the order the program applies them and creates the data
// directory. Throws the start-up failures of the steps below.
LaunchConfig ResolveLaunchConfig(LaunchPlatform& platform, PageSource source,
                                 const PageOrigin& origin = kWebView2PageOrigin);

// The folder of a module path: the last component and the separators before it go
// ("\\" and "/" both count); a drive root keeps its separator.
std::u16string ParentDirectory(std::u16string_view modulePath);

std::filesystem::path ExecutableDirectory(LaunchPlatform& platform);

// VARDEKO_DATA_DIR made absolute, else the local application-data folder + "Vardeko".
std::filesystem::path ResolveDataDirectory(LaunchPlatform& platform);

// "Local\\VardekoNative-" + the decimal 64-bit FNV-1a of the path's UTF-16LE bytes.
std::u16string SingleInstanceMutexName(std::u16string_view dataDirectory);

// VARDEKO_API_URL converted to UTF-8, else the default service base URL.
std::string ResolveServiceBaseUrl(LaunchPlatform& platform);

// VARDEKO_DEV_URL from its allow-list with a trailing "/", else the default start URL
// once renderer/index.html is known to be a regular file. Throws "invalid development
// URL", "missing renderer" or a file-system error for "status".
std::u16string ResolveStartUrl(LaunchPlatform& platform,
                               const std::filesystem::path& rendererDirectory,
                               std::u16string_view defaultStartUrl);

// VARDEKO_DEBUG_PORT when it is 1 to 5 decimal digits worth 1024 to 65535, as read.
std::optional<std::u16string> ResolveDebugPort(LaunchPlatform& platform);

}  // namespace vardeko
