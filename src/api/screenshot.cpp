#include "api/screenshot.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "api/validation.h"
#include "bridge/api_failure.h"

namespace vardeko {
namespace {

using nlohmann::json;

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint32_t kInvalid = 0x01000000;  // above every 24-bit group

// One table per position in a group of four: the character's six bits already shifted
// to their place in the 24-bit group, or kInvalid. OR-ing four entries gives the group,
// with kInvalid set if any character was outside the alphabet.
struct DecodeTables {
  std::array<std::array<std::uint32_t, 256>, 4> shifted{};

  constexpr DecodeTables() {
    for (auto& table : shifted) table.fill(kInvalid);
    for (std::uint32_t value = 0; value < 64; ++value) {
      const auto c = static_cast<unsigned char>(kAlphabet[value]);
      for (int position = 0; position < 4; ++position) {
        shifted[position][c] = value << (18 - 6 * position);
      }
    }
  }
};
constexpr DecodeTables kDecode;

std::uint32_t DecodeGroup(const unsigned char* in) {
  return kDecode.shifted[0][in[0]] | kDecode.shifted[1][in[1]] | kDecode.shifted[2][in[2]] |
         kDecode.shifted[3][in[3]];
}

// Two characters for every 12-bit value, so a group of three bytes needs two look-ups.
struct EncodeTable {
  std::array<char, 4096 * 2> pairs{};

  constexpr EncodeTable() {
    for (std::size_t value = 0; value < 4096; ++value) {
      pairs[value * 2] = kAlphabet[value >> 6];
      pairs[value * 2 + 1] = kAlphabet[value & 0x3F];
    }
  }
};
constexpr EncodeTable kEncode;

bool IsContentTypeOk(std::string_view type) {
  return type == "image/png" || type == "image/jpeg" || type == "image/webp";
}

}  // namespace

bool IsScreenshotMediaType(std::string_view contentType) { return IsContentTypeOk(contentType); }

std::string DecodeBase64(const json& value) {
  if (!value.is_string()) Throw(failures::kInvalidImage);
  const std::string& text = value.get_ref<const std::string&>();
  const std::size_t length = text.size();
  if (length == 0 || length > kMaxBase64Length || length % 4 != 0) Throw(failures::kImageSize);

  const std::size_t padding = text[length - 1] != '=' ? 0 : (text[length - 2] == '=' ? 2 : 1);
  const std::size_t decodedLength = length / 4 * 3 - padding;
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t fullGroups = length / 4 - 1;  // the last group may carry padding

  std::string out(decodedLength, '\0');
  auto* o = reinterpret_cast<unsigned char*>(out.data());
  std::uint32_t invalid = 0;
  for (std::size_t group = 0; group < fullGroups; ++group, in += 4, o += 3) {
    const std::uint32_t bits = DecodeGroup(in);
    invalid |= bits;
    o[0] = static_cast<unsigned char>(bits >> 16);
    o[1] = static_cast<unsigned char>(bits >> 8);
    o[2] = static_cast<unsigned char>(bits);
  }

  // The last group: its padding characters stand for zero bits that must stay zero.
  unsigned char last[4];
  std::memcpy(last, in, 4);
  for (std::size_t i = 4 - padding; i < 4; ++i) last[i] = 'A';
  const std::uint32_t bits = DecodeGroup(last);
  invalid |= bits;
  if ((invalid & kInvalid) != 0) Throw(failures::kInvalidImage);
  if ((padding == 2 && (bits & 0xFFFF) != 0) || (padding == 1 && (bits & 0xFF) != 0)) {
    Throw(failures::kInvalidImage);
  }
  const unsigned char groupBytes[3] = {static_cast<unsigned char>(bits >> 16),
                                       static_cast<unsigned char>(bits >> 8),
                                       static_cast<unsigned char>(bits)};
  std::memcpy(o, groupBytes, 3 - padding);
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out((bytes.size() + 2) / 3 * 4, '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* o = out.data();
  std::size_t remaining = bytes.size();
  for (; remaining >= 3; remaining -= 3, in += 3, o += 4) {
    const std::uint32_t group = std::uint32_t{in[0]} << 16 | std::uint32_t{in[1]} << 8 | in[2];
    std::memcpy(o, &kEncode.pairs[(group >> 12) * 2], 2);
    std::memcpy(o + 2, &kEncode.pairs[(group & 0xFFF) * 2], 2);
  }
  if (remaining > 0) {
    const std::uint32_t group =
        std::uint32_t{in[0]} << 16 | (remaining == 2 ? std::uint32_t{in[1]} << 8 : 0);
    o[0] = kAlphabet[group >> 18];
    o[1] = kAlphabet[(group >> 12) & 0x3F];
    o[2] = remaining == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    o[3] = '=';
  }
  return out;
}

ScreenshotUpload PrepareScreenshotUpload(const json& record) {
  if (!HasMember(record, "name") || !HasMember(record, "content_type") ||
      !HasMember(record, "data_base64")) {
    Throw(failures::kInvalidImage);
  }
  std::string name;
  std::string contentType;
  try {
    name = CheckText(*record.find("name"), 255);
    contentType = CheckText(*record.find("content_type"), 30);
  } catch (const ApiFailure&) {
    Throw(failures::kImageNameOrType);
  }
  if (!IsContentTypeOk(contentType)) Throw(failures::kImageTypeUnsupported);

  ScreenshotUpload upload;
  upload.body = DecodeBase64(*record.find("data_base64"));
  const std::string orderId = HasMember(record, "order_id")
                                  ? CheckOptionalRecordId(*record.find("order_id"))
                                  : std::string();
  upload.contentType = std::move(contentType);
  upload.extraHeaders = "X-File-Name: " + UrlEncodeComponent(name) + "\r\n";
  if (!orderId.empty()) upload.extraHeaders += "X-Order-Id: " + orderId + "\r\n";
  return upload;
}

}  // namespace vardeko
