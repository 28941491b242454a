#include "shell/launch_config.h"

#include <array>
#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "base/utf.h"

namespace vardeko {
namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

constexpr std::array<std::u16string_view, 4> kDevelopmentUrls = {
    u"http://localhost:5173", u"http://localhost:5173/", u"http://127.0.0.1:5173",
    u"http://127.0.0.1:5173/"};

}  // namespace

std::u16string ParentDirectory(std::u16string_view modulePath) {
  std::size_t end = modulePath.size();
  while (end > 0 && !IsSeparator(modulePath[end - 1])) --end;  // the last component
  const std::size_t separatorsEnd = end;
  while (end > 0 && IsSeparator(modulePath[end - 1])) --end;  // the separators before it
  // A drive root ("C:\\") or a POSIX root keeps its separator.
  if (separatorsEnd > 0 && (end == 0 || (end == 2 && modulePath[1] == u':'))) ++end;
  return std::u16string(modulePath.substr(0, end));
}

std::filesystem::path ExecutableDirectory(LaunchPlatform& platform) {
  return std::filesystem::path(ParentDirectory(platform.ModulePath()));
}

std::filesystem::path ResolveDataDirectory(LaunchPlatform& platform) {
  const std::u16string configured = platform.ReadEnvironmentVariable(u"VARDEKO_DATA_DIR");
  if (!configured.empty()) return platform.AbsolutePath(configured);
  return platform.LocalAppDataFolder() / u"Vardeko";
}

std::u16string SingleInstanceMutexName(std::u16string_view dataDirectory) {
  std::uint64_t hash = 14695981039346656037ULL;
  for (const char16_t unit : dataDirectory) {
    for (const unsigned byte : {unit & 0xFFu, unsigned{unit} >> 8}) {
      hash = (hash ^ byte) * 1099511628211ULL;
    }
  }
  std::u16string name = u"Local\\VardekoNative-";
  for (const char c : std::to_string(hash)) name += static_cast<char16_t>(c);
  return name;
}

LaunchConfig ResolveLaunchConfig(LaunchPlatform& platform, PageSource source,
                                 const PageOrigin& origin) {
  LaunchConfig config;
  config.pageOrigin = origin.origin;
  config.defaultStartUrl = origin.startUrl;
  config.rendererDirectory = ExecutableDirectory(platform) / u"renderer";
  config.dataDirectory = ResolveDataDirectory(platform);
  std::filesystem::create_directories(config.dataDirectory);
  config.serviceBaseUrl = ResolveServiceBaseUrl(platform);
  const bool development = !platform.ReadEnvironmentVariable(u"VARDEKO_DEV_URL").empty();
  config.startUrl = source == PageSource::kRendererFolder || development
                        ? ResolveStartUrl(platform, config.rendererDirectory, origin.startUrl)
                        : std::u16string(origin.startUrl);
  config.debugPort = ResolveDebugPort(platform);
  return config;
}

std::string ResolveServiceBaseUrl(LaunchPlatform& platform) {
  const std::u16string configured = platform.ReadEnvironmentVariable(u"VARDEKO_API_URL");
  return WideToUtf8(configured.empty() ? kDefaultServiceBaseUrl : configured);
}

std::u16string ResolveStartUrl(LaunchPlatform& platform,
                               const std::filesystem::path& rendererDirectory,
                               std::u16string_view defaultStartUrl) {
  std::u16string development = platform.ReadEnvironmentVariable(u"VARDEKO_DEV_URL");
  if (!development.empty()) {
    bool allowed = false;
    for (const std::u16string_view url : kDevelopmentUrls) allowed = allowed || development == url;
    if (!allowed) throw std::runtime_error("invalid development URL");
    if (development.back() != u'/') development += u'/';
    return development;
  }

  const std::filesystem::path index = rendererDirectory / u"index.html";
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(index, error);
  if (status.type() != std::filesystem::file_type::not_found && error) {
    throw std::filesystem::filesystem_error("status", index, error);
  }
  if (status.type() != std::filesystem::file_type::regular) {
    throw std::runtime_error("missing renderer");
  }
  return std::u16string(defaultStartUrl);
}

std::optional<std::u16string> ResolveDebugPort(LaunchPlatform& platform) {
  std::u16string port = platform.ReadEnvironmentVariable(u"VARDEKO_DEBUG_PORT");
  if (port.empty() || port.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (const char16_t c : port) {
    if (c < u'0' || c > u'9') return std::nullopt;
    value = value * 10 + (c - u'0');
  }
  if (value < 1024 || value > 65535) return std::nullopt;
  return port;
}

}  // namespace vardeko
