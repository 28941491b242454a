// vardeko-bridge end to end against a loopback service written for the purpose (it
// reads and discards, or answers a prepared body, so it is not the limit), side by side
// in the same run with a curl process doing the same exchange and with a plain JSON
// parse of the same reply. Uploads of 1, 4 and 12 MiB (uploadMatch) and replies of 1, 8
// and 32 MiB (health) go from the message line to the reply line. An appInfo posted
// right behind each upload shows how long the UI thread was held. Peaks are the
// bridge's resident memory above what it held when idle after its login, line and
// replies included. VARDEKO_BRIDGE in the environment runs another build of the bridge.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "service/screenshot.h"

namespace vardeko::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kMiB = 1024 * 1024;

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Resident memory of a process: the peak is restarted from the current use.
std::size_t StatusKiB(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field)));
  }
  return 0;
}
void ResetPeak(pid_t pid) { std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5"; }

// A bridge whose service base path names the reply size; logged in.
std::unique_ptr<Child> StartBridge(std::size_t replyLimit) {
  Service& service = TheService();
  const std::filesystem::path home = service.scratch / ("bridge-" + std::to_string(replyLimit));
  std::filesystem::create_directories(home / "data");
  const char* program = std::getenv("VARDEKO_BRIDGE");
  auto bridge = std::make_unique<Child>(
      std::vector<std::string>{program != nullptr ? program : VARDEKO_BRIDGE},
      std::vector<std::string>{"VARDEKO_API_URL=" + service.Url(replyLimit, ""),
                               "VARDEKO_DATA_DIR=" + (home / "data").string(),
                               "XDG_DATA_HOME=" + home.string()});
  bridge->Write(
      R"({"post":"{\"id\":\"in\",\"method\":\"login\",\"args\":[{\"email\":\"a@b.c\",\"password\":\"p\"}]}"})"
      "\n");
  if (bridge->ReadLine().find(R"("ok":true)") == std::string::npos) {
    throw std::runtime_error("login failed");
  }
  return bridge;
}

// Runs a command, returning its wall time and what it printed.
double RunCommand(const std::vector<std::string>& argv, std::string& printed) {
  const Clock::time_point start = Clock::now();
  Child child(argv, {});
  printed.clear();
  try {
    printed = child.ReadLine();
  } catch (const std::runtime_error&) {
  }
  return MillisecondsSince(start);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void BM_Upload(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0)) * kMiB;
  Service& service = TheService();
  std::string image(bytes, '\0');
  std::mt19937_64 random(7);
  for (char& c : image) c = static_cast<char>(random());
  const std::filesystem::path file = service.scratch / "upload.bin";
  std::ofstream(file, std::ios::binary).write(image.data(), static_cast<std::streamsize>(bytes));
  const std::string base64 = EncodeBase64(image);
  const std::unique_ptr<Child> bridge = StartBridge(0);
  const std::size_t before = StatusKiB(bridge->pid(), "VmRSS:");

  std::vector<double> bridgeMs, appInfoMs, curlMs, curlTransferMs, peaks;
  int sequence = 0;
  for (auto _ : state) {
    const std::string id = "u" + std::to_string(++sequence);
    const std::string lines =
        R"({"post":"{\"id\":\")" + id +
        R"(\",\"method\":\"uploadMatch\",\"args\":[{\"name\":\"s.png\",\"content_type\":\"image/png\",\"data_base64\":\")" +
        base64 + R"(\"}]}"})" + "\n" + R"({"post":"{\"id\":\"a)" + id +
        R"(\",\"method\":\"appInfo\",\"args\":[]}"})" + "\n";
    ResetPeak(bridge->pid());
    const Clock::time_point start = Clock::now();
    bridge->Write(lines);
    for (int replies = 0; replies < 2; ++replies) {
      const std::string line = bridge->ReadLine();
      const double at = MillisecondsSince(start);
      if (line.find("\"id\":\"a" + id + "\"") != std::string::npos) {
        appInfoMs.push_back(at);
      } else if (line.find("\"id\":\"" + id + "\",\"ok\":true") != std::string::npos) {
        bridgeMs.push_back(at);
      } else {
        state.SkipWithError(line.substr(0, 200).c_str());
        return;
      }
    }
    state.SetIterationTime(bridgeMs.back() / 1000);
    peaks.push_back(static_cast<double>(StatusKiB(bridge->pid(), "VmHWM:") - before) * 1024);

    std::string printed;
    curlMs.push_back(
        RunCommand({"curl", "-s", "-o", "/dev/null", "-w", "%{time_total}\\n", "-H",
                    "Content-Type: image/png", "-H", "Authorization: Bearer bench-token",
                    "--data-binary", "@" + file.string(), service.Url(0, "/matches")},
                   printed));
    curlTransferMs.push_back(std::atof(printed.c_str()) * 1000);
  }
  const double payload = static_cast<double>(bytes);
  state.counters["bridge_ms"] = Median(bridgeMs);
  state.counters["appinfo_ms"] = Median(appInfoMs);
  state.counters["stall"] = Median(appInfoMs) / Median(bridgeMs);
  state.counters["curl_ms"] = Median(curlMs);
  state.counters["curl_xfer_ms"] = Median(curlTransferMs);
  state.counters["x_curl"] = Median(bridgeMs) / Median(curlMs);
  state.counters["peak_MiB"] = Median(peaks) / kMiB;
  state.counters["peak_x"] = Median(peaks) / payload;
}
BENCHMARK(BM_Upload)
    ->Arg(1)
    ->Arg(4)
    ->Arg(12)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(7);

