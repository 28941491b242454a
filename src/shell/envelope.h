#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "base/api_failure.h"
#include "base/secure_wipe.h"
#include "service/service_result.h"

// Envelopes of the page protocol. Serialised with the JSON library's default dump():
// compact, non-ASCII unescaped, members in ascending byte order.
namespace vardeko {

// {"data": data, "id": id, "ok": true}
nlohmann::json SuccessReply(const std::string& id, nlohmann::json data);

// The same serialised, around the compact text of a service reply passed on
// (ServiceResult::Text), written where the text lies; `data` is left holding nothing.
SecretString SuccessReplyText(const std::string& id, ServiceResult& data);

// {"error": {"code": ..., "message": ...}, "id": id, "ok": false}
nlohmann::json FailureReply(const std::string& id, const ApiFailure& failure);

// {"event": "close-requested"}: the user tries to close the window while the page is up.
nlohmann::json CloseRequestedEvent();

}  // namespace vardeko
