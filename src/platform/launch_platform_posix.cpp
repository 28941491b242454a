#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "base/utf.h"
#include "platform/launch_platform.h"

namespace vardeko {
namespace {

std::filesystem::path FromUtf16(std::u16string_view text) {
  return std::filesystem::path(WideToUtf8(text));
}

class PosixLaunchPlatform final : public LaunchPlatform {
 public:
  std::u16string ReadEnvironmentVariable(std::u16string_view name) override {
    const char* value = std::getenv(WideToUtf8(name).c_str());
    return value == nullptr ? std::u16string() : Utf8ToWide(value);
  }

  std::u16string ModulePath() override {
    std::string buffer(4096, '\0');
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) {
      throw std::runtime_error("executable path");
    }
    buffer.resize(static_cast<std::size_t>(length));
    return Utf8ToWide(buffer);
  }

  std::filesystem::path AbsolutePath(std::u16string_view text) override {
    const std::filesystem::path path = FromUtf16(text);
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) throw std::filesystem::filesystem_error("absolute", path, error);
    absolute = absolute.lexically_normal();
    // As GetFullPathNameW: "/data/." is "/data", without a trailing separator.
    if (absolute.has_relative_path() && !absolute.has_filename()) absolute = absolute.parent_path();
    return absolute;
  }

  std::filesystem::path LocalAppDataFolder() override {
    std::filesystem::path folder;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome != nullptr && *dataHome == '/') {
      folder = dataHome;
    } else if (home != nullptr && *home == '/') {
      folder = std::filesystem::path(home) / ".local" / "share";
    } else {
      throw std::runtime_error("application data");
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) throw std::runtime_error("application data");
    return folder;
  }
};

}  // namespace

LaunchPlatform& SystemLaunchPlatform() {
  static PosixLaunchPlatform platform;
  return platform;
}

}  // namespace vardeko
