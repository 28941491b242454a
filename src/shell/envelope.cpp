#include "shell/envelope.h"

#include <utility>

#include "base/bounded_json.h"

namespace vardeko {

nlohmann::json SuccessReply(const std::string& id, nlohmann::json data) {
  nlohmann::json reply = nlohmann::json::object();
  reply["data"] = std::move(data);
  reply["id"] = id;
  reply["ok"] = true;
  return reply;
}

SecretString SuccessReplyText(const std::string& id, std::string_view data) {
  constexpr std::string_view kOpen = R"({"data":)";
  constexpr std::string_view kId = R"(,"id":)";
  constexpr std::string_view kClose = R"(,"ok":true})";
  const SecretString quotedId = SerialiseSecret(id);
  SecretString text;
  text.Reserve(kOpen.size() + data.size() + kId.size() + quotedId.size() + kClose.size());
  text.Append(kOpen);
  text.Append(data);
  text.Append(kId);
  text.Append(quotedId.view());
  text.Append(kClose);
  return text;
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
