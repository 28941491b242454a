#include "service/http_transport.h"

#include <gtest/gtest.h>

#include <chrono>

#include "base/bounded_json.h"
#include "fakes/expect_failure.h"
#include "fakes/fake_http_engine.h"
#include "fakes/temp_dir.h"
#include "service/session_platform_posix.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

class HttpTransportTest : public ::testing::TestWithParam<bool> {
 protected:
  HttpTransportTest() { engine.fromOtherThread = GetParam(); }

  void LogIn(const std::string& token) {
    session.StoreToken(SecretString(token), session.AdvanceAuthGeneration());
  }

  json Get(const std::string& path, bool authenticated = true) {
    return transport.Json(u"GET", path, nullptr, authenticated, 15000);
  }

  TempDir home;
  TempDir data;
  SodiumSessionPlatform platform{home.path() / "key"};
  ServiceAddress address = ParseServiceAddress("https://api.example.com/v1/");
  SessionStore session{platform, address.baseUrl, data.path()};
  FakeHttpEngine engine;
  HttpTransport transport{address, session, engine};
};

TEST_P(HttpTransportTest, NoTokenMeansUnauthorizedWithNothingOpened) {
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kUnauthorized));
  EXPECT_EQ(engine.opened, 0);
}

TEST_P(HttpTransportTest, HeaderBlockAndTargetAreByteExact) {
  LogIn("tok-123");
  engine.reply.body = R"({"ok":1})";
  const json body = {{"title", "代练"}, {"a", 1}};
  EXPECT_EQ(transport.Json(u"POST", "/orders?boss_id=x%20y", &body, true, 15000),
            json({{"ok", 1}}));
  ASSERT_EQ(engine.seen.size(), 1u);
  const auto& seen = engine.seen[0];
  EXPECT_EQ(seen.headers,
            "Accept: application/json\r\nAuthorization: Bearer tok-123\r\nContent-Type: "
            "application/json\r\n");
  EXPECT_EQ(seen.body, R"({"a":1,"title":"代练"})");
  EXPECT_EQ(seen.target.objectName, u"/v1/orders?boss_id=x%20y");
  EXPECT_EQ(seen.target.host, u"api.example.com");
  EXPECT_EQ(seen.target.port, 443);
  EXPECT_TRUE(seen.target.secure);
  EXPECT_EQ(seen.target.verb, u"POST");
  EXPECT_EQ(seen.target.timeoutMs, 15000);
  EXPECT_EQ(seen.target.replyHeaderTimeoutMs, 15000 + kReplyHeaderMarginMs);
  EXPECT_EQ(seen.target.connectTimeoutMs, kConnectTimeoutPerAddressMs);
  EXPECT_TRUE(seen.target.addressFallback);
  EXPECT_EQ(seen.sends, 1);
}

TEST_P(HttpTransportTest, UnauthenticatedRequestsCarryNoTokenAndExtraLinesComeLast) {
  LogIn("tok");
  engine.reply.body = "{}";
  RawRequest request;
  request.verb = u"POST";
  request.path = "/matches";
  request.body = "PNG";
  request.contentType = "image/png";
  request.extraHeaders = "X-File-Name: a.png\r\nX-Order-Id: 1\r\n";
  transport.Raw(request);
  EXPECT_EQ(engine.seen[0].headers,
            "Accept: application/json\r\nContent-Type: image/png\r\nX-File-Name: "
            "a.png\r\nX-Order-Id: 1\r\n");
  EXPECT_EQ(engine.seen[0].body, "PNG");
}

TEST_P(HttpTransportTest, RedirectFailsWithoutReadingTheBody) {
  LogIn("tok");
  engine.reply.status = 302;
  engine.reply.body = "moved";
  engine.failOn = kNotifyDataAvailable;  // the body must not be asked for
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kRedirect));
  engine.reply.status = 304;
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kRedirect));
}

