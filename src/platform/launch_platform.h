#pragma once

#include <filesystem>
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

}  // namespace vardeko
