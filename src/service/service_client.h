#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "service/service_result.h"

namespace vardeko {

// What the page bridge needs of the service client (ApiBridge). The bridge depends on
// this and not on the client, so it knows nothing of HTTP.
class ServiceClient {
 public:
  virtual ~ServiceClient() = default;

  // Runs one service method with the page's positional arguments and returns its
  // result, or raises ApiFailure. The method may take strings out of `args` (a
  // screenshot is decoded where its text lies). Safe to enter from several worker
  // threads at once.
  virtual ServiceResult Call(std::string_view method, nlohmann::json& args) = 0;

  // The service base URL in use, as normalised.
  virtual std::string ApiUrl() const = 0;

  // Whether the login survives a restart (it is kept in the protected session file).
  virtual bool IsPersistent() const = 0;
};

}  // namespace vardeko
