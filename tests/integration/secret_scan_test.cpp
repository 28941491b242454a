// Secrets leave no copies: after a login, an authenticated screenshot upload and a
// record create, run from page messages through the dispatcher, the request workers,
// the service client and the real libcurl engine against the loopback test service, no
// block freed on the way still holds the token or the password.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "base/utf.h"
#include "fakes/fake_browser.h"
#include "fakes/heap_watch.h"
#include "fakes/null_window_operations.h"
#include "fakes/stub_browser_view.h"
#include "fakes/temp_dir.h"
#include "integration/test_server.h"
#include "platform/ui_event_queue_posix.h"
#include "service/api_bridge.h"
#include "service/http_transport.h"
#include "service/screenshot.h"
#include "service/session_platform_posix.h"
#include "shell/dispatcher.h"

namespace vardeko::testing {
namespace {

using nlohmann::json;

// The text the browser hands over for a message the page posts.
std::u16string Page(const json& message) { return Utf8ToWide(message.dump()); }

class SecretScanTest : public ::testing::Test {
 protected:
  SecretScanTest() {
    host.window = queue.window();
    host.webview = std::make_unique<StubBrowserView>(
        [this](std::u16string_view text) { replies.push_back(json::parse(WideToUtf8(text))); });
    host.serviceClient =
        std::make_shared<ApiBridge>(server.Url("/api"), data.path(), platform, SystemHttpEngine());
  }

  // Scripts the test service's answers, before any scan starts.
  void Script(const json& routes) {
    TempDir scratchData;
    const ServiceAddress address = ParseServiceAddress(server.Url());
    SessionStore session(platform, address.baseUrl, scratchData.path());
    HttpTransport transport(address, session, SystemHttpEngine());
    const json body = {{"routes", routes}};
    transport.Json(u"POST", "/__script", &body, false, 15000);
  }

  // Posts one page message (the browser's text, made before the scan) and waits for its
  // reply from the worker.
  json Request(const std::u16string& text) {
    WebMessageView posted(host.startUrl, text);
    HandleWebMessage(host, posted);
    std::optional<UiEventQueue::Event> event = queue.Take(std::chrono::seconds(60));
    if (!event || event->message != WM_APP_POST_JSON) return "no reply";
    DeliverPostedJson(host, std::move(event->json));
    return replies.back();
  }

  TestServer server;
  TempDir home;
  TempDir data;
  SodiumSessionPlatform platform{home.path() / "key"};
  NullWindowOperations window;
  UiEventQueue queue;
  Host host{window};
  std::vector<json> replies;
};

TEST_F(SecretScanTest, NoFreedBlockHoldsTheTokenOrThePassword) {
  // Long enough to outgrow every buffer they pass through, and unlike anything else.
  std::string token = "tok-";
  std::string password = "pw-";
  for (int i = 0; i < 300; ++i) {
    token += static_cast<char>('A' + i % 26);
    password += static_cast<char>('a' + i * 7 % 26);
  }
  const std::string image(300000, '\x89');
  Script(json::array({
      {{"method", "POST"},
       {"path", "/api/auth/login"},
       {"status", 200},
       {"body", json({{"token", token}, {"user", {{"id", 1}}}}).dump()}},
      {{"method", "POST"}, {"path", "/api/matches"}, {"status", 200}, {"body", R"({"id":"m"})"}},
      {{"method", "POST"}, {"path", "/api/bosses"}, {"status", 201}, {"body", R"({"id":"b"})"}},
  }));
  const std::u16string login = Page(
      {{"id", "1"}, {"method", "login"}, {"args", {{{"email", "a@b.c"}, {"password", password}}}}});
  const std::u16string upload = Page({{"id", "2"},
                                      {"method", "uploadMatch"},
                                      {"args",
                                       {{{"name", "截图.png"},
                                         {"content_type", "image/png"},
                                         {"data_base64", EncodeBase64(image)}}}}});
  const std::u16string boss = Page({{"id", "3"},
                                    {"method", "createBoss"},
                                    {"args",
                                     {{{"display_name", "老板"},
                                       {"game_id", "g"},
                                       {"game_name", "n"},
                                       {"notes", std::string(3000, 'n')}}}}});

  // The scanner sees what it is looking for (its own copies are made before it starts).
  const std::vector<std::string> secrets{token, password};
  const std::string* probe = new std::string("<" + token + ">");
  HeapWatch::StartScan(secrets);
  delete probe;
  EXPECT_EQ(HeapWatch::StopScan(), (std::vector<std::size_t>{1, 0}));

  HeapWatch::StartScan(secrets);
  EXPECT_EQ(Request(login)["ok"], true);
  EXPECT_EQ(Request(upload)["ok"], true);
  EXPECT_EQ(Request(boss)["ok"], true);
  // Workers and transfers end after their replies: wait for the service client's last
  // other owner, then let the transfer threads finish their clean-up.
  while (host.serviceClient.use_count() > 1)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  host.serviceClient.reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::size_t scanned = 0;
  const std::vector<std::size_t> hits = HeapWatch::StopScan(&scanned);
  EXPECT_GT(scanned, 100u);
  EXPECT_EQ(hits, (std::vector<std::size_t>{0, 0}))
      << "freed blocks holding the token, the password";
  std::printf("freed blocks searched: %zu; holding the token: %zu, the password: %zu\n", scanned,
              hits[0], hits[1]);
}

}  // namespace
}  // namespace vardeko::testing
