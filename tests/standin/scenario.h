#pragma once

// One run of the real Vardeko.exe on the stand-in runtime: a fresh program folder and
// data directory, the journal the stand-in writes, and the commands the test sends it.

#include <windows.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "windows/program_process.h"

namespace vardeko::testing {

using namespace std::chrono_literals;
using nlohmann::json;

// A hardware pointer move to the pixel (x, y). Under Wine's virtual desktop the X
// server's pointer must move too (SetCursorPos warps it), or the next X event puts
// Wine's cursor back where the X pointer stayed; the input event then reports the
// move as a device would (absolute input is in 1/65536 of the screen).
inline void MovePointer(int x, int y) {
  SetCursorPos(x, y);
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dx = static_cast<LONG>((static_cast<long long>(x) * 65536 + width - 1) / width);
  input.mi.dy = static_cast<LONG>((static_cast<long long>(y) * 65536 + height - 1) / height);
  input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  SendInput(1, &input, sizeof input);
  std::this_thread::sleep_for(60ms);
}

inline void Button(bool down) {
  INPUT input{};
  input.type = INPUT_MOUSE;
  input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
  SendInput(1, &input, sizeof input);
  std::this_thread::sleep_for(100ms);
}

struct ScenarioPaths {
  std::filesystem::path program;  // Vardeko.exe of the build
  std::filesystem::path standin;  // the stand-in WebView2Loader.dll
  std::filesystem::path serverPortFile;
};
inline ScenarioPaths g_paths;

// The start document every scenario serves: a byte-order mark, Chinese text and CR LF
// line ends, to show they pass unchanged; and the files it links, as the page's do.
inline const std::string kIndexHtml =
    "\xEF\xBB\xBF<!doctype html>\r\n<meta charset=\"utf-8\">\r\n<title>Vardeko 账本</title>\r\n"
    "<link rel=\"icon\" href=\"data:,\">\r\n<link rel=\"shortcut icon\" href=\"favicon.ico\">\r\n"
    "<script type=\"module\" crossorigin src=\"/assets/app.js\"></script>\r\n"
    "<link rel=\"stylesheet\" crossorigin href=\"/assets/style.css\">\r\n"
    "<img src=\"images/%E8%B4%A6%E6%9C%AC.png\" alt=\"\">\r\n";
// The linked files: path in the renderer folder, bytes.
inline const std::vector<std::pair<std::wstring, std::string>> kLinkedFiles = {
    {L"favicon.ico", std::string("\0\0\1\0", 4)},
    {L"assets\\app.js", "export {};\n"},
    {L"assets\\style.css", "body{margin:0}\n"},
    {L"images\\账本.png", "\x89PNG\r\n"}};

inline std::string Quote(const std::string& text) { return json(text).dump(); }
inline std::string Utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}
inline std::string QuotePath(const std::filesystem::path& path) { return Quote(Utf8Path(path)); }

// Handles whatever the system sends the test's own windows while it waits.
inline void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

class Scenario {
 public:
  Scenario() {
    static int number = 0;
    root_ = FreshTempFolder(L"vardeko-standin-" + std::to_wstring(++number));
    install_ = root_ / L"install";
    std::filesystem::create_directories(install_ / L"renderer");
    std::filesystem::copy_file(g_paths.program, install_ / L"Vardeko.exe");
    std::filesystem::copy_file(g_paths.standin, install_ / L"WebView2Loader.dll");
    std::ofstream(install_ / L"renderer" / L"index.html", std::ios::binary) << kIndexHtml;
    for (const auto& [path, bytes] : kLinkedFiles) {
      std::filesystem::create_directories((install_ / L"renderer" / path).parent_path());
      std::ofstream(install_ / L"renderer" / path, std::ios::binary) << bytes;
    }
    variables_ = {{L"VARDEKO_DATA_DIR", data().wstring()},
                  {L"WEBVIEW2_STANDIN_JOURNAL", (root_ / L"journal.txt").wstring()},
                  {L"SystemRoot", L"C:\\windows"},
                  {L"PATH", L"C:\\windows\\system32;C:\\windows"}};
  }
  ~Scenario() {
    process_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;

  std::filesystem::path data() const { return root_ / L"data"; }
  std::filesystem::path install() const { return install_; }
  void Set(const std::wstring& name, const std::wstring& value) { variables_[name] = value; }
  // Stand-in modes, e.g. "hold-navigation" or "missing:ICoreWebView2_4".
  void Modes(const std::wstring& modes) { Set(L"WEBVIEW2_STANDIN_MODES", modes); }

  void Start() {
    process_ = std::make_unique<ProgramProcess>(install_ / L"Vardeko.exe", variables_);
  }
  ProgramProcess& process() { return *process_; }

  // The main window, once it is up.
  HWND Window() {
    if (window_ == nullptr) window_ = process_->WaitForWindow(L"VardekoWebView2", 30s);
    return window_;
  }
  // The stand-in's browser window inside the main window.
  HWND Browser() { return FindWindowExW(Window(), nullptr, L"WebView2StandinBrowser", nullptr); }

  // --- The journal ---------------------------------------------------------------------

  std::vector<std::string> Lines() const {
    std::ifstream file(root_ / L"journal.txt", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(file, line)) lines.push_back(line);
    return lines;
  }

  // Waits until a line equal to `line` (or starting with it, when `prefix`) is
  // written; returns its index, or -1 after the time-out.
  // Only lines from index `from` on count.
  int WaitFor(const std::string& line, bool prefix = false, std::chrono::milliseconds timeout = 30s,
              int from = 0) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      const std::vector<std::string> lines = Lines();
      for (std::size_t i = std::max(from, 0); i < lines.size(); ++i) {
        if (prefix ? lines[i].rfind(line, 0) == 0 : lines[i] == line) return static_cast<int>(i);
      }
      PumpMessages();
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
  }
  int Count() const { return static_cast<int>(Lines().size()); }

