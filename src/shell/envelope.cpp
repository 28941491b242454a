#include "shell/envelope.h"

#include <utility>

#include "base/bounded_json.h"
#include "shell/dispatcher.h"

namespace vardeko {

nlohmann::json SuccessReply(const std::string& id, nlohmann::json data) {
  nlohmann::json reply = nlohmann::json::object();
  reply["data"] = std::move(data);
  reply["id"] = id;
  reply["ok"] = true;
  return reply;
}

SecretString SuccessReplyText(const std::string& id, ServiceResult& data) {
  constexpr std::string_view kOpen = R"({"data":)";
  constexpr std::string_view kId = R"(,"id":)";
  constexpr std::string_view kClose = R"(,"ok":true})";
  static_assert(kOpen.size() == ServiceResult::kTextRoomBefore);
  // An id escapes to at most six bytes a byte.
  static_assert(kId.size() + 2 + 6 * kMaxIdBytes + kClose.size() <= ServiceResult::kTextRoomAfter);
  const SecretString quotedId = SerialiseSecret(id);
  SecretString text = data.TakeBuffer();
  kOpen.copy(text.str().data(), kOpen.size());
  // Within the room kept after the text for an id of up to 128 bytes: no growth.
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
