// Decoding either fails with ApiFailure or gives bytes that encode back to the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/api_failure.h"
#include "service/screenshot.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const std::string bytes = vardeko::DecodeBase64(nlohmann::json(text));
    if (vardeko::EncodeBase64(bytes) != text) std::abort();
  } catch (const vardeko::ApiFailure&) {
  }
  return 0;
}
