#include "service/screenshot.h"

#include <array>
#include <cstdint>
#include <cstring>

#include "base/api_failure.h"
#include "service/validation.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define VARDEKO_BASE64_AVX2 1
#endif

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

#if VARDEKO_BASE64_AVX2
// Vector paths for the bulk of the text, after the published AVX2 base64 method of
// Muła and Lemire: 32 characters to 24 bytes and back per step. Both stop where the
// scalar code takes over and report how far they got; the decoder also reports whether
// every character it saw was in the alphabet ("=" is not).

bool HasAvx2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

__attribute__((target("avx2"))) std::size_t DecodeAvx2(const unsigned char* in, std::size_t groups,
                                                       unsigned char* out, std::size_t outRoom,
                                                       bool& valid) {
  // A byte is outside the alphabet exactly when the masks of its two nibbles meet.
  const __m256i lowNibbleMask =
      _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B,
                       0x1B, 0x1B, 0x1A, 0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,
                       0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  const __m256i highNibbleMask =
      _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10,
                       0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // Added to a character to give its value, by high nibble ("/" one slot lower).
  const __m256i roll = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                        16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  const __m256i nibble = _mm256_set1_epi8(0x0F);
  const __m256i slash = _mm256_set1_epi8(0x2F);
  const __m256i packPairs = _mm256_set1_epi32(0x01400140);
  const __m256i packQuads = _mm256_set1_epi32(0x00011000);
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2,
                                         1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);

  __m256i bad = _mm256_setzero_si256();
  std::size_t done = 0;
  // Eight groups per step; the 32-byte store needs 8 bytes of room past its 24.
  while (groups - done >= 8 && outRoom >= done * 3 + 32) {
    const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + done * 4));
    const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
    const __m256i low = _mm256_and_si256(text, nibble);
    bad = _mm256_or_si256(bad, _mm256_and_si256(_mm256_shuffle_epi8(lowNibbleMask, low),
                                                _mm256_shuffle_epi8(highNibbleMask, high)));
    const __m256i shift =
        _mm256_shuffle_epi8(roll, _mm256_add_epi8(_mm256_cmpeq_epi8(text, slash), high));
    const __m256i values = _mm256_add_epi8(text, shift);
    const __m256i pairs = _mm256_maddubs_epi16(values, packPairs);
    const __m256i quads = _mm256_madd_epi16(pairs, packQuads);
    const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(quads, order), gather);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done * 3), bytes);
    done += 8;
  }
  valid = _mm256_testz_si256(bad, bad) != 0;
  return done;
}

__attribute__((target("avx2"))) std::size_t EncodeAvx2(const unsigned char* in, std::size_t length,
                                                       char* out) {
  // Each step reads 4 bytes before and 4 after its 24, so the first two groups go the
  // scalar way and the loop stops 28 bytes before the end; the caller encodes the rest.
  if (length < 34) return 0;
  const __m256i spread = _mm256_setr_epi8(5, 4, 6, 5, 8, 7, 9, 8, 11, 10, 12, 11, 14, 13, 15, 14, 1,
                                          0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m256i shiftLut =
      _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0,
                       'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                       '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  std::size_t done = 0;  // bytes of input encoded, a multiple of 3
  for (; done < 6; done += 3) {
    const std::uint32_t group =
        std::uint32_t{in[done]} << 16 | std::uint32_t{in[done + 1]} << 8 | in[done + 2];
    std::memcpy(out + done / 3 * 4, &kEncode.pairs[(group >> 12) * 2], 2);
    std::memcpy(out + done / 3 * 4 + 2, &kEncode.pairs[(group & 0xFFF) * 2], 2);
  }
  while (length - done >= 28) {
    const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + done - 4));
    const __m256i input = _mm256_shuffle_epi8(raw, spread);
    const __m256i t0 = _mm256_and_si256(input, _mm256_set1_epi32(0x0FC0FC00));
    const __m256i t1 = _mm256_mulhi_epu16(t0, _mm256_set1_epi32(0x04000040));
    const __m256i t2 = _mm256_and_si256(input, _mm256_set1_epi32(0x003F03F0));
    const __m256i t3 = _mm256_mullo_epi16(t2, _mm256_set1_epi32(0x01000010));
    const __m256i indices = _mm256_or_si256(t1, t3);
    __m256i reduced = _mm256_subs_epu8(indices, _mm256_set1_epi8(51));
    const __m256i letters = _mm256_cmpgt_epi8(_mm256_set1_epi8(26), indices);
    reduced = _mm256_or_si256(reduced, _mm256_and_si256(letters, _mm256_set1_epi8(13)));
    const __m256i text = _mm256_add_epi8(_mm256_shuffle_epi8(shiftLut, reduced), indices);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + done / 3 * 4), text);
    done += 24;
  }
  return done;
}
#endif

