#include "shell/page_files.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "fakes/dispatcher_harness.h"
#include "fakes/temp_dir.h"
#include "shell/start_document.h"

namespace vardeko::testing {
namespace {

using Log = std::vector<std::string>;

struct Answer {
  BrowserResult result;
  std::string status;  // "200 OK", or empty when no response was made
  std::string headers;
  std::string body;
};

// The renderer folder of an installed program, with a file beside it that must never be
// served and links that lead out of the folder.
class PageFilesTest : public ::testing::Test {
 protected:
  PageFilesTest() {
    install.Write("renderer/index.html", "<!doctype html><title>账本</title>");
    install.Write("renderer/assets/app.js", "export {};");
    install.Write("renderer/assets/style.CSS", "body{}");
    install.Write("renderer/images/账本 图.png", "\x89PNG");
    install.Write("renderer/fonts/f.woff2", "wOF2");
    install.Write("renderer/data.bin", std::string(3, '\0'));
    install.Write("secret.txt", "the token");
    std::filesystem::create_symlink(install.path() / "secret.txt",
                                    install.path() / "renderer" / "link.txt");
    std::filesystem::create_directory_symlink(install.path(), install.path() / "renderer" / "up");
    std::filesystem::create_symlink("assets/app.js", install.path() / "renderer" / "inner.js");
    mkfifo((install.path() / "renderer" / "pipe.js").c_str(), 0600);
    harness.host.rendererDirectory = install.path() / "renderer";
    harness.host.environment = std::make_shared<RecordingEnvironment>(harness.browser);
  }

  Answer Get(std::u16string_view path, std::u16string method = u"GET") {
    harness.browser.lastResponseBody.clear();
    harness.browser.lastResponseHeaders.clear();
    RecordedResourceRequest request(harness.browser,
                                    u"https://app.vardeko.localhost" + std::u16string(path),
                                    std::move(method));
    const BrowserResult result = ServePageFile(harness.host, request);
    const Log log = harness.Log();
    Answer answer{result, "", WideToUtf8(harness.browser.lastResponseHeaders),
                  harness.browser.lastResponseBody};
    if (!log.empty()) {
      EXPECT_EQ(log.size(), 2u);
      EXPECT_EQ(log.back(), "args.setResponse");
      answer.status = log.front().substr(std::string("environment.createResponse ").size());
    }
    return answer;
  }

