#include <windows.h>

#include <bcrypt.h>
#include <dpapi.h>

#include <algorithm>
#include <chrono>

#include "base/unique_handle_win.h"
#include "base/utf.h"
#include "base/wide_win.h"
#include "service/session_platform.h"

namespace vardeko {
namespace {

NTSTATUS CloseAlgorithm(BCRYPT_ALG_HANDLE algorithm) {
  return BCryptCloseAlgorithmProvider(algorithm, 0);
}

using UniqueAlgorithm = UniqueResource<BCRYPT_ALG_HANDLE, &CloseAlgorithm>;
using UniqueHash = UniqueResource<BCRYPT_HASH_HANDLE, &BCryptDestroyHash>;

// DPAPI output: wiped, then released with LocalFree.
class DpapiBlob {
 public:
  DpapiBlob() = default;
  ~DpapiBlob() {
    if (blob.pbData != nullptr) {
      SecureWipe(blob.pbData, blob.cbData);
      LocalFree(blob.pbData);
    }
  }
  DpapiBlob(const DpapiBlob&) = delete;
  DpapiBlob& operator=(const DpapiBlob&) = delete;

  SecretString Take() const {
    return SecretString(std::string_view(reinterpret_cast<const char*>(blob.pbData), blob.cbData));
  }

  DATA_BLOB blob{};
};

DATA_BLOB In(std::string_view bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

DATA_BLOB In(std::span<const std::uint8_t> bytes) {
  return DATA_BLOB{static_cast<DWORD>(bytes.size()), const_cast<BYTE*>(bytes.data())};
}

// Antivirus scanners and indexers open new and changed files for a moment, often without
// delete or write sharing; a rename, deletion or truncation then fails with one of these
// and succeeds once they let go. Retried for `budget` in short sleeps, keeping the last
// error for the caller.
bool HeldElsewhere(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;
}

template <typename Step>
bool RetryWhileHeld(std::chrono::milliseconds budget, Step step) {
  const auto deadline = std::chrono::steady_clock::now() + budget;
  DWORD pause = 10;
  for (;;) {
    if (step()) return true;
    const DWORD error = GetLastError();
    if (!HeldElsewhere(error) ||
        std::chrono::steady_clock::now() + std::chrono::milliseconds(pause) > deadline) {
      SetLastError(error);
      return false;
    }
    Sleep(pause);
    pause = std::min<DWORD>(pause * 2, 100);
  }
}

constexpr std::chrono::milliseconds kReplaceRetry{1000};
// A logout may need both: together about a second.
constexpr std::chrono::milliseconds kDeleteRetry{500};
constexpr std::chrono::milliseconds kEraseRetry{500};

class Win32SessionPlatform final : public SessionPlatform {
 public:
  std::optional<Sha256Digest> Sha256(std::string_view data) override {
    UniqueAlgorithm algorithm;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
      return std::nullopt;
    }
    UniqueHash hash;
    if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
      return std::nullopt;
    }
    if (!BCRYPT_SUCCESS(BCryptHashData(hash.get(),
                                       reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                       static_cast<ULONG>(data.size()), 0))) {
      return std::nullopt;
    }
    Sha256Digest digest{};
    if (!BCRYPT_SUCCESS(
            BCryptFinishHash(hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0))) {
      return std::nullopt;
    }
    return digest;
  }

  std::optional<SecretString> Protect(std::string_view plain, std::string_view description,
                                      std::span<const std::uint8_t> entropy) override {
    const std::wstring wideDescription = Terminated(Utf8ToWide(description));
    DATA_BLOB input = In(plain);
    DATA_BLOB salt = In(entropy);
    DpapiBlob output;
    if (!CryptProtectData(&input, wideDescription.c_str(), &salt, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &output.blob)) {
      return std::nullopt;
    }
    return output.Take();
  }

  std::optional<SecretString> Unprotect(std::string_view blob,
                                        std::span<const std::uint8_t> entropy) override {
    DATA_BLOB input = In(blob);
    DATA_BLOB salt = In(entropy);
    DpapiBlob output;
    if (!CryptUnprotectData(&input, nullptr, &salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            &output.blob)) {
      return std::nullopt;
    }
    return output.Take();
  }

  bool CreateDirectories(const std::filesystem::path& directory) override {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    return !error && std::filesystem::is_directory(directory, error);
  }

  std::optional<std::string> ReadFile(const std::filesystem::path& path,
                                      std::size_t maxBytes) override {
    const UniqueFileHandle file =
        UniqueFileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
      return std::nullopt;
    }
    std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
      return std::nullopt;
    }
    return bytes;
  }

  bool ReplaceFile(const std::filesystem::path& target, const std::filesystem::path& temporary,
                   std::string_view bytes) override {
    {
      UniqueFileHandle file =
          UniqueFileHandle(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return false;
      DWORD written = 0;
      if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
          written != bytes.size() || !FlushFileBuffers(file.get())) {
        file.reset();
        DeleteFile(temporary);
        return false;
      }
    }
    // Within one volume this is a rename, which MOVEFILE_WRITE_THROUGH does not flush (it
    // only waits for a move done as copy and delete); the data itself was flushed above.
    if (!RetryWhileHeld(kReplaceRetry, [&] {
          return MoveFileExW(temporary.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        })) {
      DeleteFile(temporary);
      return false;
    }
    return true;
  }

  bool DeleteFile(const std::filesystem::path& path) override {
    if (RetryWhileHeld(kDeleteRetry, [&] { return ::DeleteFileW(path.c_str()); })) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }

  bool EraseFile(const std::filesystem::path& path) override {
    // Shared with whoever holds it open, which is what usually stops the deletion.
    UniqueFileHandle file;
    RetryWhileHeld(kEraseRetry, [&] {
      file.reset(CreateFileW(path.c_str(), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      return static_cast<bool>(file);
    });
    return file && FlushFileBuffers(file.get());
  }

  std::vector<std::filesystem::path> StaleFiles(const std::filesystem::path& directory,
                                                std::string_view prefix,
                                                std::chrono::seconds age) override {
    return StaleFilesIn(directory, prefix, age);
  }

  std::uint32_t ProcessId() override { return GetCurrentProcessId(); }
};

}  // namespace

SessionPlatform& SystemSessionPlatform() {
  static Win32SessionPlatform platform;
  return platform;
}

}  // namespace vardeko
