#include "api/api_bridge.h"

#include <utility>

#include "api/service_address.h"
#include "bridge/api_failure.h"

namespace vardeko {

struct ApiBridge::State {
  ServiceAddress address;
  std::filesystem::path dataDirectory;
};

ApiBridge::ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory)
    : state_(std::make_unique<State>(
          State{ParseServiceAddress(serviceBaseUrl), std::move(dataDirectory)})) {}

ApiBridge::~ApiBridge() = default;

nlohmann::json ApiBridge::Call(std::string_view method, const nlohmann::json& args) {
  return ConvertJsonErrorsAtServiceEntry([&]() -> nlohmann::json {
    if (!args.is_array()) Throw(failures::kInvalidInput);
    static_cast<void>(method);
    // No service method is known yet.
    Throw(failures::kInvalidMethod);
  });
}

std::string ApiBridge::ApiUrl() const { return state_->address.baseUrl; }

bool ApiBridge::IsPersistent() const { return false; }

}  // namespace vardeko
