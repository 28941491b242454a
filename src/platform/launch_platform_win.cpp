#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <stdexcept>
#include <system_error>

#include "base/unique_handle_win.h"
#include "base/wide_win.h"
#include "platform/launch_platform.h"

namespace vardeko {
namespace {

constexpr DWORD kModulePathCapacity = 32768;

class Win32LaunchPlatform final : public LaunchPlatform {
 public:
  std::u16string ReadEnvironmentVariable(std::u16string_view name) override {
    const std::u16string terminated(name);
    const DWORD needed = GetEnvironmentVariableW(AsWide(terminated), nullptr, 0);
    if (needed == 0) return {};
    std::u16string value(needed, u'\0');
    const DWORD length = GetEnvironmentVariableW(AsWide(terminated), AsWide(value.data()), needed);
    // 0, or a length that no longer fits: the value changed in between.
    if (length == 0 || length >= needed) return {};
    value.resize(length);
    return value;
  }

  std::u16string ModulePath() override {
    std::u16string path(kModulePathCapacity, u'\0');
    const DWORD length = GetModuleFileNameW(nullptr, AsWide(path.data()), kModulePathCapacity);
    if (length == 0 || length >= kModulePathCapacity) throw std::runtime_error("executable path");
    path.resize(length);
    return path;
  }

  std::filesystem::path AbsolutePath(std::u16string_view text) override {
    const std::u16string terminated(text);
    const auto fail = [&] {
      throw std::filesystem::filesystem_error(
          "absolute", std::filesystem::path(terminated),
          std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    };
    const DWORD needed = GetFullPathNameW(AsWide(terminated), 0, nullptr, nullptr);
    if (needed == 0) fail();
    std::u16string full(needed, u'\0');
    const DWORD length = GetFullPathNameW(AsWide(terminated), needed, AsWide(full.data()), nullptr);
    if (length == 0 || length >= needed) fail();
    full.resize(length);
    return std::filesystem::path(full);
  }

  std::filesystem::path LocalAppDataFolder() override {
    UniqueCoTaskMemString folder;
    if (FAILED(
            SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, folder.put())) ||
        !folder) {
      throw std::runtime_error("application data");
    }
    return std::filesystem::path(AsUtf16(folder.get()));
  }
};

}  // namespace

LaunchPlatform& SystemLaunchPlatform() {
  static Win32LaunchPlatform platform;
  return platform;
}

}  // namespace vardeko
