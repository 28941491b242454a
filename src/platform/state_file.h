#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// Small state files of the program in the data directory (not secrets): read whole and
// bounded, written through a temporary file that then replaces the old one, so a
// reader finds the old file or the new one, never a part.
namespace vardeko {

// The whole file; nullopt when it is missing, unreadable, not a regular file or larger
// than `maxBytes`.
std::optional<std::string> ReadStateFile(const std::filesystem::path& path, std::size_t maxBytes);

// Writes `bytes` to `temporary` (created new), flushes it and moves it onto `target`.
// On failure the temporary file is removed and false comes back.
bool ReplaceStateFile(const std::filesystem::path& target, const std::filesystem::path& temporary,
                      std::string_view bytes);

}  // namespace vardeko
