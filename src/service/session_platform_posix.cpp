#include "service/session_platform_posix.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

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

std::optional<std::string> ReadAll(const std::filesystem::path& path, std::size_t maxBytes) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  if (static_cast<std::uint64_t>(status.st_size) > maxBytes) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;
    done += static_cast<std::size_t>(got);
  }
  return bytes;
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
  if (std::optional<std::string> existing = ReadAll(keyFile_, kKeyBytes)) {
    SecretString key(std::move(*existing));
    if (key.size() == kKeyBytes) return key;
    return std::nullopt;
  }
  // First use: write a new key to a private temporary file, then link it into place so
  // that concurrent first uses agree on one key.
  std::error_code ignored;
  std::filesystem::create_directories(keyFile_.parent_path(), ignored);
  SecretString key(std::string(kKeyBytes, '\0'));
  randombytes_buf(key.str().data(), kKeyBytes);
  std::filesystem::path temporary = keyFile_;
  temporary += ".tmp-" + std::to_string(::getpid());
  {
    const UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return std::nullopt;
    if (!WriteAll(fd.get(), key.view()) || ::fsync(fd.get()) != 0) {
      ::unlink(temporary.c_str());
      return std::nullopt;
    }
  }
  const bool linked = ::link(temporary.c_str(), keyFile_.c_str()) == 0;
  ::unlink(temporary.c_str());
  if (linked) return key;
  // Someone else created it first: use theirs.
  std::optional<std::string> theirs = ReadAll(keyFile_, kKeyBytes);
  if (!theirs || theirs->size() != kKeyBytes) return std::nullopt;
  return SecretString(std::move(*theirs));
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
  return ReadAll(path, maxBytes);
}

bool SodiumSessionPlatform::ReplaceFile(const std::filesystem::path& target,
                                        const std::filesystem::path& temporary,
                                        std::string_view bytes) {
  {
    const UniqueFd fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) return false;
    if (!WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
      ::unlink(temporary.c_str());
      return false;
    }
  }
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void SodiumSessionPlatform::DeleteFile(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

std::uint32_t SodiumSessionPlatform::ProcessId() { return static_cast<std::uint32_t>(::getpid()); }

SessionPlatform& SystemSessionPlatform() {
  static SodiumSessionPlatform platform(DefaultSessionKeyFile());
  return platform;
}

}  // namespace vardeko
