#include <windows.h>

#include <algorithm>
#include <string>

#include "base/unique_handle_win.h"
#include "platform/renderer_files.h"

namespace vardeko {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The path the open handle really names, links and junctions resolved, in the form
// given: "\\?\C:\..." for VOLUME_NAME_DOS, "\Device\HarddiskVolume2\..." for
// VOLUME_NAME_NT.
bool FinalPath(HANDLE handle, DWORD volumeForm, std::wstring& path) {
  path.resize(MAX_PATH);
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD length = GetFinalPathNameByHandleW(
        handle, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED | volumeForm);
    if (length == 0) return false;
    if (length < path.size()) {
      path.resize(length);
      return true;
    }
    path.resize(length);  // the size needed, with the terminator
  }
  return false;
}

// The final paths of the folder and the file, in one form for both. The drive-letter
// form fails where the mount manager knows no letter for the volume (RAM disks, subst
// and DefineDosDevice drives, some redirectors); the device form works there.
bool FinalPaths(HANDLE folder, HANDLE file, std::wstring& folderPath, std::wstring& filePath) {
  for (const DWORD form :
       {static_cast<DWORD>(VOLUME_NAME_DOS), static_cast<DWORD>(VOLUME_NAME_NT)}) {
    if (FinalPath(folder, form, folderPath) && FinalPath(file, form, filePath)) return true;
  }
  return false;
}

// Whether `inner` lies below `outer`. Names compare as the file system does by default:
// ordinal, without regard to case.
bool Inside(const std::wstring& outer, const std::wstring& inner) {
  std::size_t base = outer.size();
  if (base > 0 && outer[base - 1] == L'\\') --base;
  if (inner.size() <= base + 1 || inner[base] != L'\\') return false;
  return CompareStringOrdinal(outer.data(), static_cast<int>(base), inner.data(),
                              static_cast<int>(base), TRUE) == CSTR_EQUAL;
}

bool IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME || error == ERROR_DIRECTORY ||
         error == ERROR_FILENAME_EXCED_RANGE || error == ERROR_CANT_RESOLVE_FILENAME;
}

}  // namespace

RendererFile ReadRendererFile(const std::filesystem::path& folder,
                              const std::filesystem::path& relative, std::size_t maxBytes) {
  // Backup semantics opens folders too: the folder for its final path, and a name that
  // turns out to be a folder, to refuse it as one.
  const UniqueFileHandle root(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root) return {RendererFileStatus::kMissing, {}};

  const std::filesystem::path named = folder / relative;
  const UniqueFileHandle file(
      CreateFileW(named.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    return {
        IsMissing(GetLastError()) ? RendererFileStatus::kMissing : RendererFileStatus::kUnreadable,
        {}};
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return {RendererFileStatus::kNotRegular, {}};
  }
  std::wstring rootPath;
  std::wstring filePath;
  if (!FinalPaths(root.get(), file.get(), rootPath, filePath)) {
    return {RendererFileStatus::kUnreadable, {}};
  }
  if (!Inside(rootPath, filePath)) return {RendererFileStatus::kOutside, {}};

  const unsigned long long size =
      (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  if (size > maxBytes) return {RendererFileStatus::kTooLarge, {}};

  // Sized by what the handle reported, plus one byte to notice a file that grew
  // meanwhile; it grows up to one byte past the bound, which is enough to refuse it.
  const std::size_t limit = maxBytes + 1;
  RendererFile result{RendererFileStatus::kRead,
                      std::string(static_cast<std::size_t>(size) + 1, '\0')};
  std::size_t filled = 0;
  for (;;) {
    if (filled == result.bytes.size()) {
      if (filled >= limit) return {RendererFileStatus::kTooLarge, {}};
      result.bytes.resize(std::min(limit, filled * 2));
    }
    const DWORD wanted = static_cast<DWORD>(
        std::min<std::size_t>(result.bytes.size() - filled, static_cast<std::size_t>(1) << 30));
    DWORD got = 0;
    if (!ReadFile(file.get(), result.bytes.data() + filled, wanted, &got, nullptr)) {
      return {RendererFileStatus::kUnreadable, {}};
    }
    if (got == 0) break;
    filled += got;
  }
  if (filled > maxBytes) return {RendererFileStatus::kTooLarge, {}};
  result.bytes.resize(filled);
  return result;
}

}  // namespace vardeko
