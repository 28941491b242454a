#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

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
