#include "service/validation.h"

#include <limits>

#include "base/api_failure.h"
#include "base/bounded_json.h"
#include "base/utf.h"

namespace vardeko {
namespace {

using nlohmann::json;

constexpr std::size_t kMaxTextBytes = 2147483647;
constexpr std::size_t kMaxChoiceLength = 40;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// NUL and size are refused before the encoding is looked at.
void CheckTextBytes(std::string_view text) {
  if (text.size() > kMaxTextBytes || text.find('\0') != std::string_view::npos) {
    Throw(failures::kInvalidInput);
  }
}

// The text check without its copy: a member's text (a password among them) is looked
// at where it lies.
const std::string& CheckedText(const json& value, std::size_t limit) {
  if (!value.is_string()) Throw(failures::kInvalidInput);
  const std::string& text = value.get_ref<const std::string&>();
  CheckTextBytes(text);
  const std::optional<std::size_t> units = utf::Utf16Length(text);
  if (!units) Throw(failures::kInvalidEncoding);
  if (*units > limit) Throw(failures::kTextTooLong);
  return text;
}

}  // namespace

const json& ArgumentAt(const json& args, std::size_t index) {
  static const json kNull;
  return args.is_array() && index < args.size() ? args[index] : kNull;
}

std::size_t CheckArgumentCount(const json& args, std::size_t minimum, std::size_t maximum) {
  if (!args.is_array() || args.size() < minimum || args.size() > maximum) {
    Throw(failures::kInvalidInput);
  }
  return args.size();
}

std::string CheckText(const json& value, std::size_t limit) { return CheckedText(value, limit); }

std::int64_t CheckCount(const json& value, std::int64_t minimum, std::int64_t maximum) {
  if (value.is_number_unsigned()) {
    const auto count = value.get<std::uint64_t>();
    if (count > static_cast<std::uint64_t>(maximum) ||
        (minimum > 0 && count < static_cast<std::uint64_t>(minimum))) {
      Throw(failures::kCountOutOfRange);
    }
    return static_cast<std::int64_t>(count);
  }
  if (value.is_number_integer()) {
    const auto count = value.get<std::int64_t>();
    if (count < minimum || count > maximum) Throw(failures::kCountOutOfRange);
    return count;
  }
  Throw(failures::kCountNotInteger);
}

std::string CheckRecordId(const json& value) {
  std::string id = CheckText(value, kRecordIdLength);
  if (id.size() != kRecordIdLength) Throw(failures::kInvalidRecordId);
  for (std::size_t i = 0; i < id.size(); ++i) {
    const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? id[i] != '-' : !IsHexDigit(id[i])) Throw(failures::kInvalidRecordId);
  }
  return id;
}

std::string CheckOptionalRecordId(const json& value) {
  if (value.is_null() || (value.is_string() && value.get_ref<const std::string&>().empty())) {
    return {};
  }
  return CheckRecordId(value);
}

void CheckObject(const json& value) {
  if (!value.is_object()) Throw(failures::kInvalidInput);
  // Measured without serialising (which would recurse), and only up to the limit.
  if (CompactLength(value, kMaxObjectBytes) > kMaxObjectBytes) Throw(failures::kInvalidInput);
}

bool HasMember(const json& record, std::string_view name) {
  return record.is_object() && record.find(name) != record.end();
}

const json* MemberToCheck(const json& record, std::string_view name, Presence presence,
                          Nullability nullability) {
  if (!HasMember(record, name)) {
    if (presence == Presence::kOptional) return nullptr;
    Throw(failures::kInvalidInput);
  }
  const json& value = *record.find(name);
  if (nullability == Nullability::kNullable && value.is_null()) return nullptr;
  return &value;
}

void CheckTextMember(const json& record, std::string_view name, std::size_t limit,
                     Presence presence, Nullability nullability) {
  if (const json* value = MemberToCheck(record, name, presence, nullability))
    CheckedText(*value, limit);
}

void CheckChoice(const json& record, std::string_view name,
                 std::initializer_list<std::string_view> allowed, Presence presence) {
  const json* value = MemberToCheck(record, name, presence);
  if (value == nullptr) return;
  const std::string& choice = CheckedText(*value, kMaxChoiceLength);
  for (const std::string_view candidate : allowed) {
    if (choice == candidate) return;
  }
  Throw(failures::kInvalidInput);
}

std::string PageQuery(const json& page, const json& pageSize, std::int64_t defaultPageSize) {
  const std::int64_t pageNumber = page.is_null() ? 1 : CheckCount(page, 1, kMaxPage);
  const std::int64_t size =
      pageSize.is_null() ? defaultPageSize : CheckCount(pageSize, 1, kMaxPageSize);
  return "page=" + std::to_string(pageNumber) + "&page_size=" + std::to_string(size);
}

std::string UrlEncodeComponent(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~') {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

std::u16string ToUtf16Strict(std::string_view text) {
  if (text.empty()) return {};
  CheckTextBytes(text);
  std::u16string wide;
  if (!utf::Utf8ToUtf16(text, wide)) Throw(failures::kInvalidEncoding);
  return wide;
}

std::string ToUtf8Strict(std::u16string_view text) {
  std::string narrow;
  if (!utf::Utf16ToUtf8(text, narrow)) Throw(failures::kInvalidInput);
  return narrow;
}

}  // namespace vardeko