bool IsContentTypeOk(std::string_view type) {
  return type == "image/png" || type == "image/jpeg" || type == "image/webp";
}

}  // namespace

bool IsScreenshotMediaType(std::string_view contentType) { return IsContentTypeOk(contentType); }

namespace {

// The decoded length of a strict base64 text, or ApiFailure (INVALID_IMAGE).
std::size_t DecodedLength(const json& value) {
  if (!value.is_string()) Throw(failures::kInvalidImage);
  const std::string& text = value.get_ref<const std::string&>();
  const std::size_t length = text.size();
  if (length == 0 || length > kMaxBase64Length || length % 4 != 0) Throw(failures::kImageSize);
  const std::size_t padding = text[length - 1] != '=' ? 0 : (text[length - 2] == '=' ? 2 : 1);
  return length / 4 * 3 - padding;
}

// Decodes the `length` characters at `in` (a multiple of 4, checked by DecodedLength)
// into `decodedLength` bytes at `o`, which may be `in` itself: each store lands at or
// before the characters it was decoded from, and after they were read.
void Decode(const unsigned char* in, std::size_t length, unsigned char* o,
            std::size_t decodedLength) {
  const std::size_t padding = length / 4 * 3 - decodedLength;
  const std::size_t fullGroups = length / 4 - 1;  // the last group may carry padding
  const unsigned char* const outEnd = o + decodedLength;
  std::uint32_t invalid = 0;
  std::size_t group = 0;
#if VARDEKO_BASE64_AVX2
  if (HasAvx2()) {
    bool valid = true;
    group = DecodeAvx2(in, fullGroups, o, decodedLength, valid);
    if (!valid) Throw(failures::kInvalidImage);
    in += group * 4;
    o += group * 3;
  }
#endif
  // Two groups at a time, stored as one 8-byte word of which 6 bytes count; the spare
  // two land where the next bytes go, so this stops 8 bytes before the end.
  for (; group + 2 <= fullGroups && outEnd - o >= 8; group += 2, in += 8, o += 6) {
    const std::uint32_t first = DecodeGroup(in);
    const std::uint32_t second = DecodeGroup(in + 4);
    invalid |= first | second;
    const std::uint64_t word =
        __builtin_bswap64(std::uint64_t{first} << 40 | std::uint64_t{second} << 16);
    std::memcpy(o, &word, 8);
  }
  for (; group < fullGroups; ++group, in += 4, o += 3) {
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
}

}  // namespace

std::string DecodeBase64(const json& value) {
  const std::size_t decodedLength = DecodedLength(value);
  const std::string& text = value.get_ref<const std::string&>();
  std::string out(decodedLength, '\0');
  Decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
         reinterpret_cast<unsigned char*>(out.data()), decodedLength);
  return out;
}

SecretString TakeDecodedBase64(json& value) {
  const std::size_t decodedLength = DecodedLength(value);
  SecretString text(std::move(value.get_ref<std::string&>()));
  std::string& bytes = text.str();
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  Decode(data, bytes.size(), data, decodedLength);
  bytes.resize(decodedLength);  // within the buffer: its rest is wiped with it
  return text;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out((bytes.size() + 2) / 3 * 4, '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* o = out.data();
  std::size_t remaining = bytes.size();
#if VARDEKO_BASE64_AVX2
  if (HasAvx2()) {
    const std::size_t done = EncodeAvx2(in, remaining, o);
    in += done;
    o += done / 3 * 4;
    remaining -= done;
  }
#endif
  // Six bytes at a time from one 8-byte load, while 8 bytes can be read.
  for (; remaining >= 8; remaining -= 6, in += 6, o += 8) {
    std::uint64_t word;
    std::memcpy(&word, in, 8);
    word = __builtin_bswap64(word);
    const std::size_t indices[4] = {
        static_cast<std::size_t>(word >> 52), static_cast<std::size_t>(word >> 40) & 0xFFF,
        static_cast<std::size_t>(word >> 28) & 0xFFF, static_cast<std::size_t>(word >> 16) & 0xFFF};
    for (int i = 0; i < 4; ++i) std::memcpy(o + 2 * i, &kEncode.pairs[indices[i] * 2], 2);
  }
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

ScreenshotUpload PrepareScreenshotUpload(json& record) {
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
  upload.body = TakeDecodedBase64(*record.find("data_base64"));
  const std::string orderId = HasMember(record, "order_id")
                                  ? CheckOptionalRecordId(*record.find("order_id"))
                                  : std::string();
  upload.contentType = std::move(contentType);
  upload.extraHeaders = "X-File-Name: " + UrlEncodeComponent(name) + "\r\n";
  if (!orderId.empty()) upload.extraHeaders += "X-Order-Id: " + orderId + "\r\n";
  return upload;
}

}  // namespace vardeko
