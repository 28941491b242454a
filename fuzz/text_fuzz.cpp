// The text check agrees with the converter: a text passes exactly when it converts, has
// no NUL and fits; the counted length is the converted length.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/api_failure.h"
#include "base/utf.h"
#include "service/validation.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::u16string wide;
  const bool converts = vardeko::utf::Utf8ToUtf16(text, wide);
  const auto counted = vardeko::utf::Utf16Length(text);
  if (converts != counted.has_value() || (converts && *counted != wide.size())) std::abort();
  if (converts) {
    std::string back;
    if (!vardeko::utf::Utf16ToUtf8(wide, back) || back != text) std::abort();
  }
  const std::size_t limit = 64;
  bool passed = true;
  try {
    vardeko::CheckText(nlohmann::json(text), limit);
  } catch (const vardeko::ApiFailure&) {
    passed = false;
  }
  const bool expected = converts && text.find('\0') == std::string::npos && wide.size() <= limit;
  if (passed != expected) std::abort();
  return 0;
}
