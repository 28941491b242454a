#include "service/session_platform_posix.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "base/scope_exit.h"
#include "base/unique_resource.h"

namespace vardeko {
namespace {

using UniqueFd = UniqueResource<int, &::close, MinusOneIsEmpty>;

constexpr std::size_t kNonceBytes = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t kTagBytes = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::size_t kKeyBytes = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;

bool SodiumReady() {
  static const bool ready = sodium_init() >= 0;
  return ready;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A regular file of the user's own with mode 0600, or nothing. O_NOFOLLOW refuses a link
// at the name; O_NONBLOCK keeps a FIFO put in the file's place from blocking the open,
// and the type check then refuses it.
UniqueFd OpenPrivateFile(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return fd;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
      (status.st_mode & 07777) != 0600) {
    return UniqueFd();
  }
  return fd;
}

// The whole private file, at most `maxBytes`, read into a buffer that is wiped when it
// goes (the key is read this way).
std::optional<SecretString> ReadPrivateFile(const std::filesystem::path& path,
                                            std::size_t maxBytes) {
  const UniqueFd fd = OpenPrivateFile(path);
  if (!fd) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || static_cast<std::uint64_t>(status.st_size) > maxBytes) {
    return std::nullopt;
  }
  SecretString bytes(std::string(static_cast<std::size_t>(status.st_size), '\0'));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd.get(), bytes.str().data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

// Creates `path` exclusively with mode 0600 (whatever the umask) and writes and flushes
// the bytes; on failure nothing is left behind.
bool WriteNewPrivateFile(const std::filesystem::path& path, std::string_view bytes) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd) return false;
  if (::fchmod(fd.get(), 0600) != 0 || !WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

// A new or replaced name is durable only once its folder is synced.
void SyncFolderOf(const std::filesystem::path& path) {
  const UniqueFd folder(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
}

std::optional<SecretString> UsableKey(const std::filesystem::path& keyFile) {
  std::optional<SecretString> key = ReadPrivateFile(keyFile, kKeyBytes);
  if (!key || key->size() != kKeyBytes) return std::nullopt;
  return key;
}

}  // namespace

std::filesystem::path DefaultSessionKeyFile() {
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::filesystem::path folder;
  if (dataHome != nullptr && *dataHome == '/') {
    folder = dataHome;
  } else if (home != nullptr && *home == '/') {
    folder = std::filesystem::path(home) / ".local" / "share";
  }
  return folder.empty() ? std::filesystem::path() : folder / "Vardeko" / "session-protection.key";
}

SodiumSessionPlatform::SodiumSessionPlatform(std::filesystem::path keyFile)
    : keyFile_(std::move(keyFile)) {}

std::optional<SecretString> SodiumSessionPlatform::Key() {
  if (!SodiumReady() || keyFile_.empty()) return std::nullopt;
  if (std::optional<SecretString> existing = UsableKey(keyFile_)) return existing;
  // Missing or unusable: a new key goes to a private temporary file first, then takes
  // the name. A link cannot replace a name, so concurrent first uses agree on one key.
  std::error_code ignored;
  std::filesystem::create_directories(keyFile_.parent_path(), ignored);
  SecretString key(std::string(kKeyBytes, '\0'));
  randombytes_buf(key.str().data(), kKeyBytes);
  std::filesystem::path temporary = keyFile_;
  temporary += ".tmp-" + std::to_string(::getpid());
  if (!WriteNewPrivateFile(temporary, key.view())) return std::nullopt;
  const ScopeExit removeTemporary([&temporary] { ::unlink(temporary.c_str()); });
  if (::link(temporary.c_str(), keyFile_.c_str()) == 0) {
    SyncFolderOf(keyFile_);
    return key;
  }
  // Someone else created it first: use theirs. What stands there unusable (a link, a
  // FIFO, a file of another owner or mode, a damaged key) is replaced by ours.
  if (std::optional<SecretString> theirs = UsableKey(keyFile_)) return theirs;
  if (::rename(temporary.c_str(), keyFile_.c_str()) != 0) return std::nullopt;
  SyncFolderOf(keyFile_);
  return key;
}

std::optional<Sha256Digest> SodiumSessionPlatform::Sha256(std::string_view data) {
  if (!SodiumReady()) return std::nullopt;
  Sha256Digest digest{};
  crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(data.data()),
                     data.size());
  return digest;
}

std::optional<SecretString> SodiumSessionPlatform::Protect(std::string_view plain, std::string_view,
                                                           std::span<const std::uint8_t> entropy) {
  const std::optional<SecretString> key = Key();
  if (!key) return std::nullopt;
  SecretString blob(std::string(kNonceBytes + plain.size() + kTagBytes, '\0'));
  auto* out = reinterpret_cast<unsigned char*>(blob.str().data());
  randombytes_buf(out, kNonceBytes);
  unsigned long long length = 0;
  crypto_aead_xchacha20poly1305_ietf_encrypt(
      out + kNonceBytes, &length, reinterpret_cast<const unsigned char*>(plain.data()),
      plain.size(), entropy.data(), entropy.size(), nullptr, out,
      reinterpret_cast<const unsigned char*>(key->str().data()));
  return blob;
}

std::optional<SecretString> SodiumSessionPlatform::Unprotect(
    std::string_view blob, std::span<const std::uint8_t> entropy) {
  if (blob.size() < kNonceBytes + kTagBytes) return std::nullopt;
  const std::optional<SecretString> key = Key();
  if (!key) return std::nullopt;
  const auto* in = reinterpret_cast<const unsigned char*>(blob.data());
  SecretString plain(std::string(blob.size() - kNonceBytes - kTagBytes, '\0'));
  unsigned long long length = 0;
  if (crypto_aead_xchacha20poly1305_ietf_decrypt(
          reinterpret_cast<unsigned char*>(plain.str().data()), &length, nullptr, in + kNonceBytes,
          blob.size() - kNonceBytes, entropy.data(), entropy.size(), in,
          reinterpret_cast<const unsigned char*>(key->str().data())) != 0) {
    return std::nullopt;
  }
  return plain;
}

bool SodiumSessionPlatform::CreateDirectories(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  return !error && std::filesystem::is_directory(directory, error);
}

std::optional<std::string> SodiumSessionPlatform::ReadFile(const std::filesystem::path& path,
                                                           std::size_t maxBytes) {
  const std::optional<SecretString> bytes = ReadPrivateFile(path, maxBytes);
  if (!bytes) return std::nullopt;
  return std::string(bytes->view());
}

bool SodiumSessionPlatform::ReplaceFile(const std::filesystem::path& target,
                                        const std::filesystem::path& temporary,
                                        std::string_view bytes) {
  if (!WriteNewPrivateFile(temporary, bytes)) return false;
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(target);
  return true;
}

bool SodiumSessionPlatform::DeleteFile(const std::filesystem::path& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool SodiumSessionPlatform::EraseFile(const std::filesystem::path& path) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

std::vector<std::filesystem::path> SodiumSessionPlatform::StaleFiles(
    const std::filesystem::path& directory, std::string_view prefix, std::chrono::seconds age) {
  return StaleFilesIn(directory, prefix, age);
}

std::uint32_t SodiumSessionPlatform::ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

SessionPlatform& SystemSessionPlatform() {
  static SodiumSessionPlatform platform(DefaultSessionKeyFile());
  return platform;
}

}  // namespace vardeko
