// The transport over the real Linux engine against the loopback test service.
#include <gtest/gtest.h>

#include <chrono>

#include "fakes/expect_failure.h"
#include "fakes/temp_dir.h"
#include "integration/test_server.h"
#include "service/http_transport.h"
#include "service/session_platform_posix.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

class CurlEngineTest : public ::testing::Test {
 protected:
  void LogIn(const std::string& token) {
    session.StoreToken(SecretString(token), session.AdvanceAuthGeneration());
  }

  TestServer server;
  TempDir home;
  TempDir data;
  SodiumSessionPlatform platform{home.path() / "key"};
  ServiceAddress address = ParseServiceAddress(server.Url());
  SessionStore session{platform, address.baseUrl, data.path()};
  HttpTransport transport{address, session, SystemHttpEngine()};
};

TEST_F(CurlEngineTest, HeadersAndBodyArriveAsSent) {
  LogIn("tok-abc");
  const json body = {{"title", "代练"}};
  const json echo = transport.Json(u"PATCH", "/echo?x=%20y", &body, true, 15000);
  EXPECT_EQ(echo["method"], "PATCH");
  EXPECT_EQ(echo["path"], "/echo?x=%20y");
  EXPECT_EQ(echo["body"], R"({"title":"代练"})");
  json names = json::array();
  for (const auto& header : echo["headers"]) names.push_back(header[0]);
  // Ours in order; nothing of curl's own but Host, User-Agent and Content-Length.
  EXPECT_EQ(names, json({"Host", "User-Agent", "Accept", "Authorization", "Content-Type",
                         "Content-Length"}));
  EXPECT_EQ(echo["headers"][1][1], "Vardeko/Native");
  EXPECT_EQ(echo["headers"][3][1], "Bearer tok-abc");
  EXPECT_EQ(echo["headers"][4][1], "application/json");

  const json get = transport.Json(u"GET", "/echo", nullptr, false, 15000);
  for (const auto& header : get["headers"]) {
    EXPECT_NE(header[0], "Authorization");
    EXPECT_NE(header[0], "Content-Type");
  }
}

// Where libcurl by itself would differ from WinHTTP.
TEST_F(CurlEngineTest, RepliesAreReadAsWinHttpReadsThem) {
  RawRequest request;
  request.verb = u"GET";
  request.path = "/two-content-types";
  EXPECT_EQ(transport.Raw(request).contentType, "image/webp");  // the first
  request.path = "/tabbed-content-type";
  EXPECT_EQ(transport.Raw(request).contentType, "image/png");  // blanks and tabs trimmed
  // A switch of protocols ends the exchange at once as a failed status; waiting for
  // the rest would end in TIMEOUT at the deadline.
  request.path = "/switching";
  request.timeoutMs = 60000;
  EXPECT_EQ(FailureOf([&] { transport.Raw(request); }), Text(failures::kApiError));
}

TEST_F(CurlEngineTest, HeaderWithAnEmptyValueIsSent) {
  RawRequest request;
  request.verb = u"POST";
  request.path = "/echo";
  request.body = "PNG";
  request.contentType = "image/png";
  request.extraHeaders = "X-File-Name: \r\nX-Order-Id: 1\r\n";
  const json echo = json::parse(transport.Raw(request).body.view());
  json sent = json::object();
  for (const auto& header : echo["headers"]) sent[header[0].get<std::string>()] = header[1];
  EXPECT_EQ(sent["X-File-Name"], "");
  EXPECT_EQ(sent["X-Order-Id"], "1");
  EXPECT_EQ(sent["Content-Type"], "image/png");
}

TEST_F(CurlEngineTest, RedirectIsNotFollowed) {
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/redirect", nullptr, false, 15000); }),
            Text(failures::kRedirect));
}

TEST_F(CurlEngineTest, CapsStatusesAndBodies) {
  RawRequest request;
  request.verb = u"GET";
  request.path = "/bytes/100000";
  request.cap = 100000;
  EXPECT_EQ(transport.Raw(request).body.size(), 100000u);
  EXPECT_EQ(transport.Raw(request).contentType, "application/octet-stream");
  request.cap = 99999;
  EXPECT_EQ(FailureOf([&] { transport.Raw(request); }), Text(failures::kResponseTooLarge));

  EXPECT_EQ(transport.Json(u"DELETE", "/nocontent", nullptr, false, 15000), json());
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/empty", nullptr, false, 15000); }),
            Text(failures::kInvalidResponse));
  EXPECT_EQ(FailureOf([&] {
              transport.Json(u"GET",
                             "/status/409?body=%7B%22error%22%3A%7B%22code%22%3A%22LOCKED%22%7D%7D",
                             nullptr, false, 15000);
            }),
            "LOCKED 服务请求失败，请稍后重试。");
}

TEST_F(CurlEngineTest, A401ClearsTheSession) {
  LogIn("tok");
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/status/401", nullptr, true, 15000); }),
            Text(failures::kApiError));
  EXPECT_TRUE(session.TakeSnapshot().token.empty());
}

TEST_F(CurlEngineTest, ServerThatNeverAnswersEndsInTimeoutAtTheDeadline) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/hang", nullptr, false, 800); }),
            Text(failures::kTimeout));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(750));
  EXPECT_LT(elapsed, std::chrono::milliseconds(3000));
}

TEST_F(CurlEngineTest, NothingListeningIsANetworkError) {
  const ServiceAddress closed = ParseServiceAddress("http://127.0.0.1:9/api");
  HttpTransport nowhere(closed, session, SystemHttpEngine());
  EXPECT_EQ(FailureOf([&] { nowhere.Json(u"GET", "/health", nullptr, false, 5000); }),
            Text(failures::kNetworkError));
}

}  // namespace
}  // namespace vardeko::testing
