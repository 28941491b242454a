#include "service/session_store.h"

#include <atomic>
#include <chrono>
#include <random>

#include "base/api_failure.h"

namespace vardeko {
namespace {

constexpr std::string_view kProbeText = "Vardeko native session availability";

std::atomic<std::uint32_t> g_writeCounter{0};

constexpr std::string_view kTemporaryMark = ".tmp-";
constexpr std::chrono::seconds kLeftoverAge{60};

// 64 random bits: a process id is reused and the counter starts again with each process,
// so without them a temporary left by a crash could hold the next write's name.
std::string RandomPart() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::uint64_t bits = 0;
  try {
    std::random_device device;
    bits = (static_cast<std::uint64_t>(device()) << 32) ^ device();
  } catch (...) {
    // No system source: the clock still differs from any earlier process's.
    bits = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  }
  std::string text(16, '0');
  for (char& c : text) {
    c = kHex[bits & 0x0F];
    bits >>= 4;
  }
  return text;
}

std::string FileName(const Sha256Digest& digest) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name = "session-native-";
  for (std::size_t i = 0; i < 8; ++i) {
    name += kHex[digest[i] >> 4];
    name += kHex[digest[i] & 0x0F];
  }
  return name + ".bin";
}

}  // namespace

bool IsValidToken(std::string_view token) {
  if (token.empty() || token.size() > kMaxTokenBytes) return false;
  for (const char c : token) {
    if (c < 0x21 || c > 0x7E) return false;
  }
  return true;
}

SessionStore::SessionStore(SessionPlatform& platform, std::string_view baseUrl,
                           const std::filesystem::path& dataDirectory)
    : platform_(platform) {
  const std::optional<Sha256Digest> digest = platform_.Sha256(baseUrl);
  if (!digest) Throw(failures::kSessionStoreInit);
  entropy_ = *digest;
  sessionFile_ = dataDirectory / FileName(entropy_);

  if (!platform_.CreateDirectories(dataDirectory)) return;
  // The probe's blob is wiped with its SecretString and never written.
  if (!platform_.Protect(kProbeText, kSessionDescription, entropy_)) return;
  persistent_ = true;
  RemoveLeftoverTemporaries();

  const std::optional<std::string> blob = platform_.ReadFile(sessionFile_, kMaxSessionFileBytes);
  if (!blob || blob->empty()) return;  // missing, unreadable, empty or too large: left alone
  std::optional<SecretString> token = platform_.Unprotect(*blob, entropy_);
  if (token && IsValidToken(token->view())) {
    token_ = std::move(*token);
    sessionVersion_ = 1;
    return;
  }
  RemoveSessionFile();
}

SessionSnapshot SessionStore::TakeSnapshot() {
  std::lock_guard lock(mutex_);
  return SessionSnapshot{token_.Copy(), sessionVersion_};
}

std::uint64_t SessionStore::AdvanceAuthGeneration() {
  std::lock_guard lock(mutex_);
  return ++authGeneration_;
}

SessionSnapshot SessionStore::BeginLogout() {
  std::lock_guard lock(mutex_);
  ++authGeneration_;
  return SessionSnapshot{token_.Copy(), sessionVersion_};
}

void SessionStore::StoreToken(SecretString token, std::uint64_t generation) {
  std::lock_guard lock(mutex_);
  if (generation != authGeneration_) {
    token.Wipe();
    Throw(failures::kAuthChanged);
  }
  token_ = std::move(token);
  ++sessionVersion_;
  if (!persistent_.load()) return;
  const std::optional<SecretString> blob =
      platform_.Protect(token_.view(), kSessionDescription, entropy_);
  if (!blob || !WriteSessionFile(blob->view())) {
    // From here on the token lives in memory only, for the rest of the process.
    persistent_.exchange(false);
    RemoveSessionFile();
  }
}

void SessionStore::ClearIfCurrent(const SessionSnapshot& snapshot) {
  std::lock_guard lock(mutex_);
  if (sessionVersion_ != snapshot.version || token_.view() != snapshot.token.view()) return;
  token_.Wipe();
  ++sessionVersion_;
  RemoveSessionFile();
}

void SessionStore::RemoveSessionFile() {
  // A file that cannot be deleted (on Windows, one held open elsewhere without delete
  // sharing) is emptied instead: an empty session file is never loaded, so a logout
  // stays a logout across a restart.
  if (!platform_.DeleteFile(sessionFile_)) platform_.EraseFile(sessionFile_);
}

void SessionStore::RemoveLeftoverTemporaries() {
  // Only this store's names (the session file's own name with the mark), and only those
  // untouched for a while: a write takes milliseconds, and another process on the same
  // folder (the headless host beside the program) may be in the middle of one.
  const std::string prefix = sessionFile_.filename().string() + std::string(kTemporaryMark);
  for (const std::filesystem::path& leftover :
       platform_.StaleFiles(sessionFile_.parent_path(), prefix, kLeftoverAge)) {
    platform_.DeleteFile(leftover);
  }
}

bool SessionStore::WriteSessionFile(std::string_view blob) {
  std::filesystem::path temporary = sessionFile_;
  temporary += std::string(kTemporaryMark) + std::to_string(platform_.ProcessId()) + "-" +
               std::to_string(g_writeCounter.fetch_add(1) + 1) + "-" + RandomPart();
  return platform_.ReplaceFile(sessionFile_, temporary, blob);
}

}  // namespace vardeko
