#include <windows.h>

#include <climits>
#include <stdexcept>

#include "base/utf.h"
#include "base/wide_win.h"

namespace vardeko {

std::u16string Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX) throw std::runtime_error("invalid UTF-8");
  const int size = static_cast<int>(text.size());
  const int needed =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (needed <= 0) throw std::runtime_error("invalid UTF-8");
  std::u16string wide(static_cast<std::size_t>(needed), u'\0');
  if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, AsWide(wide.data()),
                          needed) != needed) {
    throw std::runtime_error("invalid UTF-8");
  }
  return wide;
}

std::string WideToUtf8(std::u16string_view text) {
  if (text.empty()) return {};
  if (text.size() > INT_MAX) throw std::runtime_error("invalid UTF-16");
  const int size = static_cast<int>(text.size());
  const wchar_t* const data = AsWide(text.data());
  const int needed =
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, data, size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) throw std::runtime_error("invalid UTF-16");
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, data, size, narrow.data(), needed, nullptr,
                          nullptr) != needed) {
    throw std::runtime_error("invalid UTF-16");
  }
  return narrow;
}

}  // namespace vardeko
