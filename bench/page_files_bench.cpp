// Serving page files on the UI thread: the start document and a 200 KiB script through
// the program's handler, with the real file platform (a warm page cache) and an
// environment that copies the body once, as the runtime's memory stream does.
#include <benchmark/benchmark.h>

#include <string>

#include "fakes/null_window_operations.h"
#include "fakes/temp_dir.h"
#include "shell/host.h"
#include "shell/page_files.h"

namespace vardeko::bench {
namespace {

class CopyingResponse final : public WebResourceResponse {
 public:
  explicit CopyingResponse(std::string_view body) : body_(body) {}

 private:
  std::string body_;
};

class CopyingEnvironment final : public BrowserEnvironment {
 public:
  BrowserResult CreateController(WindowHandle, ControllerCompleted) override { return kBrowserOk; }
  BrowserResult CreateWebResourceResponse(std::string_view body, int, std::u16string_view,
                                          std::u16string_view,
                                          std::unique_ptr<WebResourceResponse>& response) override {
    response = std::make_unique<CopyingResponse>(body);
    return kBrowserOk;
  }
};

class Get final : public WebResourceRequestedArgs {
 public:
  explicit Get(std::u16string uri) : uri_(std::move(uri)) {}
  std::optional<std::u16string> Uri() override { return uri_; }
  std::optional<std::u16string> Method() override { return u"GET"; }
  BrowserResult SetResponse(WebResourceResponse&) override { return kBrowserOk; }

 private:
  std::u16string uri_;
};

struct Folder {
  Folder() : host(window) {
    install.Write("renderer/index.html", std::string(5280, 'h'));  // the shipped page's size
    install.Write("renderer/assets/index-0123abcd.js", std::string(200 * 1024, 'j'));
    host.rendererDirectory = install.path() / "renderer";
    host.environment = std::make_shared<CopyingEnvironment>();
  }
  testing::TempDir install;
  testing::NullWindowOperations window;
  Host host;
};

void Serve(benchmark::State& state, const char16_t* uri, std::size_t bytes) {
  Folder folder;
  for (auto _ : state) {
    Get request(uri);
    if (Failed(ServePageFile(folder.host, request))) state.SkipWithError("not served");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_StartDocument(benchmark::State& state) {
  Serve(state, u"https://app.vardeko.localhost/index.html", 5280);
}
BENCHMARK(BM_StartDocument)->Unit(benchmark::kMicrosecond);

void BM_Script200KiB(benchmark::State& state) {
  Serve(state, u"https://app.vardeko.localhost/assets/index-0123abcd.js", 200 * 1024);
}
BENCHMARK(BM_Script200KiB)->Unit(benchmark::kMicrosecond);

void BM_RefusedPath(benchmark::State& state) {
  Serve(state, u"https://app.vardeko.localhost/assets/..%2F..%2Fsecret.txt", 0);
}
BENCHMARK(BM_RefusedPath)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vardeko::bench

BENCHMARK_MAIN();
