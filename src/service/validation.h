#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The checks every value from the page passes before a request is built. They accept a
// value unchanged or raise ApiFailure (INVALID_INPUT); nothing is trimmed or folded.
// Text limits count UTF-16 code units. Pure functions, safe on any thread.
namespace vardeko {

inline constexpr std::size_t kMaxObjectBytes = 131072;
inline constexpr std::size_t kRecordIdLength = 36;
inline constexpr std::int64_t kMaxPage = 9007199254740991;  // 2^53 - 1
inline constexpr std::int64_t kMaxPageSize = 100;
inline constexpr std::int64_t kDefaultPageSize = 20;  // matches and ledger entries
inline constexpr std::int64_t kCatalogPageSize = 40;
inline constexpr std::int64_t kMaxQuantity = 9000000000000;

// The argument at `index`, or null past the end of the array.
const nlohmann::json& ArgumentAt(const nlohmann::json& args, std::size_t index);

// The arguments must be an array of `minimum` to `maximum` elements. Returns the count.
std::size_t CheckArgumentCount(const nlohmann::json& args, std::size_t minimum,
                               std::size_t maximum);

// A JSON string of valid UTF-8 without NUL, at most `limit` UTF-16 code units.
std::string CheckText(const nlohmann::json& value, std::size_t limit);

// A JSON integer (signed or unsigned, never floating point) within [minimum, maximum].
std::int64_t CheckCount(const nlohmann::json& value, std::int64_t minimum, std::int64_t maximum);

// 36 bytes in the 8-4-4-4-12 hexadecimal form, either letter case.
std::string CheckRecordId(const nlohmann::json& value);

// Null or "" give "" (no id); anything else must be a record id.
std::string CheckOptionalRecordId(const nlohmann::json& value);

// A JSON object whose compact serialisation is at most 131072 bytes.
void CheckObject(const nlohmann::json& value);

// The record is an object with a member of exactly this name (null counts as present).
bool HasMember(const nlohmann::json& record, std::string_view name);

enum class Presence { kRequired, kOptional };
enum class Nullability { kNotNull, kNullable };

// The member's value still to be checked, or nullptr when the rule is already met: the
// member is absent and optional, or null and nullable. Absent and required raises
// INVALID_INPUT.
const nlohmann::json* MemberToCheck(const nlohmann::json& record, std::string_view name,
                                    Presence presence,
                                    Nullability nullability = Nullability::kNotNull);

void CheckTextMember(const nlohmann::json& record, std::string_view name, std::size_t limit,
                     Presence presence, Nullability nullability = Nullability::kNotNull);

void CheckChoice(const nlohmann::json& record, std::string_view name,
                 std::initializer_list<std::string_view> allowed, Presence presence);

// "page=" page "&page_size=" size; null page gives 1, null size the default.
std::string PageQuery(const nlohmann::json& page, const nlohmann::json& pageSize,
                      std::int64_t defaultPageSize);

// Percent-encodes every byte but A-Z a-z 0-9 - . _ ~, with upper-case hex digits.
std::string UrlEncodeComponent(std::string_view bytes);

// The service client's strict conversions: NUL or over 2^31 - 1 bytes is "输入参数不正确。",
// invalid UTF-8 is "文字编码不正确。"; an unpaired surrogate is "输入参数不正确。".
std::u16string ToUtf16Strict(std::string_view text);
std::string ToUtf8Strict(std::u16string_view text);

}  // namespace vardeko
