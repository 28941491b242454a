#include "shell/envelope.h"

#include <utility>

namespace vardeko {

nlohmann::json SuccessReply(const std::string& id, nlohmann::json data) {
  nlohmann::json reply = nlohmann::json::object();
  reply["data"] = std::move(data);
  reply["id"] = id;
  reply["ok"] = true;
  return reply;
}

nlohmann::json FailureReply(const std::string& id, const ApiFailure& failure) {
  nlohmann::json reply = nlohmann::json::object();
  reply["error"] = ErrorObject(failure);
  reply["id"] = id;
  reply["ok"] = false;
  return reply;
}

nlohmann::json CloseRequestedEvent() {
  nlohmann::json event = nlohmann::json::object();
  event["event"] = "close-requested";
  return event;
}

}  // namespace vardeko
