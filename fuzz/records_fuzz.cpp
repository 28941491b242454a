// Every record check takes any JSON, however deep, without crashing and fails only with
// ApiFailure. The bounded parser agrees with the JSON library's own within its bounds and
// refuses only past them; the measured compact length is dump()'s.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/api_failure.h"
#include "base/bounded_json.h"
#include "service/records.h"
#include "service/screenshot.h"
#include "service/validation.h"

namespace {

template <class Check>
void Run(Check check) {
  try {
    check();
  } catch (const vardeko::ApiFailure&) {
  }
}

// The deepest nesting of arrays and objects in a JSON text, read from the text itself,
// so that members overwritten by a later duplicate count too.
std::size_t TextDepth(std::string_view text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;  // the escaped character
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

void CheckBoundedParser(std::string_view text, const nlohmann::json& value) {
  const std::optional<nlohmann::json> bounded = vardeko::ParseBoundedJson(text);
  // Written compact without a tree: the same verdict, and the tree's own dump().
  vardeko::SecretString written;
  if (vardeko::AppendCompactBoundedJson(text, written) != bounded.has_value()) std::abort();
  if (bounded && written.view() != bounded->dump()) std::abort();
  if (!bounded) {
    // Inputs of this size cannot reach the value bound: only depth may refuse JSON.
    if (!value.is_discarded() && TextDepth(text) <= vardeko::kMaxJsonDepth) std::abort();
    return;
  }
  if (value.is_discarded() || *bounded != value) std::abort();
  const std::string compact = bounded->dump();
  if (vardeko::CompactLength(*bounded) != compact.size()) std::abort();
  if (vardeko::SerialiseSecret(*bounded).view() != compact) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json value = nlohmann::json::parse(data, data + size, nullptr, false);
  CheckBoundedParser(std::string_view(reinterpret_cast<const char*>(data), size), value);
  if (value.is_discarded()) return 0;
  Run([&] { vardeko::CheckCredentials(value); });
  Run([&] { vardeko::CheckMatchSettings(value); });
  Run([&] { vardeko::CheckBoss(value); });
  Run([&] { vardeko::CheckOrder(value, vardeko::OrderKind::kOrder); });
  Run([&] { vardeko::CheckOrder(value, vardeko::OrderKind::kTemplate); });
  Run([&] { vardeko::CheckMatch(value); });
  Run([&] { vardeko::CheckLedgerEntry(value); });
  Run([&] { vardeko::CheckCatalogFilter(value); });
  Run([&] {
    nlohmann::json taken = value;  // the image is decoded where it lies
    vardeko::PrepareScreenshotUpload(taken);
  });
  Run([&] {
    vardeko::PageQuery(vardeko::ArgumentAt(value, 0), vardeko::ArgumentAt(value, 1), 20);
  });
  Run([&] { vardeko::CheckOptionalRecordId(value); });
  return 0;
}