void BM_Reply(benchmark::State& state) {
  const auto limit = static_cast<std::size_t>(state.range(0)) * kMiB;
  Service& service = TheService();
  const std::filesystem::path file = service.scratch / "reply.json";
  std::string printed;
  RunCommand({"curl", "-s", "-o", file.string(), service.Url(limit, "/health")}, printed);
  std::string body;
  {
    std::ifstream in(file, std::ios::binary);
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The standard library parsers' own figures for the same bytes.
  std::vector<double> parseMs;
  for (int i = 0; i < 5; ++i) {
    const Clock::time_point start = Clock::now();
    nlohmann::json parsed = nlohmann::json::parse(body);
    benchmark::DoNotOptimize(parsed);
    parseMs.push_back(MillisecondsSince(start));
  }
  RunCommand({"python3", "-c",
              "import json,sys,time\n"
              "b=open(sys.argv[1],'rb').read()\n"
              "t=[]\n"
              "for _ in range(5):\n"
              "  s=time.perf_counter(); json.loads(b); t.append(time.perf_counter()-s)\n"
              "print(sorted(t)[2]*1000)\n",
              file.string()},
             printed);
  const double pythonMs = std::atof(printed.c_str());
  const std::unique_ptr<Child> bridge = StartBridge(limit);
  const std::size_t before = StatusKiB(bridge->pid(), "VmRSS:");

  std::vector<double> bridgeMs, curlMs, peaks;
  int sequence = 0;
  for (auto _ : state) {
    const std::string id = "h" + std::to_string(++sequence);
    ResetPeak(bridge->pid());
    const Clock::time_point start = Clock::now();
    bridge->Write(R"({"post":"{\"id\":\")" + id + R"(\",\"method\":\"health\",\"args\":[]}"})" +
                  "\n");
    const std::string line = bridge->ReadLine();
    bridgeMs.push_back(MillisecondsSince(start));
    if (line.find("\"ok\":true") == std::string::npos || line.size() < body.size()) {
      state.SkipWithError(line.substr(0, 200).c_str());
      return;
    }
    state.SetIterationTime(bridgeMs.back() / 1000);
    peaks.push_back(static_cast<double>(StatusKiB(bridge->pid(), "VmHWM:") - before) * 1024);
    curlMs.push_back(
        RunCommand({"curl", "-s", "-o", "/dev/null", service.Url(limit, "/health")}, printed));
  }
  state.counters["bridge_ms"] = Median(bridgeMs);
  state.counters["parse_ms"] = Median(parseMs);
  state.counters["python_ms"] = pythonMs;
  state.counters["curl_ms"] = Median(curlMs);
  state.counters["x_parse"] = Median(bridgeMs) / Median(parseMs);
  state.counters["x_python"] = Median(bridgeMs) / pythonMs;
  state.counters["peak_MiB"] = Median(peaks) / kMiB;
  state.counters["peak_x"] = Median(peaks) / static_cast<double>(body.size());
}
BENCHMARK(BM_Reply)
    ->Arg(1)
    ->Arg(8)
    ->Arg(32)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(7);

}  // namespace
}  // namespace vardeko::bench

BENCHMARK_MAIN();
