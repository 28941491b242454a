#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vardeko {

// Strict conversions used by the shell, the web host and the bridge. Empty gives empty.
// Utf8ToWide throws std::runtime_error("invalid UTF-8") for text that is not valid
// UTF-8; WideToUtf8 throws std::runtime_error("invalid UTF-16") for an unpaired
// surrogate. Win32's conversions on Windows, the portable codec below elsewhere. Pure
// functions, callable from any thread.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);

}  // namespace vardeko

// Portable strict conversions between UTF-8 and UTF-16. They refuse exactly what the
// Win32 conversions refuse with MB_ERR_INVALID_CHARS / WC_ERR_INVALID_CHARS: truncated
// or stray bytes, overlong forms, encoded surrogates, values above U+10FFFF, and
// unpaired surrogates. NUL and noncharacters are valid text.
namespace vardeko::utf {

// Number of UTF-16 code units the UTF-8 text converts to; nullopt when it is not valid.
// Counts without converting.
std::optional<std::size_t> Utf16Length(std::string_view in);

// Converts into `out` (replacing its contents); false when the input is not valid.
bool Utf8ToUtf16(std::string_view in, std::u16string& out);
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

}  // namespace vardeko::utf
