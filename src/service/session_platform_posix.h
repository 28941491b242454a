#pragma once

#include <filesystem>

#include "service/session_platform.h"

namespace vardeko {

// Linux: SHA-256 and XChaCha20-Poly1305 from libsodium, under a random key of the user's
// kept in `keyFile` (mode 0600, created atomically on first use), with the entropy as
// associated data; POSIX files. The key and session files are opened without following
// a link at their names and without blocking, and used only when they are regular files
// of the user's own with mode 0600; a key file that is not (or is damaged) is replaced
// as a missing one is. When the key cannot be created or read, protection fails, so the
// session store stays memory-only.
class SodiumSessionPlatform final : public SessionPlatform {
 public:
  explicit SodiumSessionPlatform(std::filesystem::path keyFile);

  std::optional<Sha256Digest> Sha256(std::string_view data) override;
  std::optional<SecretString> Protect(std::string_view plain, std::string_view description,
                                      std::span<const std::uint8_t> entropy) override;
  std::optional<SecretString> Unprotect(std::string_view blob,
                                        std::span<const std::uint8_t> entropy) override;
  bool CreateDirectories(const std::filesystem::path& directory) override;
  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::size_t maxBytes) override;
  bool ReplaceFile(const std::filesystem::path& target, const std::filesystem::path& temporary,
                   std::string_view bytes) override;
  bool DeleteFile(const std::filesystem::path& path) override;
  bool EraseFile(const std::filesystem::path& path) override;
  std::vector<std::filesystem::path> StaleFiles(const std::filesystem::path& directory,
                                                std::string_view prefix,
                                                std::chrono::seconds age) override;
  std::uint32_t ProcessId() override;

 private:
  std::optional<SecretString> Key();

  std::filesystem::path keyFile_;
};

// The key file of the current user: $XDG_DATA_HOME/Vardeko, else ~/.local/share/Vardeko,
// then "session-protection.key".
std::filesystem::path DefaultSessionKeyFile();

}  // namespace vardeko
