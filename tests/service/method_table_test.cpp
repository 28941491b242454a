#include "service/method_table.h"

#include <gtest/gtest.h>

#include "fakes/expect_failure.h"
#include "fakes/fake_http_engine.h"
#include "fakes/temp_dir.h"
#include "service/api_bridge.h"
#include "service/session_platform_posix.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

constexpr char kA[] = "0123abcd-89AB-cdef-0123-456789abcdef";
constexpr char kB[] = "fedcba98-7654-3210-FEDC-ba9876543210";

json Boss() {
  return {{"display_name", "老板"}, {"game_id", "g"}, {"game_name", "n"}, {"notes", ""}};
}
json Order() {
  return {{"title", "t"},
          {"note", ""},
          {"kind", "hourly"},
          {"target_quantity", 1},
          {"failure_default_quantity", 0},
          {"foo", "kept"}};
}
json Template() {
  json record = Order();
  record["name"] = "模板";
  return record;
}
json Match() {
  return {{"player_name", "p"}, {"note", ""},        {"outcome", "success"},
          {"confirmed", true},  {"amount", nullptr}, {"played_at", nullptr}};
}
json Entry() {
  return {{"kind", "progress"},
          {"quantity", 1},
          {"note", ""},
          {"occurred_at", nullptr},
          {"idempotency_key", kB}};
}

class MethodTableTest : public ::testing::Test {
 protected:
  MethodTableTest() { engine.reply.body = R"({"ok":true})"; }

  // On a copy: a method may take strings out of its arguments.
  json Call(std::string_view method, const json& args) {
    json taken = args;
    return bridge.Call(method, taken).ToJson();
  }
  void LogIn() {
    engine.reply.body = R"({"token":"tok-1","user":{"id":1}})";
    Call("login", json::array({{{"email", "a@b.c"}, {"password", "p"}}}));
    engine.reply.body = R"({"ok":true})";
    engine.seen.clear();
  }

  TempDir home;
  TempDir data;
  SodiumSessionPlatform platform{home.path() / "key"};
  FakeHttpEngine engine;
  ApiBridge bridge{"https://api.example.com/api", data.path(), platform, engine};
};

TEST_F(MethodTableTest, EveryMethodReachesItsEndpoint) {
  LogIn();
  const std::string auth = "Accept: application/json\r\nAuthorization: Bearer tok-1\r\n";
  const std::string authJson = auth + "Content-Type: application/json\r\n";
  const struct {
    const char* method;
    json args;
    const char* verb;
    std::string object;
    std::string body;
    std::int32_t timeout;
  } cases[] = {
      {"me", json::array(), "GET", "/api/me", "", 15000},
      {"listMatches", json::array(), "GET", "/api/matches?page=1&page_size=20", "", 15000},
      {"listMatches",
       {2, 50, nullptr, false},
       "GET",
       "/api/matches?page=2&page_size=50&confirmed=false",
       "",
       15000},
      {"listMatches",
       {nullptr, nullptr, "", true},
       "GET",
       "/api/matches?page=1&page_size=20&confirmed=true",
       "",
       15000},
      {"listMatches",
       {1, 5, kA},
       "GET",
       std::string("/api/matches?page=1&page_size=5&order_id=") + kA,
       "",
       15000},
      {"matchStats", json::array(), "GET", "/api/matches/stats", "", 15000},
      {"matchStats", {kA}, "GET", std::string("/api/matches/stats?order_id=") + kA, "", 15000},
      {"matchSettings", json::array(), "GET", "/api/matches/settings", "", 15000},
      {"updateMatchSettings",
       {{{"boss_id", ""}, {"boss_player_name", "x"}}},
       "PATCH",
       "/api/matches/settings",
       R"({"boss_id":"","boss_player_name":"x"})",
       15000},
      {"getMatch", {kA}, "GET", std::string("/api/matches/") + kA, "", 15000},
      {"deleteMatch", {kA}, "DELETE", std::string("/api/matches/") + kA, "", 15000},
      {"recognizeMatch",
       {kA},
       "POST",
       std::string("/api/matches/") + kA + "/recognize",
       "",
       100000},
      {"updateMatch",
       {kA, Match()},
       "PATCH",
       std::string("/api/matches/") + kA,
       Match().dump(),
       15000},
      {"listBosses", json::array(), "GET", "/api/bosses?q=", "", 15000},
      {"listBosses", {"老 板"}, "GET", "/api/bosses?q=%E8%80%81%20%E6%9D%BF", "", 15000},
      {"getBoss", {kA}, "GET", std::string("/api/bosses/") + kA, "", 15000},
      {"createBoss", json::array({Boss()}), "POST", "/api/bosses", Boss().dump(), 15000},
      {"updateBoss", {kA, Boss()}, "PATCH", std::string("/api/bosses/") + kA, Boss().dump(), 15000},
      {"listOrders", json::array(), "GET", "/api/orders", "", 15000},
      {"listOrders", {kA}, "GET", std::string("/api/orders?boss_id=") + kA, "", 15000},
      {"getOrder", {kA}, "GET", std::string("/api/orders/") + kA, "", 15000},
      {"createOrder",
       {kA, Order()},
       "POST",
       std::string("/api/bosses/") + kA + "/orders",
       Order().dump(),
       15000},
      {"updateOrder",
       {kA, Order()},
       "PATCH",
       std::string("/api/orders/") + kA,
       Order().dump(),
       15000},
      {"listOrderTemplates", json::array(), "GET", "/api/order-templates", "", 15000},
      {"createOrderTemplate", json::array({Template()}), "POST", "/api/order-templates",
       Template().dump(), 15000},
      {"updateOrderTemplate",
       {kA, Template()},
       "PATCH",
       std::string("/api/order-templates/") + kA,
       Template().dump(),
       15000},
      {"deleteOrderTemplate", {kA}, "DELETE", std::string("/api/order-templates/") + kA, "", 15000},
      {"listCatalog", json::array(), "GET", "/api/catalog/items?q=&category=&page=1&page_size=40",
       "", 15000},
      {"listCatalog",
       {{{"q", "剑"}, {"category", "a b"}, {"page", 2}}},
       "GET",
       "/api/catalog/items?q=%E5%89%91&category=a%20b&page=2&page_size=40",
       "",
       15000},
      {"listLedgerEntries",
       {kA},
       "GET",
       std::string("/api/orders/") + kA + "/entries?page=1&page_size=20",
       "",
       15000},
      {"addLedgerEntry",
       {kA, Entry()},
       "POST",
       std::string("/api/orders/") + kA + "/entries",
       Entry().dump(),
       15000},
      {"deleteLedgerEntry",
       {kA, kB},
       "DELETE",
       std::string("/api/orders/") + kA + "/entries/" + kB,
       "",
       15000},
  };
  for (const auto& c : cases) {
    engine.seen.clear();
    EXPECT_EQ(Call(c.method, c.args), json({{"ok", true}})) << c.method;
    ASSERT_EQ(engine.seen.size(), 1u) << c.method;
    const auto& seen = engine.seen[0];
    EXPECT_EQ(WideToUtf8(seen.target.verb), c.verb) << c.method;
    EXPECT_EQ(WideToUtf8(seen.target.objectName), c.object) << c.method;
    EXPECT_EQ(seen.body, c.body) << c.method;
    EXPECT_EQ(seen.headers, c.body.empty() ? auth : authJson) << c.method;
    EXPECT_EQ(seen.target.timeoutMs, c.timeout) << c.method;
    // The reply's headers may take the whole time-out, not WinHTTP's 90 s.
    EXPECT_EQ(seen.target.replyHeaderTimeoutMs, c.timeout + kReplyHeaderMarginMs) << c.method;
  }
}

