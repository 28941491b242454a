#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "base/bounded_json.h"
#include "platform/page_channel.h"
#include "service/service_client.h"
#include "shell/host.h"

namespace vardeko {

// One service request on its way through a worker thread, which owns it. It holds no
// reference to the Host, so the request may outlive the window and the browser.
struct RequestJob {
  WindowHandle window;                           // where the reply is posted
  std::shared_ptr<ServiceClient> serviceClient;  // kept alive while the request runs
  std::shared_ptr<InFlightCounter> inFlight;     // the slot taken by the dispatcher
  std::string id;
  std::string method;
  WipedJson args;  // may hold a password: wiped with the job
};

// Runs the job on a new detached thread. Raises std::system_error when the thread
// cannot be created; the job is then destroyed unrun and its slot is the caller's to
// give back. UI thread (the dispatcher) only.
void StartRequestWorker(RequestJob job);

// The worker thread's body: calls the service, gives the slot back, then serialises
// the reply and posts it to the window. Never throws.
void RunRequestJob(RequestJob job) noexcept;

}  // namespace vardeko
