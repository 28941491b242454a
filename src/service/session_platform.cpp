#include "service/session_platform.h"

namespace vardeko {

std::vector<std::filesystem::path> StaleFilesIn(const std::filesystem::path& directory,
                                                std::string_view prefix, std::chrono::seconds age) {
  using FileClock = std::filesystem::file_time_type::clock;
  const std::filesystem::path::string_type wanted(prefix.begin(), prefix.end());  // ASCII
  const auto writtenBefore = FileClock::now() - age;
  std::vector<std::filesystem::path> found;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    if (!entry->path().filename().native().starts_with(wanted)) continue;
    std::error_code timeError;
    const std::filesystem::file_time_type written = entry->last_write_time(timeError);
    if (!timeError && written <= writtenBefore) found.push_back(entry->path());
  }
  return found;
}

}  // namespace vardeko