  DispatcherHarness harness;
  TempDir install;
};

TEST_F(PageFilesTest, FilesAreServedWithTheirTypeAndNoSniff) {
  struct Case {
    const char16_t* path;
    const char* type;
    std::string body;
  };
  for (const Case& served : {
           Case{u"/assets/app.js", "text/javascript; charset=utf-8", "export {};"},
           Case{u"/assets/app.js?v=2#top", "text/javascript; charset=utf-8", "export {};"},
           Case{u"/assets/style.CSS", "text/css; charset=utf-8", "body{}"},
           Case{u"/images/%E8%B4%A6%E6%9C%AC%20%E5%9B%BE.png", "image/png", "\x89PNG"},
           Case{u"/fonts/f.woff2", "font/woff2", "wOF2"},
           Case{u"/data.bin", "application/octet-stream", std::string(3, '\0')},
           Case{u"/inner.js", "text/javascript; charset=utf-8", "export {};"},  // link inside
       }) {
    const Answer answer = Get(served.path);
    EXPECT_EQ(answer.result, kBrowserOk) << WideToUtf8(served.path);
    EXPECT_EQ(answer.status, "200 OK") << WideToUtf8(served.path);
    EXPECT_EQ(answer.headers, std::string("Content-Type: ") + served.type +
                                  "\r\nX-Content-Type-Options: nosniff\r\n")
        << WideToUtf8(served.path);
    EXPECT_EQ(answer.body, served.body) << WideToUtf8(served.path);
  }
}

TEST_F(PageFilesTest, OnlyFilesInsideTheFolderAreEverServed) {
  for (const char16_t* refused : {
           u"/",
           u"/missing.js",
           u"/assets",
           u"/assets/",
           u"/pipe.js",
           u"/link.txt",
           u"/up/secret.txt",
           u"/../secret.txt",
           u"/%2e%2e/secret.txt",
           u"/assets/%2E%2E/..%2fsecret.txt",
           u"/./index.html",
           u"/assets//app.js",
           u"/assets%5capp.js",
           u"/assets\\app.js",
           u"/C:/secret.txt",
           u"/%2F%2Fserver/share/x",
           u"//server/share/x",
           u"/app.js%00.png",
           u"/app%0a.js",
           u"/file.txt::$DATA",
           u"/assets/app.js:stream",
           u"/CON",
           u"/con.js",
           u"/assets/Nul.txt",
           u"/AUX .css",
           u"/COM1.js",
           u"/lpt9",
           u"/COM%C2%B9.js",
           u"/CONOUT$",
           u"/app.js.",
           u"/app.js%20",
           u"/%zz.js",
           u"/%4",
           u"/%C3%28.js",
           u"/a<b.js",
           u"/a*.js",
           u"/账本.js",
           u"/a b.js",
       }) {
    const Answer answer = Get(refused);
    EXPECT_EQ(answer.result, kBrowserOk) << WideToUtf8(refused);
    EXPECT_EQ(answer.status, "404 Not Found") << WideToUtf8(refused);
    EXPECT_EQ(answer.headers, "X-Content-Type-Options: nosniff\r\n") << WideToUtf8(refused);
    EXPECT_EQ(answer.body, "") << WideToUtf8(refused);
  }
  // Another origin never reaches the folder either.
  RecordedResourceRequest other(harness.browser,
                                u"https://app.vardeko.localhost.evil/assets/app.js", u"GET");
  EXPECT_EQ(ServePageFile(harness.host, other), kBrowserOk);
  EXPECT_EQ(harness.Log(), (Log{"environment.createResponse 404 Not Found", "args.setResponse"}));
}

TEST_F(PageFilesTest, TheWebKitSchemeServesTheSameFolderAndNothingElse) {
  harness.host.pageOrigin = kWebKitPageOrigin.origin;
  struct Case {
    const char16_t* uri;
    const char* status;
  };
  for (const Case& c : {
           Case{u"vardeko://app/assets/app.js", "200 OK"},
           Case{u"vardeko://app/assets/app.js?v=1#x", "200 OK"},
           Case{u"https://app.vardeko.localhost/assets/app.js", "404 Not Found"},
           Case{u"vardeko://other/assets/app.js", "404 Not Found"},
           Case{u"vardeko://app.evil/assets/app.js", "404 Not Found"},
           Case{u"vardeko://app", "404 Not Found"},
           Case{u"vardeko://app/../secret.txt", "404 Not Found"},
       }) {
    harness.Log();
    RecordedResourceRequest request(harness.browser, c.uri, u"GET");
    EXPECT_EQ(ServePageFile(harness.host, request), kBrowserOk) << WideToUtf8(c.uri);
    EXPECT_EQ(harness.Log(),
              (Log{"environment.createResponse " + std::string(c.status), "args.setResponse"}))
        << WideToUtf8(c.uri);
  }
}

TEST_F(PageFilesTest, OtherMethodsLargeFilesAndTheStartDocument) {
  for (const char16_t* method : {u"POST", u"HEAD", u"get", u"PUT"}) {
    const Answer answer = Get(u"/assets/app.js", method);
    EXPECT_EQ(answer.status, "405 Method Not Allowed") << WideToUtf8(method);
    EXPECT_EQ(answer.headers, "Allow: GET\r\nX-Content-Type-Options: nosniff\r\n");
    EXPECT_EQ(answer.body, "");
  }
  EXPECT_EQ(Get(u"/index.html", u"POST").status, "405 Method Not Allowed");

  install.Write("renderer/big.wasm", std::string(kMaxPageFileBytes, 'w'));
  EXPECT_EQ(Get(u"/big.wasm").body.size(), kMaxPageFileBytes);
  install.Write("renderer/big.wasm", std::string(kMaxPageFileBytes + 1, 'w'));
  const Answer tooLarge = Get(u"/big.wasm");
  EXPECT_EQ(tooLarge.status, "500 File Too Large");
  EXPECT_EQ(tooLarge.headers, "X-Content-Type-Options: nosniff\r\n");
  EXPECT_EQ(tooLarge.body, "");

  // The start document keeps its own headers; one that cannot be read is a 500.
  const Answer start = Get(u"/index.html?x=1");
  EXPECT_EQ(start.status, "200 OK");
  EXPECT_EQ(start.headers, WideToUtf8(kStartDocumentHeaders));
  EXPECT_EQ(start.body, "<!doctype html><title>账本</title>");
  std::filesystem::remove(install.path() / "renderer" / "index.html");
  std::filesystem::create_symlink(install.path() / "secret.txt",
                                  install.path() / "renderer" / "index.html");
  const Answer outside = Get(u"/index.html");
  EXPECT_EQ(outside.result, kBrowserOk);
  EXPECT_EQ(outside.status, "500 Internal Server Error");
  EXPECT_EQ(outside.body, "");
}

TEST_F(PageFilesTest, ContentTypesFollowTheExtension) {
  for (const auto& [name, type] : std::vector<std::pair<std::string, std::string>>{
           {"a.html", "text/html; charset=utf-8"},
           {"a.htm", "text/html; charset=utf-8"},
           {"a.mjs", "text/javascript; charset=utf-8"},
           {"a.json", "application/json"},
           {"a.js.map", "application/json"},
           {"a.svg", "image/svg+xml"},
           {"a.JPG", "image/jpeg"},
           {"a.jpeg", "image/jpeg"},
           {"a.gif", "image/gif"},
           {"a.webp", "image/webp"},
           {"favicon.ico", "image/x-icon"},
           {"a.woff", "font/woff"},
           {"a.ttf", "font/ttf"},
           {"a.otf", "font/otf"},
           {"a.wasm", "application/wasm"},
           {"a.txt", "text/plain; charset=utf-8"},
           {"a.exe", "application/octet-stream"},
           {".js", "application/octet-stream"},
           {"js", "application/octet-stream"},
           {"dir.js/file", "application/octet-stream"},
       }) {
    EXPECT_EQ(ContentTypeOf(name), type) << name;
  }
}

}  // namespace
}  // namespace vardeko::testing