TEST_F(MethodTableTest, HealthIsUnauthenticatedAndCountsItsArguments) {
  LogIn();
  EXPECT_EQ(Call("health", json::array()), json({{"ok", true}}));
  EXPECT_EQ(engine.seen[0].headers, "Accept: application/json\r\n");
  EXPECT_EQ(WideToUtf8(engine.seen[0].target.objectName), "/api/health");
  engine.seen.clear();
  EXPECT_EQ(FailureOf([&] { Call("health", {1}); }), Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] { Call("nope", json::object()); }), Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] { Call("Health", json::array()); }), Text(failures::kInvalidMethod));
  EXPECT_EQ(FailureOf([&] { Call("health ", json::array()); }), Text(failures::kInvalidMethod));
  EXPECT_TRUE(engine.seen.empty());
}

TEST_F(MethodTableTest, FailedChecksSendNothingAndKeepTheirOrder) {
  LogIn();
  EXPECT_EQ(FailureOf([&] {
              Call("listMatches", {1, 20, nullptr, "yes"});
            }),
            Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] { Call("getBoss", json::array()); }), Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] { Call("getBoss", {"x"}); }), Text(failures::kInvalidRecordId));
  // deleteLedgerEntry checks the entry id first; listLedgerEntries the page query first.
  EXPECT_EQ(FailureOf([&] {
              Call("deleteLedgerEntry", {"bad", 5});
            }),
            Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] {
              Call("listLedgerEntries", {"bad", 0});
            }),
            Text(failures::kCountOutOfRange));
  EXPECT_EQ(FailureOf([&] { Call("createOrderTemplate", json::array({Order()})); }),
            Text(failures::kInvalidInput));
  EXPECT_EQ(FailureOf([&] { Call("listBosses", {std::string(201, 'q')}); }),
            Text(failures::kTextTooLong));
  EXPECT_TRUE(engine.seen.empty());
}

