#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace vardeko {

enum class RendererFileStatus {
  kRead,
  kMissing,     // nothing at that name, or the folder itself is missing
  kOutside,     // it resolves, links and junctions followed, to a place outside the folder
  kNotRegular,  // a folder, a device, a pipe
  kTooLarge,    // more than the bound
  kUnreadable,  // there, but it cannot be opened or read (access, sharing, I/O)
};

struct RendererFile {
  RendererFileStatus status = RendererFileStatus::kMissing;
  std::string bytes;  // the whole file when kRead
};

// Reads `folder` / `relative` in one pass when the name resolves (links and junctions
// followed) to a regular file inside `folder` (itself resolved the same way) holding at
// most `maxBytes` bytes. What is checked and what is read are one open file, so a
// change of the name in between cannot redirect the read. `relative` must already be
// a plain relative path of file names (no root, no dot segments); the caller checks
// that. Synchronous: the caller's thread waits for the disk.
RendererFile ReadRendererFile(const std::filesystem::path& folder,
                              const std::filesystem::path& relative, std::size_t maxBytes);

}  // namespace vardeko