  // The lines from `from` (inclusive) to `to` (exclusive) that start with a prefix in
  // `keep`; every line when `keep` is empty.
  std::vector<std::string> Slice(int from, int to,
                                 const std::vector<std::string>& keep = {}) const {
    const std::vector<std::string> lines = Lines();
    std::vector<std::string> result;
    for (int i = std::max(from, 0); i < to && i < static_cast<int>(lines.size()); ++i) {
      bool kept = keep.empty();
      for (const std::string& prefix : keep) kept = kept || lines[i].rfind(prefix, 0) == 0;
      if (kept) result.push_back(lines[i]);
    }
    return result;
  }

  // Sends one command to the stand-in and returns the journal lines it produced, once
  // it is done.
  std::vector<std::string> Command(json command) {
    const int id = Send(std::move(command));
    const int done = WaitFor("done " + std::to_string(id));
    if (done < 0) throw std::runtime_error("the stand-in never finished a command");
    const int started = WaitFor("command " + std::to_string(id) + " ", true, 0ms);
    return Slice(started + 1, done);
  }

  // Sends one command without waiting for it to run; its id.
  int Send(json command) {
    if (control_ == nullptr) {
      const int index = WaitFor("control ", true);
      if (index < 0) throw std::runtime_error("the stand-in never started");
      control_ = reinterpret_cast<HWND>(std::stoull(Lines()[index].substr(8)));
    }
    const int id = ++commands_;
    command["id"] = id;
    const std::string text = command.dump();
    COPYDATASTRUCT data{0, static_cast<DWORD>(text.size()), const_cast<char*>(text.data())};
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(control_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                            SMTO_ABORTIFHUNG, 10000, &ignored) == 0) {
      throw std::runtime_error("the stand-in took no command");
    }
    return id;
  }

  // The page at `source` posts `message` (JSON text); the replies it got at once.
  std::vector<std::string> Post(const std::string& message, const std::string& source) {
    return Filter(Command({{"do", "web-message"}, {"source", source}, {"json", message}}),
                  "ICoreWebView2.PostWebMessageAsJson ");
  }

  static std::vector<std::string> Filter(const std::vector<std::string>& lines,
                                         const std::string& prefix) {
    std::vector<std::string> result;
    for (const std::string& line : lines) {
      if (line.rfind(prefix, 0) == 0) result.push_back(line.substr(prefix.size()));
    }
    return result;
  }

  // Waits for the process to end; checks that it left nothing unreleased and that the
  // loader stayed loaded until the process ended. Returns the exit code.
  std::optional<DWORD> Finish(std::chrono::milliseconds timeout = 30s) {
    const std::optional<DWORD> code = process_->WaitForExit(timeout);
    const std::vector<std::string> lines = Lines();
    std::vector<std::string> report;
    bool reporting = false;
    for (const std::string& line : lines) {
      reporting = reporting || line.rfind("unload ", 0) == 0;
      if (reporting) report.push_back(line);
    }
    EXPECT_EQ(report, (std::vector<std::string>{R"(unload "process-exit")", "exit 0"}));
    return code;
  }

  // --- The window, from outside ------------------------------------------------------

  RECT WindowRect() {
    RECT rect{};
    GetWindowRect(Window(), &rect);
    return rect;
  }
  // The browser window's rectangle in the main window's client coordinates.
  RECT BrowserRect() {
    RECT rect{};
    GetWindowRect(Browser(), &rect);
    MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

 private:
  std::filesystem::path root_;
  std::filesystem::path install_;
  std::map<std::wstring, std::wstring> variables_;
  std::unique_ptr<ProgramProcess> process_;
  HWND window_ = nullptr;
  HWND control_ = nullptr;
  int commands_ = 0;
};

}  // namespace vardeko::testing
