#pragma once

#include <map>
#include <mutex>
#include <string>

#include "service/session_platform.h"

namespace vardeko::testing {

// A session platform that keeps its files in memory and "protects" by prefixing the
// entropy, for runs that must not touch the disk (fuzzing). Not a protection at all.
class MemorySessionPlatform final : public SessionPlatform {
 public:
  std::optional<Sha256Digest> Sha256(std::string_view data) override {
    Sha256Digest digest{};
    std::uint64_t hash = 1469598103934665603ULL;
    for (std::size_t i = 0; i < digest.size(); ++i) {
      for (const char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
      digest[i] = static_cast<std::uint8_t>(hash >> 56);
    }
    return digest;
  }
  std::optional<SecretString> Protect(std::string_view plain, std::string_view,
                                      std::span<const std::uint8_t> entropy) override {
    SecretString blob(std::string(reinterpret_cast<const char*>(entropy.data()), entropy.size()));
    blob.Append(plain);
    return blob;
  }
  std::optional<SecretString> Unprotect(std::string_view blob,
                                        std::span<const std::uint8_t> entropy) override {
    const std::string_view tag(reinterpret_cast<const char*>(entropy.data()), entropy.size());
    if (blob.substr(0, tag.size()) != tag) return std::nullopt;
    return SecretString(blob.substr(tag.size()));
  }
  bool CreateDirectories(const std::filesystem::path&) override { return true; }
  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::size_t maxBytes) override {
    std::lock_guard lock(mutex_);
    const auto file = files_.find(path.string());
    if (file == files_.end() || file->second.size() > maxBytes) return std::nullopt;
    return file->second;
  }
  bool ReplaceFile(const std::filesystem::path& target, const std::filesystem::path&,
                   std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    files_[target.string()] = std::string(bytes);
    return true;
  }
  bool DeleteFile(const std::filesystem::path& path) override {
    std::lock_guard lock(mutex_);
    files_.erase(path.string());
    return true;
  }
  bool EraseFile(const std::filesystem::path& path) override {
    std::lock_guard lock(mutex_);
    const auto file = files_.find(path.string());
    if (file == files_.end()) return false;
    file->second.clear();
    return true;
  }
  // Files here have no times: all count as stale.
  std::vector<std::filesystem::path> StaleFiles(const std::filesystem::path& directory,
                                                std::string_view prefix,
                                                std::chrono::seconds) override {
    std::lock_guard lock(mutex_);
    std::vector<std::filesystem::path> found;
    for (const auto& [name, bytes] : files_) {
      const std::filesystem::path path(name);
      if (path.parent_path() == directory && path.filename().string().starts_with(prefix)) {
        found.push_back(path);
      }
    }
    return found;
  }
  std::uint32_t ProcessId() override { return 1; }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> files_;
};

}  // namespace vardeko::testing
