#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "service/session_platform.h"

namespace vardeko::testing {

// The real platform with failures switched in, and a record of the files written.
class FaultySessionPlatform final : public SessionPlatform {
 public:
  explicit FaultySessionPlatform(SessionPlatform& real) : real_(real) {}

  std::optional<Sha256Digest> Sha256(std::string_view data) override {
    if (failHash) return std::nullopt;
    return real_.Sha256(data);
  }
  std::optional<SecretString> Protect(std::string_view plain, std::string_view description,
                                      std::span<const std::uint8_t> entropy) override {
    if (failProtect) return std::nullopt;
    return real_.Protect(plain, description, entropy);
  }
  std::optional<SecretString> Unprotect(std::string_view blob,
                                        std::span<const std::uint8_t> entropy) override {
    return real_.Unprotect(blob, entropy);
  }
  bool CreateDirectories(const std::filesystem::path& directory) override {
    return real_.CreateDirectories(directory);
  }
  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::size_t maxBytes) override {
    return real_.ReadFile(path, maxBytes);
  }
  bool ReplaceFile(const std::filesystem::path& target, const std::filesystem::path& temporary,
                   std::string_view bytes) override {
    temporaries.push_back(temporary.filename().string());
    if (failWrite) return false;
    return real_.ReplaceFile(target, temporary, bytes);
  }
  bool DeleteFile(const std::filesystem::path& path) override {
    ++deletes;
    if (failDelete) return false;
    return real_.DeleteFile(path);
  }
  bool EraseFile(const std::filesystem::path& path) override {
    ++erases;
    return real_.EraseFile(path);
  }
  std::vector<std::filesystem::path> StaleFiles(const std::filesystem::path& directory,
                                                std::string_view prefix,
                                                std::chrono::seconds age) override {
    return real_.StaleFiles(directory, prefix, age);
  }
  std::uint32_t ProcessId() override { return real_.ProcessId(); }

  bool failHash = false;
  bool failProtect = false;
  bool failWrite = false;
  bool failDelete = false;  // as a file held open elsewhere on Windows
  std::vector<std::string> temporaries;
  int deletes = 0;
  int erases = 0;

 private:
  SessionPlatform& real_;
};

}  // namespace vardeko::testing
