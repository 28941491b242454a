#include "service/screenshot.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "fakes/expect_failure.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

const std::string kData = Text(failures::kInvalidImage);
const std::string kSize = Text(failures::kImageSize);
const std::string kNameOrType = Text(failures::kImageNameOrType);
const std::string kUnsupported = Text(failures::kImageTypeUnsupported);

TEST(Base64Test, StrictDecoding) {
  EXPECT_EQ(DecodeBase64("QQ=="), "A");
  EXPECT_EQ(DecodeBase64("QUI="), "AB");
  EXPECT_EQ(DecodeBase64("QUJD"), "ABC");
  EXPECT_EQ(DecodeBase64("+/+/"), "\xFB\xFF\xBF");
  const struct {
    json text;
    std::string expected;
  } cases[] = {
      {"QR==", kData}, {"QUJ=", kData},     {"QQ=", kSize},
      {"QU D", kData}, {"QUJD\n", kSize},   {"A===", kData},
      {"====", kData}, {"QQ==QUJD", kData}, {"QU=D", kData},
      {"", kSize},     {"-_-_", kData},     {"QUJD\r\n\r\n", kData},
      {42, kData},     {nullptr, kData},    {std::string("QQ\0=", 4), kData},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureOf([&] { DecodeBase64(c.text); }), c.expected) << c.text.dump();
  }
}

TEST(Base64Test, SizeLimitIs16MiBOfText) {
  std::string text(16777216, 'A');
  EXPECT_EQ(DecodeBase64(text).size(), 12582912u);
  text.append(4, 'A');
  EXPECT_EQ(FailureOf([&] { DecodeBase64(text); }), kSize);
}

TEST(Base64Test, EncoderRoundTripsWithTheDecoder) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("A"), "QQ==");
  EXPECT_EQ(EncodeBase64("AB"), "QUI=");
  EXPECT_EQ(EncodeBase64("ABC"), "QUJD");
  std::mt19937 random(42);
  for (std::size_t length = 1; length < 300; ++length) {
    std::string bytes(length, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    const std::string text = EncodeBase64(bytes);
    ASSERT_EQ(text.size(), (length + 2) / 3 * 4);
    ASSERT_EQ(DecodeBase64(text), bytes) << length;
    // Decoded where it lies, the text's own buffer becomes the bytes.
    json value = text;
    ASSERT_EQ(TakeDecodedBase64(value).view(), bytes) << length;
    EXPECT_EQ(value, "");
  }
  std::string large(1 << 20, '\0');
  for (char& b : large) b = static_cast<char>(random());
  json value = EncodeBase64(large);
  EXPECT_EQ(TakeDecodedBase64(value).view(), large);
}