TEST_F(MethodTableTest, LoginStoresTheTokenAndReturnsOnlyTheUser) {
  engine.reply.body = R"({"token":"tok-1","user":{"id":7,"name":"运营"},"extra":1})";
  const json credentials = {{"email", "a@b.c"}, {"password", "秘密"}};
  const json user = Call("login", json::array({credentials}));
  EXPECT_EQ(user, json({{"id", 7}, {"name", "运营"}}));
  EXPECT_EQ(user.dump().find("tok-1"), std::string::npos);
  EXPECT_EQ(engine.seen[0].headers,
            "Accept: application/json\r\nContent-Type: application/json\r\n");
  EXPECT_EQ(engine.seen[0].body, credentials.dump());
  EXPECT_EQ(WideToUtf8(engine.seen[0].target.objectName), "/api/auth/login");
  Call("me", json::array());
  EXPECT_NE(engine.seen[1].headers.find("Authorization: Bearer tok-1"), std::string::npos);

  Call("register", json::array({credentials}));
  EXPECT_EQ(WideToUtf8(engine.seen[2].target.objectName), "/api/auth/register");
}

TEST_F(MethodTableTest, LoginRefusesMalformedRepliesAndTokens) {
  const json credentials = {{"email", "a@b.c"}, {"password", "p"}};
  for (const std::string& reply :
       {std::string(R"({"token":"has space","user":{}})"),
        std::string(R"({"token":"t","user":[]})"), std::string(R"({"user":{}})"),
        std::string(R"({"token":7,"user":{}})"), std::string("[]"),
        R"({"token":")" + std::string(16385, 't') + R"(","user":{}})"}) {
    engine.reply.body = reply;
    EXPECT_EQ(FailureOf([&] { Call("login", json::array({credentials})); }),
              Text(failures::kInvalidLoginResult));
  }
  EXPECT_EQ(FailureOf([&] { Call("me", json::array()); }), Text(failures::kUnauthorized));
  engine.reply.body = R"({"token":")" + std::string(16384, '~') + R"(","user":{}})";
  EXPECT_EQ(Call("login", json::array({credentials})), json::object());
}

TEST_F(MethodTableTest, LogoutSendsTheSnapshotTokenThenClears) {
  engine.seen.clear();
  EXPECT_EQ(Call("logout", json::array()), json());
  EXPECT_TRUE(engine.seen.empty());  // no token, no request

  LogIn();
  engine.reply.status = 204;
  EXPECT_EQ(Call("logout", json::array()), json());
  ASSERT_EQ(engine.seen.size(), 1u);
  EXPECT_EQ(WideToUtf8(engine.seen[0].target.objectName), "/api/auth/logout");
  EXPECT_EQ(engine.seen[0].headers, "Accept: application/json\r\nAuthorization: Bearer tok-1\r\n");
  EXPECT_EQ(FailureOf([&] { Call("me", json::array()); }), Text(failures::kUnauthorized));
}

TEST_F(MethodTableTest, ImageFlowChecksTheServedMediaType) {
  LogIn();
  engine.reply.body = "ABC";
  engine.reply.contentType = std::nullopt;
  EXPECT_EQ(Call("matchImage", {kA}),
            json({{"content_type", "image/png"}, {"data_base64", "QUJD"}}));
  EXPECT_EQ(WideToUtf8(engine.seen[0].target.objectName),
            std::string("/api/matches/") + kA + "/image");
  engine.reply.contentType = u"image/webp";
  EXPECT_EQ(Call("matchImage", {kA})["content_type"], "image/webp");
  for (const char16_t* bad : {u"image/png; q=1", u"Image/PNG", u"image/gif"}) {
    engine.reply.contentType = std::u16string(bad);
    EXPECT_EQ(FailureOf([&] { Call("matchImage", {kA}); }), Text(failures::kServedImageType));
  }
  engine.reply.contentType = u"image/png";
  engine.reply.body = std::string(12582913, 'i');
  EXPECT_EQ(FailureOf([&] { Call("matchImage", {kA}); }), Text(failures::kResponseTooLarge));
}

TEST_F(MethodTableTest, UploadSendsTheDecodedBytesWithItsHeaderLines) {
  LogIn();
  engine.reply.body = R"({"id":"m1"})";
  const json record = {{"name", "截图 1.png"},
                       {"content_type", "image/png"},
                       {"data_base64", "QUJD"},
                       {"order_id", kA}};
  EXPECT_EQ(Call("uploadMatch", json::array({record})), json({{"id", "m1"}}));
  const auto& seen = engine.seen[0];
  EXPECT_EQ(WideToUtf8(seen.target.objectName), "/api/matches");
  EXPECT_EQ(seen.body, "ABC");
  EXPECT_EQ(seen.target.timeoutMs, 100000);
  EXPECT_EQ(seen.target.replyHeaderTimeoutMs, 100000 + kReplyHeaderMarginMs);
  EXPECT_EQ(seen.headers,
            std::string("Accept: application/json\r\nAuthorization: Bearer tok-1\r\n"
                        "Content-Type: image/png\r\nX-File-Name: %E6%88%AA%E5%9B%BE%201.png\r\n"
                        "X-Order-Id: ") +
                kA + "\r\n");
  engine.reply.body = "";
  EXPECT_EQ(FailureOf([&] { Call("uploadMatch", json::array({record})); }),
            Text(failures::kInvalidResponse));
}

TEST_F(MethodTableTest, NoContentGivesNull) {
  LogIn();
  engine.reply.status = 204;
  EXPECT_EQ(Call("deleteMatch", {kA}), json());
}

}  // namespace
}  // namespace vardeko::testing