TEST_P(HttpTransportTest, CapIsExactAtBothChecks) {
  LogIn("tok");
  RawRequest request;
  request.verb = u"GET";
  request.path = "/matches/x/image";
  request.authenticated = true;
  request.cap = 70000;
  engine.reply.body = std::string(70000, 'i');
  EXPECT_EQ(transport.Raw(request).body.size(), 70000u);
  engine.reply.body += 'i';
  EXPECT_EQ(FailureOf([&] { transport.Raw(request); }), Text(failures::kResponseTooLarge));
  // Announced small, read large: the read check catches it.
  engine.reply.chunk = 1000;
  request.cap = 999;
  engine.reply.body = std::string(999, 'i');
  EXPECT_EQ(transport.Raw(request).body.size(), 999u);
}

TEST_P(HttpTransportTest, ErrorBodiesAndStatuses) {
  LogIn("tok");
  const struct {
    std::uint32_t status;
    std::string body;
    std::string expected;
  } cases[] = {
      {409, R"({"error":{"code":"ORDER_LOCKED","message":"订单已锁定"}})",
       "ORDER_LOCKED 订单已锁定"},
      {400, R"({"error":{"code":"BAD"}})", "BAD 服务请求失败，请稍后重试。"},
      {400, R"({"error":{"code":7,"message":"m"}})", "API_ERROR m"},
      {500, "<html>oops</html>", Text(failures::kApiError)},
      {500, R"({"error":"text"})", Text(failures::kApiError)},
      {500, R"({"error":{"code":"X"}} trailing)", Text(failures::kApiError)},
      {199, "", Text(failures::kApiError)},
      // A proxy asking for a sign-in answers for the network, not the service.
      {407, R"({"error":{"code":"PROXY","message":"m"}})", Text(failures::kNetworkError)},
  };
  for (const auto& c : cases) {
    engine.reply.status = c.status;
    engine.reply.body = c.body;
    EXPECT_EQ(FailureOf([&] { Get("/me"); }), c.expected) << c.body;
  }
}

TEST_P(HttpTransportTest, EmptyBodyIsNotJsonButNoContentIsNull) {
  LogIn("tok");
  engine.reply.body = "";
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kInvalidResponse));
  engine.reply.status = 204;
  engine.reply.body = "ignored";
  EXPECT_EQ(Get("/me"), json());
  engine.reply.status = 200;
  engine.reply.body = "[1] [2]";
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kInvalidResponse));
}

TEST_P(HttpTransportTest, A401ClearsOnlyTheSessionItWasSentWith) {
  LogIn("old");
  const SessionSnapshot old = session.TakeSnapshot();
  LogIn("new");
  engine.reply.status = 401;
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/me", nullptr, true, 15000, &old); }),
            Text(failures::kApiError));
  EXPECT_EQ(session.TakeSnapshot().token.str(), "new");
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kApiError));
  EXPECT_TRUE(session.TakeSnapshot().token.empty());
  // Unauthenticated requests never clear it.
  LogIn("again");
  EXPECT_EQ(FailureOf([&] { Get("/health", false); }), Text(failures::kApiError));
  EXPECT_EQ(session.TakeSnapshot().token.str(), "again");
}

TEST_P(HttpTransportTest, EngineErrorsMapToTimeoutOrNetworkError) {
  LogIn("tok");
  engine.openError = 12007;
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kNetworkError));
  engine.openError = 0;
  engine.failOn = kNotifySendComplete;
  engine.failWith = 12002;
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kTimeout));
  engine.failOn = kNotifyReadComplete;
  engine.failWith = 12030;
  engine.reply.body = "{}";
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kNetworkError));
}

