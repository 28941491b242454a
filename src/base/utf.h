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

// Decodes the multi-byte sequence at p (p[0] >= 0x80) following the well-formed byte
// ranges of the Unicode standard. Returns the bytes consumed, or 0 when ill-formed.
std::size_t DecodeSequence(const unsigned char* p, std::size_t available, char32_t& cp);

// Number of UTF-16 code units the UTF-8 text converts to; nullopt when it is not valid.
// Counts without converting.
std::optional<std::size_t> Utf16Length(std::string_view in);

// Number of UTF-8 bytes the UTF-16 text converts to; nullopt when it holds an unpaired
// surrogate. Counts without converting.
std::optional<std::size_t> Utf8Length(std::u16string_view in);

// Writes the UTF-8 form of text that Utf8Length accepted to `out`, which has room for
// the length it gave; returns the end of what was written.
char* WriteUtf8(std::u16string_view in, char* out);

// Converts into `out` (replacing its contents); false when the input is not valid.
bool Utf8ToUtf16(std::string_view in, std::u16string& out);
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

}  // namespace vardeko::utf
