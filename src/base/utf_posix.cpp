#include <stdexcept>

#include "base/utf.h"

namespace vardeko {

std::u16string Utf8ToWide(std::string_view text) {
  std::u16string wide;
  if (!utf::Utf8ToUtf16(text, wide)) throw std::runtime_error("invalid UTF-8");
  return wide;
}

std::string WideToUtf8(std::u16string_view text) {
  std::string narrow;
  if (!utf::Utf16ToUtf8(text, narrow)) throw std::runtime_error("invalid UTF-16");
  return narrow;
}

}  // namespace vardeko
