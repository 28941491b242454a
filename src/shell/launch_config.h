#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vardeko {

// Where the process meets its environment at launch (Win32 on Windows, POSIX and XDG
// on Linux).
class LaunchPlatform {
 public:
  virtual ~LaunchPlatform() = default;

  // The variable's value; empty when unset or empty. Not trimmed.
  virtual std::u16string ReadEnvironmentVariable(std::u16string_view name) = 0;

  // Full path of the running executable. Throws std::runtime_error("executable path").
  virtual std::u16string ModulePath() = 0;

  // The absolute form of a path: relative to the current directory, dot segments
  // folded. Throws std::filesystem::filesystem_error("absolute") on failure.
  virtual std::filesystem::path AbsolutePath(std::u16string_view path) = 0;

  // The user's local application-data folder, created when missing. Throws
  // std::runtime_error("application data").
  virtual std::filesystem::path LocalAppDataFolder() = 0;
};

// The platform's implementation: Win32 and the Shell on Windows, POSIX and XDG on Linux
// (where the local application-data folder is $XDG_DATA_HOME, else ~/.local/share).
LaunchPlatform& SystemLaunchPlatform();

// Set at build time with -DVARDEKO_DEFAULT_API_URL=...
#ifndef VARDEKO_DEFAULT_API_URL
#define VARDEKO_DEFAULT_API_URL "https://ledger.vardeko.com/api"
#endif
inline constexpr std::u16string_view kDefaultServiceBaseUrl = u"" VARDEKO_DEFAULT_API_URL;

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
