#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/secure_wipe.h"

namespace vardeko {

using Sha256Digest = std::array<std::uint8_t, 32>;

// What the session store needs of the platform: hashing, protection of the token for
// the current user, and a few file operations (CNG, DPAPI and Win32 files on Windows;
// libsodium and POSIX files on Linux). Safe to call from several threads.
class SessionPlatform {
 public:
  virtual ~SessionPlatform() = default;

  virtual std::optional<Sha256Digest> Sha256(std::string_view data) = 0;

  // Protection bound to the current user and to `entropy`: a blob made with other
  // entropy, by another user, or changed in any byte is refused. nullopt on failure.
  virtual std::optional<SecretString> Protect(std::string_view plain, std::string_view description,
                                              std::span<const std::uint8_t> entropy) = 0;
  virtual std::optional<SecretString> Unprotect(std::string_view blob,
                                                std::span<const std::uint8_t> entropy) = 0;

  virtual bool CreateDirectories(const std::filesystem::path& directory) = 0;

  // The whole file; nullopt when it cannot be opened or sized, is larger than
  // `maxBytes`, reads short, or is refused (on Linux: anything but a regular file of the
  // user's own with mode 0600, never reached through a link at its name). An empty file
  // gives "".
  virtual std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                              std::size_t maxBytes) = 0;

  // Creates `temporary` exclusively, writes and flushes the bytes, closes it and moves
  // it onto `target`, replacing it. On Linux the folder is synced after the rename, so
  // the new name is durable; Windows has no such call for a rename within one volume
  // (MOVEFILE_WRITE_THROUGH waits only for a move done as copy and delete). On Windows a
  // move refused because another program holds either file (a scanner, an indexer) is
  // retried for about a second. On failure the temporary file is removed.
  virtual bool ReplaceFile(const std::filesystem::path& target,
                           const std::filesystem::path& temporary, std::string_view bytes) = 0;

  // Whether the file is gone afterwards; a missing file counts as gone. On Windows a
  // file held by another program is retried for about half a second.
  virtual bool DeleteFile(const std::filesystem::path& path) = 0;

  // Truncates the file in place to nothing and flushes it: for a file that cannot be
  // deleted but must not be read again. False when it cannot be opened for writing
  // (on Windows after the same half-second retry as DeleteFile).
  virtual bool EraseFile(const std::filesystem::path& path) = 0;

  // The entries of `directory` whose names begin with the ASCII `prefix` and that were
  // last written at least `age` ago; empty when it cannot be listed.
  virtual std::vector<std::filesystem::path> StaleFiles(const std::filesystem::path& directory,
                                                        std::string_view prefix,
                                                        std::chrono::seconds age) = 0;

  virtual std::uint32_t ProcessId() = 0;
};

// StaleFiles through std::filesystem, for the implementations on real files.
std::vector<std::filesystem::path> StaleFilesIn(const std::filesystem::path& directory,
                                                std::string_view prefix, std::chrono::seconds age);

// The platform's implementation.
SessionPlatform& SystemSessionPlatform();

}  // namespace vardeko
