#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "base/unique_resource.h"
#include "platform/renderer_files.h"

namespace vardeko {
namespace {

using UniqueFd = UniqueResource<int, &::close, MinusOneIsEmpty>;

// Whether `inner` lies below `outer`; both canonical.
bool Inside(const std::filesystem::path& outer, const std::filesystem::path& inner) {
  const std::string& base = outer.native();
  const std::string& path = inner.native();
  if (path.size() <= base.size() || path.compare(0, base.size(), base) != 0) return false;
  return base.back() == '/' || path[base.size()] == '/';
}

}  // namespace

RendererFile ReadRendererFile(const std::filesystem::path& folder,
                              const std::filesystem::path& relative, std::size_t maxBytes) {
  std::error_code error;
  const std::filesystem::path root = std::filesystem::canonical(folder, error);
  if (error) return {RendererFileStatus::kMissing, {}};
  const std::filesystem::path named = root / relative;

  // Non-blocking, so that a FIFO put in the folder cannot hold the caller; no terminal
  // becomes the controlling one.
  const int opened = open(named.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (opened < 0) {
    const bool missing =
        errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG;
    return {missing ? RendererFileStatus::kMissing : RendererFileStatus::kUnreadable, {}};
  }
  const UniqueFd file(opened);
  struct stat opened_status {};
  if (fstat(file.get(), &opened_status) != 0) return {RendererFileStatus::kUnreadable, {}};
  if (!S_ISREG(opened_status.st_mode)) return {RendererFileStatus::kNotRegular, {}};

  // Where the name leads now, and that it is the file that was opened.
  const std::filesystem::path target = std::filesystem::canonical(named, error);
  struct stat target_status {};
  if (error || stat(target.c_str(), &target_status) != 0 ||
      target_status.st_dev != opened_status.st_dev ||
      target_status.st_ino != opened_status.st_ino || !Inside(root, target)) {
    return {RendererFileStatus::kOutside, {}};
  }
  if (static_cast<unsigned long long>(opened_status.st_size) > maxBytes) {
    return {RendererFileStatus::kTooLarge, {}};
  }

  // Sized by what fstat saw, plus one byte to notice a file that grew meanwhile; it
  // grows up to one byte past the bound, which is enough to refuse it.
  const std::size_t limit = maxBytes + 1;
  RendererFile result{RendererFileStatus::kRead,
                      std::string(static_cast<std::size_t>(opened_status.st_size) + 1, '\0')};
  std::size_t filled = 0;
  for (;;) {
    if (filled == result.bytes.size()) {
      if (filled >= limit) return {RendererFileStatus::kTooLarge, {}};
      result.bytes.resize(std::min(limit, filled * 2));
    }
    const ssize_t got =
        read(file.get(), result.bytes.data() + filled, result.bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return {RendererFileStatus::kUnreadable, {}};
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  if (filled > maxBytes) return {RendererFileStatus::kTooLarge, {}};
  result.bytes.resize(filled);
  return result;
}

}  // namespace vardeko
