#include "platform/state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "base/unique_resource.h"

namespace vardeko {
namespace {

int CloseDescriptor(int descriptor) noexcept { return ::close(descriptor); }
using UniqueDescriptor = UniqueResource<int, &CloseDescriptor, MinusOneIsEmpty>;

bool WriteAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

std::optional<std::string> ReadStateFile(const std::filesystem::path& path, std::size_t maxBytes) {
  const UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat status {};
  if (!file || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > maxBytes) {
    return std::nullopt;
  }
  std::string bytes(static_cast<std::size_t>(status.st_size), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got = ::read(file.get(), bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return std::nullopt;  // shrank while read, or failed
    done += static_cast<std::size_t>(got);
  }
  return bytes;
}

bool ReplaceStateFile(const std::filesystem::path& target, const std::filesystem::path& temporary,
                      std::string_view bytes) {
  {
    UniqueDescriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file) return false;
    if (!WriteAll(file.get(), bytes) || ::fsync(file.get()) != 0) {
      file.reset();
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

}  // namespace vardeko
