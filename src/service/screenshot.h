#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/secure_wipe.h"

namespace vardeko {

inline constexpr std::size_t kMaxBase64Length = 16777216;
inline constexpr std::size_t kMaxImageBytes = 12582912;

// Strict RFC 4648 base64 of a JSON string: standard alphabet, "=" only as final padding,
// zero padding bits, 4 to 16777216 characters. Raises ApiFailure (INVALID_IMAGE).
// Decodes in one pass into a buffer reserved once at the exact size.
std::string DecodeBase64(const nlohmann::json& value);

// The same, decoded where the text lies: the string is taken from `value` (left empty)
// and becomes the bytes. A 16 MiB text needs no second buffer of 12 MiB.
SecretString TakeDecodedBase64(nlohmann::json& value);

// Standard base64 with padding and no line breaks.
std::string EncodeBase64(std::string_view bytes);

// What uploadMatch sends: the image bytes, their declared media type, and the extra
// header lines (X-File-Name, then X-Order-Id when an order is named), each ending in
// CR LF.
struct ScreenshotUpload {
  SecretString body;  // a request body: wiped when it goes
  std::string contentType;
  std::string extraHeaders;
};

// Checks the screenshot record in its fixed order and prepares the upload. The image's
// text is decoded where it lies (TakeDecodedBase64): "data_base64" is left empty.
ScreenshotUpload PrepareScreenshotUpload(nlohmann::json& record);

// The three media types accepted for screenshots, both ways.
bool IsScreenshotMediaType(std::string_view contentType);

}  // namespace vardeko
