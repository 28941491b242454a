#pragma once

#include <map>
#include <stdexcept>
#include <string>

#include "shell/launch_config.h"

namespace vardeko::testing {

// Environment variables and folders as a test sets them. Paths are resolved as the
// Linux platform does, against `currentDirectory`.
class FakeLaunchPlatform final : public LaunchPlatform {
 public:
  std::u16string ReadEnvironmentVariable(std::u16string_view name) override {
    const auto found = environment.find(std::u16string(name));
    return found == environment.end() ? std::u16string() : found->second;
  }
  std::u16string ModulePath() override {
    if (modulePath.empty()) throw std::runtime_error("executable path");
    return modulePath;
  }
  std::filesystem::path AbsolutePath(std::u16string_view path) override {
    std::filesystem::path absolute =
        (currentDirectory / std::filesystem::path(path)).lexically_normal();
    if (absolute.has_relative_path() && !absolute.has_filename()) absolute = absolute.parent_path();
    return absolute;
  }
  std::filesystem::path LocalAppDataFolder() override {
    if (localAppData.empty()) throw std::runtime_error("application data");
    return localAppData;
  }

  std::map<std::u16string, std::u16string> environment;
  std::u16string modulePath;
  std::filesystem::path currentDirectory = "/work";
  std::filesystem::path localAppData;
};

}  // namespace vardeko::testing
