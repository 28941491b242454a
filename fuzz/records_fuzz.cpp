// Every record check takes any JSON without crashing and fails only with ApiFailure.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/api_failure.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const nlohmann::json value = nlohmann::json::parse(data, data + size, nullptr, false);
  if (value.is_discarded()) return 0;
  Run([&] { vardeko::CheckCredentials(value); });
  Run([&] { vardeko::CheckMatchSettings(value); });
  Run([&] { vardeko::CheckBoss(value); });
  Run([&] { vardeko::CheckOrder(value, vardeko::OrderKind::kOrder); });
  Run([&] { vardeko::CheckOrder(value, vardeko::OrderKind::kTemplate); });
  Run([&] { vardeko::CheckMatch(value); });
  Run([&] { vardeko::CheckLedgerEntry(value); });
  Run([&] { vardeko::CheckCatalogFilter(value); });
  Run([&] { vardeko::PrepareScreenshotUpload(value); });
  Run([&] {
    vardeko::PageQuery(vardeko::ArgumentAt(value, 0), vardeko::ArgumentAt(value, 1), 20);
  });
  Run([&] { vardeko::CheckOptionalRecordId(value); });
  return 0;
}