// Every byte value at every position of the bulk of a text, which the vector path
// decodes on machines that have it: the alphabet decodes, everything else is refused.
TEST(Base64Test, EveryByteAtEveryPositionAgreesWithTheAlphabet) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::mt19937 random(9);
  std::string bytes(150, '\0');
  for (char& b : bytes) b = static_cast<char>(random());
  const std::string text = EncodeBase64(bytes);  // 200 characters
  int mismatches = 0;
  for (std::size_t position = 0; position + 4 < text.size(); ++position) {
    for (int value = 0; value < 256; ++value) {
      std::string changed = text;
      changed[position] = static_cast<char>(value);
      const std::size_t index = alphabet.find(static_cast<char>(value));
      const bool inAlphabet = value != 0 && index != std::string::npos;
      // Decoded where it lies, the same bytes or the same refusal.
      std::optional<std::string> inPlace;
      try {
        json taken = changed;
        inPlace = std::string(TakeDecodedBase64(taken).view());
      } catch (const ApiFailure&) {
      }
      try {
        const std::string decoded = DecodeBase64(changed);
        if (inPlace != decoded) ++mismatches;
        // The six bits of the changed character land at bit 6 * position of the output.
        std::string expected = bytes;
        const std::size_t bit = position * 6;
        for (int i = 0; i < 6; ++i) {
          const std::size_t at = bit + static_cast<std::size_t>(i);
          const bool set = (index >> (5 - i)) & 1;
          char& byte = expected[at / 8];
          const int mask = 0x80 >> (at % 8);
          byte = static_cast<char>(set ? (byte | mask) : (byte & ~mask));
        }
        if (!inAlphabet || decoded != expected) ++mismatches;
      } catch (const ApiFailure& failure) {
        if (inAlphabet || failure.code() != "INVALID_IMAGE" || inPlace) ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

json Screenshot() {
  return {{"name", "截图 1.png"}, {"content_type", "image/png"}, {"data_base64", "QUJD"}};
}

TEST(ScreenshotRecordTest, PreparesBodyTypeAndHeaderLines) {
  json shot = Screenshot();
  ScreenshotUpload upload = PrepareScreenshotUpload(shot);
  EXPECT_EQ(shot["data_base64"], "");  // decoded where it lay
  EXPECT_EQ(upload.body.view(), "ABC");
  EXPECT_EQ(upload.contentType, "image/png");
  EXPECT_EQ(upload.extraHeaders, "X-File-Name: %E6%88%AA%E5%9B%BE%201.png\r\n");

  for (const json& none : {json(nullptr), json("")}) {
    json record = Screenshot();
    record["order_id"] = none;
    EXPECT_EQ(PrepareScreenshotUpload(record).extraHeaders,
              "X-File-Name: %E6%88%AA%E5%9B%BE%201.png\r\n");
  }
  json record = Screenshot();
  record["order_id"] = "0123abcd-89AB-cdef-0123-456789abcdef";
  record["content_type"] = "image/webp";  // declared type only; bytes are not inspected
  upload = PrepareScreenshotUpload(record);
  EXPECT_EQ(upload.extraHeaders,
            "X-File-Name: %E6%88%AA%E5%9B%BE%201.png\r\nX-Order-Id: "
            "0123abcd-89AB-cdef-0123-456789abcdef\r\n");
  EXPECT_EQ(upload.contentType, "image/webp");
}

TEST(ScreenshotRecordTest, ChecksRunInTheirOrderWithTheirMessages) {
  const auto failure = [](const std::string& member, std::optional<json> value) {
    json record = Screenshot();
    if (value) {
      record[member] = *value;
    } else {
      record.erase(member);
    }
    return FailureOf([&] { PrepareScreenshotUpload(record); });
  };
  EXPECT_EQ(FailureOf([] {
              json array = json::array();
              PrepareScreenshotUpload(array);
            }),
            kData);
  EXPECT_EQ(failure("name", std::nullopt), kData);
  EXPECT_EQ(failure("data_base64", std::nullopt), kData);
  EXPECT_EQ(failure("name", std::string(256, 'n')), kNameOrType);
  EXPECT_EQ(failure("name", std::string(255, 'n')), kPassed);
  EXPECT_EQ(failure("name", 7), kNameOrType);
  EXPECT_EQ(failure("name", "a\xFF"), kNameOrType);
  EXPECT_EQ(failure("content_type", std::string(31, 'c')), kNameOrType);
  for (const char* type : {"image/jpg", "IMAGE/PNG", "image/png; x=1", "image/gif"}) {
    EXPECT_EQ(failure("content_type", type), kUnsupported) << type;
  }
  EXPECT_EQ(failure("content_type", "image/jpeg"), kPassed);
  EXPECT_EQ(failure("data_base64", "QQ="), kSize);
  EXPECT_EQ(failure("order_id", "   "), Text(failures::kInvalidRecordId));
  EXPECT_EQ(failure("order_id", 5), Text(failures::kInvalidInput));
  // The image is checked before the order id.
  json both = Screenshot();
  both["data_base64"] = "QR==";
  both["order_id"] = 5;
  EXPECT_EQ(FailureOf([&] { PrepareScreenshotUpload(both); }), kData);
  // Other members are ignored, even a huge one: the record is never sent.
  EXPECT_EQ(failure("padding", std::string(200000, 'p')), kPassed);
}

}  // namespace
}  // namespace vardeko::testing
