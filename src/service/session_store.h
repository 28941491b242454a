#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "base/secure_wipe.h"
#include "service/session_platform.h"

namespace vardeko {

inline constexpr std::size_t kMaxTokenBytes = 16384;
inline constexpr std::size_t kMaxSessionFileBytes = 65536;
inline constexpr std::string_view kSessionDescription = "Vardeko native session";

// A copy of the token with the session version it belongs to.
struct SessionSnapshot {
  SecretString token;
  std::uint64_t version = 0;
};

// 1 to 16384 bytes, each from 0x21 to 0x7E.
bool IsValidToken(std::string_view token);

// The login token of one service base URL, kept in memory and, while the user's data
// protection works, in the protected session file. The auth generation orders logins,
// registrations and logouts by their start; the session version with the token bytes
// names the exact session a snapshot saw. Every operation but IsPersistent holds the
// lock for its whole run and never waits on the network.
class SessionStore {
 public:
  // Raises INTERNAL_ERROR "无法初始化会话存储。" when the digest cannot be computed.
  SessionStore(SessionPlatform& platform, std::string_view baseUrl,
               const std::filesystem::path& dataDirectory);
  SessionStore(const SessionStore&) = delete;
  SessionStore& operator=(const SessionStore&) = delete;

  SessionSnapshot TakeSnapshot();
  std::uint64_t AdvanceAuthGeneration();
  SessionSnapshot BeginLogout();
  // Stores the token of the login that started with `generation`, or wipes it and
  // raises AUTH_CHANGED when another has started since.
  void StoreToken(SecretString token, std::uint64_t generation);
  void ClearIfCurrent(const SessionSnapshot& snapshot);
  bool IsPersistent() const { return persistent_.load(); }

  const std::filesystem::path& SessionFile() const { return sessionFile_; }

 private:
  bool WriteSessionFile(std::string_view blob);
  // Temporaries of writes that a crash or power loss cut short.
  void RemoveLeftoverTemporaries();
  // Deletes the session file, or empties it when it cannot be deleted.
  void RemoveSessionFile();

  SessionPlatform& platform_;
  std::filesystem::path sessionFile_;
  Sha256Digest entropy_{};
  std::mutex mutex_;
  SecretString token_;
  std::uint64_t sessionVersion_ = 0;
  std::uint64_t authGeneration_ = 0;
  std::atomic<bool> persistent_{false};
};

}  // namespace vardeko
