#pragma once

#include <string>
#include <string_view>

// UTF-16 text is char16_t in the portable code and wchar_t in Win32 calls; on Windows
// both are 16-bit code units of the same representation.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace vardeko {

inline const wchar_t* AsWide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* AsWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
inline const wchar_t* AsWide(const std::u16string& text) { return AsWide(text.c_str()); }
inline const char16_t* AsUtf16(const wchar_t* text) {
  return reinterpret_cast<const char16_t*>(text);
}
// A NUL-terminated copy for Win32 calls that take a plain pointer.
inline std::wstring Terminated(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
inline std::u16string_view AsUtf16View(const wchar_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(AsUtf16(text));
}

}  // namespace vardeko