TEST_P(HttpTransportTest, ResendsOnTheSameRequestWhatTheEngineAsksForAndNoMore) {
  LogIn("tok");
  engine.reply.body = R"({"ok":1})";
  // A server asking for an optional client certificate: sent again without one.
  engine.script = {{kNotifySendComplete, kErrorClientCertificateNeeded}};
  EXPECT_EQ(Get("/me"), json({{"ok", 1}}));
  // The engine asking for a resend once the request went out.
  engine.script = {{kNotifyHeadersAvailable, kErrorResendRequest}};
  EXPECT_EQ(Get("/me"), json({{"ok", 1}}));
  ASSERT_EQ(engine.seen.size(), 2u);
  EXPECT_EQ(engine.seen[0].sends, 2);
  EXPECT_EQ(engine.seen[0].resends, std::vector<std::uint32_t>{kErrorClientCertificateNeeded});
  EXPECT_EQ(engine.seen[1].sends, 2);
  EXPECT_EQ(engine.seen[1].resends, std::vector<std::uint32_t>{kErrorResendRequest});
  EXPECT_EQ(engine.seen[1].headers, "Accept: application/json\r\nAuthorization: Bearer tok\r\n");

  // Asked for ever: a few resends, then the failure of any other engine error, long
  // before the deadline.
  engine.failOn = kNotifySendComplete;
  engine.failWith = kErrorClientCertificateNeeded;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureOf([&] { Get("/me"); }), Text(failures::kNetworkError));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(engine.seen.back().sends, 1 + kMaxResends);
  EXPECT_EQ(engine.opened, 3);  // one request per exchange, resent in place
}

// A request that may already have reached the service goes again only when that is
// harmless: no body, or a body the service books once by its idempotency key.
TEST_P(HttpTransportTest, ResendsOnlyWhatCannotBeBookedTwice) {
  LogIn("tok");
  const json plain = {{"title", "x"}};
  const json keyed = {{"idempotency_key", "k1"}, {"quantity", 1}};
  const struct {
    const char* name;
    std::uint32_t at;
    std::uint32_t error;
    const json* body;
    int sends;
  } cases[] = {
      {"certificate asked in the handshake, body", kNotifySendComplete,
       kErrorClientCertificateNeeded, &plain, 2},
      {"certificate asked after the send, body", kNotifyHeadersAvailable,
       kErrorClientCertificateNeeded, &plain, 1},
      {"certificate asked after the send, no body", kNotifyHeadersAvailable,
       kErrorClientCertificateNeeded, nullptr, 2},
      {"resend during the send, body", kNotifySendComplete, kErrorResendRequest, &plain, 1},
      {"resend after the send, body", kNotifyHeadersAvailable, kErrorResendRequest, &plain, 1},
      {"resend after the send, keyed body", kNotifyHeadersAvailable, kErrorResendRequest, &keyed,
       2},
      {"resend after the send, no body", kNotifyHeadersAvailable, kErrorResendRequest, nullptr, 2},
  };
  engine.reply.body = R"({"ok":1})";
  for (const auto& c : cases) {
    engine.script = {{c.at, c.error}};
    const std::string outcome = FailureOf([&] {
      EXPECT_EQ(transport.Json(u"POST", "/x", c.body, true, 15000), json({{"ok", 1}}));
    });
    EXPECT_EQ(outcome, c.sends == 2 ? "<passed>" : Text(failures::kNetworkError)) << c.name;
    EXPECT_EQ(engine.seen.back().sends, c.sends) << c.name;
  }
}

TEST_P(HttpTransportTest, NoResendOnceTheDeadlineHasPassed) {
  LogIn("tok");
  engine.failOn = kNotifySendComplete;
  engine.failWith = kErrorResendRequest;
  engine.reply.body = "{}";
  // A zero time-out: the first answer already comes at the deadline.
  const std::string failure = FailureOf([&] { transport.Json(u"GET", "/me", nullptr, true, 0); });
  EXPECT_TRUE(failure == Text(failures::kNetworkError) || failure == Text(failures::kTimeout))
      << failure;
  EXPECT_EQ(engine.seen[0].sends, 1);
}

TEST_P(HttpTransportTest, DeadlineEndsAHangingBodyAndTheStateOutlivesTheCaller) {
  LogIn("tok");
  engine.reply.body = std::string(100000, 'x');
  engine.reply.chunk = 40000;
  engine.neverDeliver = kNotifyReadComplete;
  engine.deferClosing = true;
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/me", nullptr, true, 50); }),
            Text(failures::kTimeout));
  EXPECT_EQ(engine.closed, 1);
  // The read completes after the caller left, then the handle closes: AddressSanitizer
  // sees any use of a freed exchange here.
  engine.FinishClosing();
  engine.JoinThreads();
}

