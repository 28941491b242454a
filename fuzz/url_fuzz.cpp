// The splitter and the address check never crash; an accepted address is a fixed point.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/api_failure.h"
#include "base/utf.h"
#include "service/service_address.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string url(reinterpret_cast<const char*>(data), size);
  std::u16string wide;
  if (vardeko::utf::Utf8ToUtf16(url, wide)) static_cast<void>(vardeko::SplitUrl(wide));
  try {
    const vardeko::ServiceAddress address = vardeko::ParseServiceAddress(url);
    if (vardeko::ParseServiceAddress(address.baseUrl).baseUrl != address.baseUrl) std::abort();
  } catch (const vardeko::ApiFailure&) {
  }
  return 0;
}
