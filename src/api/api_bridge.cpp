#include "api/api_bridge.h"

#include <utility>

#include "api/service_address.h"
#include "api/session_store.h"
#include "bridge/api_failure.h"

namespace vardeko {

struct ApiBridge::State {
  State(std::string_view serviceBaseUrl, const std::filesystem::path& dataDirectory,
        SessionPlatform& sessionPlatform)
      : address(ParseServiceAddress(serviceBaseUrl)),
        session(sessionPlatform, address.baseUrl, dataDirectory) {}

  ServiceAddress address;
  SessionStore session;
};

ApiBridge::ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory)
    : ApiBridge(std::move(serviceBaseUrl), std::move(dataDirectory), SystemSessionPlatform()) {}

ApiBridge::ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory,
                     SessionPlatform& sessionPlatform)
    : state_(std::make_unique<State>(serviceBaseUrl, dataDirectory, sessionPlatform)) {}

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

bool ApiBridge::IsPersistent() const { return state_->session.IsPersistent(); }

}  // namespace vardeko
