// The transport over WinHTTP against the loopback test service, which ctest starts for
// this test and names in VARDEKO_TEST_SERVER_PORT_FILE.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "fakes/expect_failure.h"
#include "service/http_transport.h"
#include "service/session_platform.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

int ServerPort() {
  const char* file = std::getenv("VARDEKO_TEST_SERVER_PORT_FILE");
  if (file == nullptr) return 0;
  int port = 0;
  std::ifstream(file) >> port;
  return port;
}

class WinHttpEngineTest : public ::testing::Test {
 protected:
  WinHttpEngineTest() {
    if (port == 0) return;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    data = std::filesystem::path(temp) /
           (L"vardeko-winhttp-" + std::to_wstring(GetCurrentProcessId()));
    address = ParseServiceAddress("http://127.0.0.1:" + std::to_string(port));
    session = std::make_unique<SessionStore>(SystemSessionPlatform(), address.baseUrl, data);
    transport = std::make_unique<HttpTransport>(address, *session, SystemHttpEngine());
  }
  ~WinHttpEngineTest() override {
    transport.reset();
    session.reset();
    std::error_code ignored;
    std::filesystem::remove_all(data, ignored);
  }
  void SetUp() override {
    if (port == 0) GTEST_SKIP() << "no test server (VARDEKO_TEST_SERVER_PORT_FILE)";
  }
  void LogIn(const std::string& token) {
    session->StoreToken(SecretString(token), session->AdvanceAuthGeneration());
  }

  int port = ServerPort();
  std::filesystem::path data;
  ServiceAddress address;
  std::unique_ptr<SessionStore> session;
  std::unique_ptr<HttpTransport> transport;
};

TEST_F(WinHttpEngineTest, HeadersAndBodyArriveAsSent) {
  LogIn("tok-win");
  const json body = {{"title", "代练"}};
  const json echo = transport->Json(u"POST", "/echo?q=%E4%B8%AD", &body, true, 15000);
  EXPECT_EQ(echo["method"], "POST");
  EXPECT_EQ(echo["path"], "/echo?q=%E4%B8%AD");
  EXPECT_EQ(echo["body"], R"({"title":"代练"})");
  std::map<std::string, std::string> headers;
  for (const auto& header : echo["headers"]) headers[header[0]] = header[1];
  EXPECT_EQ(headers["Accept"], "application/json");
  EXPECT_EQ(headers["Authorization"], "Bearer tok-win");
  EXPECT_EQ(headers["Content-Type"], "application/json");
  EXPECT_EQ(headers["User-Agent"], "Vardeko/Native");
}

TEST_F(WinHttpEngineTest, RedirectCapsStatusesAndBodies) {
  EXPECT_EQ(FailureOf([&] { transport->Json(u"GET", "/redirect", nullptr, false, 15000); }),
            Text(failures::kRedirect));
  RawRequest request;
  request.verb = u"GET";
  request.path = "/bytes/100000";
  request.cap = 100000;
  const HttpResponse response = transport->Raw(request);
  EXPECT_EQ(response.body.size(), 100000u);
  EXPECT_EQ(response.contentType, "application/octet-stream");
  request.cap = 99999;
  EXPECT_EQ(FailureOf([&] { transport->Raw(request); }), Text(failures::kResponseTooLarge));
  EXPECT_EQ(transport->Json(u"DELETE", "/nocontent", nullptr, false, 15000), json());
  EXPECT_EQ(FailureOf([&] { transport->Json(u"GET", "/empty", nullptr, false, 15000); }),
            Text(failures::kInvalidResponse));
  EXPECT_EQ(FailureOf([&] { transport->Json(u"GET", "/missing", nullptr, false, 15000); }),
            "NOT_FOUND no such path");
}

TEST_F(WinHttpEngineTest, A401ClearsTheSession) {
  LogIn("tok");
  EXPECT_EQ(FailureOf([&] { transport->Json(u"GET", "/status/401", nullptr, true, 15000); }),
            Text(failures::kApiError));
  EXPECT_TRUE(session->TakeSnapshot().token.empty());
}

TEST_F(WinHttpEngineTest, ServerThatNeverAnswersEndsInTimeoutAtTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf([&] { transport->Json(u"GET", "/hang", nullptr, false, 800); }),
            Text(failures::kTimeout));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(750));
  EXPECT_LT(elapsed, std::chrono::milliseconds(5000));
}

TEST_F(WinHttpEngineTest, ARequestCanBeReadiedToGoOnWithoutAClientCertificate) {
  HttpTarget target;
  target.host = u"127.0.0.1";
  target.port = static_cast<std::uint16_t>(port);
  target.secure = true;  // a certificate is a matter of TLS only
  target.verb = u"GET";
  target.objectName = u"/echo";
  target.timeoutMs = 15000;
  target.connectTimeoutMs = kConnectTimeoutPerAddressMs;
  target.replyHeaderTimeoutMs = 15000 + kReplyHeaderMarginMs;
  target.addressFallback = true;
  std::unique_ptr<HttpRequest> request;
  ASSERT_EQ(SystemHttpEngine().Open(target, request), 0u);
  EXPECT_EQ(request->PrepareResend(kErrorClientCertificateNeeded), 0u);
  EXPECT_EQ(request->PrepareResend(kErrorResendRequest), 0u);
}

}  // namespace
}  // namespace vardeko::testing
