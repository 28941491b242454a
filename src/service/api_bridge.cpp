#include "service/api_bridge.h"

#include <utility>

#include "base/api_failure.h"
#include "service/http_transport.h"
#include "service/method_table.h"
#include "service/service_address.h"
#include "service/session_store.h"

namespace vardeko {

struct ApiBridge::State {
  State(std::string_view serviceBaseUrl, const std::filesystem::path& dataDirectory,
        SessionPlatform& sessionPlatform, HttpEngine& engine)
      : address(ParseServiceAddress(serviceBaseUrl)),
        session(sessionPlatform, address.baseUrl, dataDirectory),
        transport(address, session, engine) {}

  ServiceAddress address;
  SessionStore session;
  HttpTransport transport;
};

ApiBridge::ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory)
    : ApiBridge(std::move(serviceBaseUrl), std::move(dataDirectory), SystemSessionPlatform(),
                SystemHttpEngine()) {}

ApiBridge::ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory,
                     SessionPlatform& sessionPlatform, HttpEngine& engine)
    : state_(std::make_unique<State>(serviceBaseUrl, dataDirectory, sessionPlatform, engine)) {}

ApiBridge::~ApiBridge() = default;

ServiceResult ApiBridge::Call(std::string_view method, nlohmann::json& args) {
  return ConvertJsonErrorsAtServiceEntry([&]() -> ServiceResult {
    if (!args.is_array()) Throw(failures::kInvalidInput);
    MethodContext context{state_->transport, state_->session};
    return RunServiceMethod(context, method, args);
  });
}

std::string ApiBridge::ApiUrl() const { return state_->address.baseUrl; }

bool ApiBridge::IsPersistent() const { return state_->session.IsPersistent(); }

}  // namespace vardeko
