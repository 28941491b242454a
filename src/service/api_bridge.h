#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "service/http_engine.h"
#include "service/service_client.h"
#include "service/session_platform.h"

namespace vardeko {

// The client of the remote ledger service. One per process, created at start-up and
// shared by the Host and the request workers; Call is safe to enter concurrently.
class ApiBridge final : public ServiceClient {
 public:
  // Validates the address (raising ApiFailure), opens the session store on the
  // platform's protection and files, and talks through the platform's HTTP engine.
  ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory);
  ApiBridge(std::string serviceBaseUrl, std::filesystem::path dataDirectory,
            SessionPlatform& sessionPlatform, HttpEngine& engine);
  ~ApiBridge() override;
  ApiBridge(const ApiBridge&) = delete;
  ApiBridge& operator=(const ApiBridge&) = delete;

  ServiceResult Call(std::string_view method, nlohmann::json& args) override;
  std::string ApiUrl() const override;
  bool IsPersistent() const override;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vardeko
