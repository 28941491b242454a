#pragma once

#include <string>
#include <string_view>

namespace vardeko {

// Strict conversions used by the shell, the web host and the bridge. Empty gives empty.
// Utf8ToWide throws std::runtime_error("invalid UTF-8") for text that is not valid
// UTF-8; WideToUtf8 throws std::runtime_error("invalid UTF-16") for an unpaired
// surrogate. Pure functions, callable from any thread.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

}  // namespace vardeko