TEST_P(HttpTransportTest, RepliesAndErrorBodiesNestedPastTheBoundAreUnreadable) {
  LogIn("tok");
  const auto nested = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  engine.reply.body = nested(kMaxJsonDepth);
  EXPECT_EQ(Get("/health").dump(), nested(kMaxJsonDepth));
  engine.reply.body = nested(kMaxJsonDepth + 1);
  EXPECT_EQ(FailureOf([&] { Get("/health"); }), Text(failures::kInvalidResponse));
  // The error object and a member nested to the bound: four levels are the body's own.
  const std::string error = R"({"error":{"code":"LOCKED","message":"m"},"x":)";
  engine.reply.status = 409;
  engine.reply.body = error + nested(kMaxJsonDepth - 1) + "}";
  EXPECT_EQ(FailureOf([&] { Get("/orders"); }), "LOCKED m");
  engine.reply.body = error + nested(kMaxJsonDepth) + "}";
  EXPECT_EQ(FailureOf([&] { Get("/orders"); }), Text(failures::kApiError));
}

TEST_P(HttpTransportTest, AnnouncedLengthReservesLittleAndGrowthStopsAtTheCap) {
  LogIn("tok");
  RawRequest request;
  request.verb = u"GET";
  request.path = "/matches/x/image";
  request.cap = 70000;
  engine.reply.body = "{}";
  engine.reply.announcedLength = kJsonReplyCap;
  EXPECT_LE(transport.Raw(request).body.str().capacity(), kReplyReserveBytes);
  // Announced as nothing, then the whole cap arrives in small reads.
  engine.reply.body = std::string(70000, 'i');
  engine.reply.announcedLength = 0;
  engine.reply.chunk = 1000;
  const HttpResponse response = transport.Raw(request);
  EXPECT_EQ(response.body.view(), engine.reply.body);
  EXPECT_LE(response.body.str().capacity(), 70000u);
}

TEST_P(HttpTransportTest, BodyIsTakenOverAndTheReplyReadInTheStepsTheEngineOffers) {
  LogIn("tok");
  SecretString image(std::string(3 << 20, 'p'));
  RawRequest request;
  request.verb = u"POST";
  request.path = "/matches";
  request.takeBody = &image;
  request.authenticated = true;
  // Three steps where the engine has a mebibyte at a time, not 96 of 32 KiB.
  engine.reply.body = std::string(3 << 20, 'r');
  engine.reply.chunk = 1 << 20;
  engine.reply.announcedLength = 0;
  const HttpResponse response = transport.Raw(request);
  EXPECT_EQ(response.body.view(), engine.reply.body);
  EXPECT_EQ(engine.reads, 3);
  EXPECT_TRUE(image.empty());
  ASSERT_EQ(engine.seen.size(), 1u);
  EXPECT_EQ(engine.seen[0].body, std::string(3 << 20, 'p'));
}

TEST_P(HttpTransportTest, EngineReportsAreNotTrustedBeyondReason) {
  LogIn("tok");
  // A request error carrying no number is an error now, not a wait until the deadline
  // (which would end in TIMEOUT).
  engine.failOn = kNotifyHeadersAvailable;
  engine.failWith = 0;
  EXPECT_EQ(FailureOf([&] { transport.Json(u"GET", "/me", nullptr, true, 600000); }),
            Text(failures::kNetworkError));
  // Reads reported larger than the buffer count only the buffer: AddressSanitizer sees
  // any read past it.
  engine.failOn = 0;
  engine.reply.body = std::string(70000, 'r');
  engine.reply.overstateReads = 100000;
  RawRequest request;
  request.verb = u"GET";
  request.path = "/matches/x/image";
  const HttpResponse response = transport.Raw(request);
  EXPECT_EQ(response.body.size(), 3u * kReadChunkBytes);
  EXPECT_EQ(response.body.view().substr(0, 70000), engine.reply.body);
}

INSTANTIATE_TEST_SUITE_P(Delivery, HttpTransportTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& delivery) {
                           return delivery.param ? "OtherThread" : "Inline";
                         });

}  // namespace
}  // namespace vardeko::testing
