#include "shell/request_worker.h"

#include <optional>
#include <utility>

#include "base/api_failure.h"
#include "base/detached_thread.h"
#include "shell/envelope.h"

namespace vardeko {
namespace {

// Parsed JSON and our own texts always serialise; should a result still fail to (text
// that is not UTF-8), the page is told the call failed rather than left waiting. The
// text is written once at its size, so no outgrown copy of the reply is left unwiped.
SecretString SerialiseReply(const std::string& id, const nlohmann::json& reply) {
  try {
    return SerialiseSecret(reply);
  } catch (const nlohmann::json::exception&) {
    return SerialiseSecret(FailureReply(id, MakeFailure(failures::kInternalError)));
  }
}

// The reply's text. A service reply passed on as text is written around it.
std::optional<SecretString> BuildReply(RequestJob& job) noexcept {
  try {
    try {
      ServiceResult result = job.serviceClient->Call(job.method, job.args.get());
      if (result.isText()) return SuccessReplyText(job.id, result);
      return SerialiseReply(job.id, SuccessReply(job.id, std::move(result.value())));
    } catch (...) {
      return SerialiseReply(job.id, FailureReply(job.id, CurrentFailureAtWorker()));
    }
  } catch (...) {
    // Even the failure reply could not be built (memory ran out): the reply is lost.
    return std::nullopt;
  }
}

}  // namespace

void StartRequestWorker(RequestJob job) {
  StartDetachedThread([job = std::move(job)]() mutable { RunRequestJob(std::move(job)); });
}

void RunRequestJob(RequestJob job) noexcept {
  std::optional<SecretString> reply = BuildReply(job);

  // The slot is free from here, before the reply reaches the page, so a request sent in
  // reaction to this reply always finds it.
  job.inFlight->fetch_sub(1);

  if (!reply) return;
  try {
    PostedJson text(new std::string(std::move(reply->str())));
    PostJsonToWindow(job.window, std::move(text));  // on failure the text is freed there
  } catch (...) {
    // Memory ran out: the reply is lost and the process goes on.
  }
}

}  // namespace vardeko
