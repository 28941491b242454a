// Service replies through the transport. The first byte picks the engine's read size;
// then come the reply's header lines, read as the libcurl engine reads them, and the
// body. A scripted engine delivers that reply to the
// JSON request, the login flow, the image and upload flows, and each result or failure
// is serialised for the page as a worker does. Nothing may take the process down.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/api_failure.h"
#include "base/utf.h"
#include "fakes/fake_http_engine.h"
#include "fakes/memory_session_platform.h"
#include "service/api_bridge.h"
#include "service/http_header_lines.h"
#include "shell/envelope.h"

namespace {

using namespace vardeko;
using nlohmann::json;

constexpr std::string_view kRecordId = "0123abcd-89AB-cdef-0123-456789abcdef";

struct Harness {
  testing::FakeHttpEngine engine;
  testing::MemorySessionPlatform sessions;
  ApiBridge bridge{"https://api.example.test/api", "/fuzz-data", sessions, engine};
  json calls = json::array();
  json logIn;

  Harness() {
    const json credentials = {{"email", "a@b.c"}, {"password", "pw"}};
    logIn = json::array({"login", json::array({credentials})});
    const json shot = {{"name", "a.png"}, {"content_type", "image/png"}, {"data_base64", "QUJD"}};
    calls = json::array({json::array({"health", json::array()}), json::array({"me", json::array()}),
                         logIn, json::array({"matchImage", json::array({kRecordId})}),
                         json::array({"uploadMatch", json::array({shot})}),
                         json::array({"listOrders", json::array()})});
  }

  // As the request worker: the outcome becomes a reply envelope, serialised.
  void Run(const json& call) {
    json args = call[1];  // a method may take strings out of its arguments
    try {
      ServiceResult result = bridge.Call(call[0].get<std::string>(), args);
      if (result.isText()) {
        // What reaches the page is what the tree would have serialised to.
        const std::string expected = SuccessReply("r", result.ToJson()).dump();
        if (SuccessReplyText("r", result).view() != expected) std::abort();
      } else {
        static_cast<void>(SuccessReply("r", std::move(result.value())).dump());
      }
    } catch (const ApiFailure& failure) {
      static_cast<void>(FailureReply("r", failure).dump());
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  if (size == 0) return 0;
  // A logged-in session first (a fuzzed 401 clears it), so authenticated calls reach the
  // engine.
  testing::FakeHttpEngine::Reply& reply = h.engine.reply;
  reply = testing::FakeHttpEngine::Reply{};
  reply.body = R"({"token":"t0k-fuzz","user":{"id":1}})";
  h.Run(h.logIn);

  // Header lines until the final reply's block has ended, as libcurl hands them over;
  // what follows is the body.
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReplyHeaders headers;
  std::size_t bodyStart = 0;
  while (bodyStart < input.size() && !headers.complete) {
    const std::size_t newline = input.find('\n', bodyStart);
    const std::size_t end = newline == std::string_view::npos ? input.size() : newline + 1;
    TakeHeaderLine(headers, input.substr(bodyStart, end - bodyStart));
    bodyStart = end;
  }
  reply.status = headers.status;
  reply.contentType.reset();
  if (headers.contentType) {
    std::u16string type;
    if (utf::Utf8ToUtf16(*headers.contentType, type)) reply.contentType = std::move(type);
  }
  reply.announcedLength = headers.contentLength;
  reply.body = std::string(input.substr(bodyStart));
  reply.chunk = 1u << (data[0] % 16);

  for (const json& call : h.calls) h.Run(call);
  std::lock_guard lock(h.engine.mutex);
  h.engine.seen.clear();
  return 0;
}
