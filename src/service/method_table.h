#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "service/http_transport.h"
#include "service/service_result.h"
#include "service/session_store.h"

namespace vardeko {

inline constexpr std::int32_t kDefaultTimeoutMs = 15000;
inline constexpr std::int32_t kLongTimeoutMs = 100000;

// What a service method works with: the transport and the session store.
struct MethodContext {
  HttpTransport& transport;
  SessionStore& session;
};

// Runs the service method `method` (matched byte for byte) with the page's arguments,
// which must already be an array; a method may take strings out of them (the
// screenshot's text is decoded where it lies). Raises INVALID_METHOD for a name not in
// the table.
ServiceResult RunServiceMethod(MethodContext& context, std::string_view method,
                               nlohmann::json& args);

}  // namespace vardeko
