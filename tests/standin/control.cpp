// The test's side of the stand-in: the hidden control window that takes commands as
// WM_COPYDATA (one JSON object each) and runs them, and the posted tasks, from the UI
// thread's message loop; and the events the stand-in raises on the program's handlers.
#include "base/unique_resource.h"
#include "objects.h"

namespace standin {
namespace {

constexpr wchar_t kControlClass[] = L"WebView2StandinControl";
constexpr UINT kRunTask = WM_APP + 0x51;

HWND g_control = nullptr;

using UniqueHook = vardeko::UniqueResource<HHOOK, &UnhookWindowsHookEx>;
UniqueHook g_inputTrace;

std::deque<std::function<void()>>& Tasks() {
  static std::deque<std::function<void()>> tasks;
  return tasks;
}

std::vector<std::pair<std::string, std::function<void()>>>& HeldTasks() {
  static std::vector<std::pair<std::string, std::function<void()>>> held;
  return held;
}

json Results(const std::vector<HRESULT>& results) {
  json list = json::array();
  for (HRESULT result : results) list.push_back(Result(result));
  return list;
}

// `*` matches any run of characters, as in the runtime's filters.
bool Matches(std::wstring_view pattern, std::wstring_view text) {
  if (pattern.empty()) return text.empty();
  if (pattern.front() == L'*') {
    for (std::size_t skip = 0; skip <= text.size(); ++skip) {
      if (Matches(pattern.substr(1), text.substr(skip))) return true;
    }
    return false;
  }
  return !text.empty() && pattern.front() == text.front() &&
         Matches(pattern.substr(1), text.substr(1));
}

std::optional<std::wstring> OptionalText(const json& value) {
  if (value.is_null()) return std::nullopt;
  return Wide(value.get<std::string>());
}

json RaiseStarting(View& view, Handlers<ICoreWebView2NavigationStartingEventHandler>& handlers,
                   const char* event, const std::wstring& uri, UINT64 navigationId) {
  ComPtr<NavigationStartingArgs> args = Make<NavigationStartingArgs>(uri, navigationId);
  RecordCall("raise", event, json{{"uri", Utf8(uri)}});
  const std::vector<HRESULT> results = handlers.Raise(&view, args.Get());
  json outcome{{"cancel", args->cancelled()}, {"results", Results(results)}};
  RecordCall("raised", event, outcome);
  return outcome;
}

void RaiseCompleted(View& view, bool success, COREWEBVIEW2_WEB_ERROR_STATUS status,
                    UINT64 navigationId) {
  ComPtr<NavigationCompletedArgs> args =
      Make<NavigationCompletedArgs>(success, status, navigationId);
  RecordCall("raise", "NavigationCompleted",
             json{{"success", success}, {"status", static_cast<int>(status)}});
  const std::vector<HRESULT> results = view.NavigationCompleted.Raise(&view, args.Get());
  RecordCall("raised", "NavigationCompleted", json{{"results", Results(results)}});
}

// A request the runtime makes for `uri`: raised on the program's handlers when one of
// its filters matches, with the response they set.
json RequestResource(View& view, const std::wstring& uri,
                     COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  bool filtered = false;
  for (const Filter& filter : view.filters()) {
    const bool contextMatches =
        filter.context == COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL || filter.context == context;
    if (contextMatches && Matches(filter.uri, uri)) filtered = true;
  }
  if (!filtered) {
    json outcome{{"filtered", false}};
    RecordCall("raised", "WebResourceRequested", outcome);
    return outcome;
  }
  ComPtr<ResourceArgs> args = Make<ResourceArgs>(context);
  RecordCall("raise", "WebResourceRequested",
             json{{"uri", Utf8(uri)}, {"context", static_cast<int>(context)}});
  const std::vector<HRESULT> results = view.WebResourceRequested.Raise(&view, args.Get());
  Response* response = args->response();
  json outcome{{"filtered", true},
               {"response", response != nullptr ? response->Describe() : json(nullptr)},
               {"results", Results(results)}};
  RecordCall("raised", "WebResourceRequested", outcome);
  return outcome;
}

// Whether the virtual host mapping serves `uri` from a file.
bool ServedByMapping(const View& view, const std::wstring& uri) {
  const std::wstring_view scheme = L"https://";
  if (uri.compare(0, scheme.size(), scheme) != 0) return false;
  const std::size_t slash = uri.find(L'/', scheme.size());
  const std::wstring host = uri.substr(scheme.size(), slash - scheme.size());
  const std::wstring path = slash == std::wstring::npos ? L"" : uri.substr(slash + 1);
  for (const Mapping& mapping : view.mappings()) {
    if (CompareStringOrdinal(mapping.host.c_str(), -1, host.c_str(), -1, TRUE) == CSTR_EQUAL) {
      std::error_code error;
      return std::filesystem::is_regular_file(mapping.folder / path, error);
    }
  }
  return false;
}

void RaiseWebMessage(View& view, const json& command) {
  ComPtr<WebMessageArgs> args =
      Make<WebMessageArgs>(OptionalText(command.at("source")), OptionalText(command.at("json")));
  RecordCall("raise", "WebMessageReceived",
             json{{"source", command.at("source")}, {"json", command.at("json")}});
  const std::vector<HRESULT> results = view.WebMessageReceived.Raise(&view, args.Get());
  RecordCall("raised", "WebMessageReceived", json{{"results", Results(results)}});
}

void RaiseNewWindow(View& view, const json& command) {
  ComPtr<NewWindowArgs> args = Make<NewWindowArgs>(Wide(command.at("uri").get<std::string>()));
  RecordCall("raise", "NewWindowRequested", json{{"uri", command.at("uri")}});
  const std::vector<HRESULT> results = view.NewWindowRequested.Raise(&view, args.Get());
  RecordCall("raised", "NewWindowRequested",
             json{{"handled", args->handled()},
                  {"newWindow", args->windowGiven()},
                  {"results", Results(results)}});
}

void RaisePermission(View& view, const json& command) {
  const int kind = command.at("kind");
  ComPtr<PermissionArgs> args = Make<PermissionArgs>(
      Wide(command.at("uri").get<std::string>()), static_cast<COREWEBVIEW2_PERMISSION_KIND>(kind));
  RecordCall("raise", "PermissionRequested", json{{"kind", kind}});
  const std::vector<HRESULT> results = view.PermissionRequested.Raise(&view, args.Get());
  RecordCall("raised", "PermissionRequested",
             json{{"state", args->state()}, {"results", Results(results)}});
}

void RaiseDownload(View& view) {
  ComPtr<DownloadArgs> args = Make<DownloadArgs>();
  RecordCall("raise", "DownloadStarting", json::object());
  const std::vector<HRESULT> results = view.DownloadStarting.Raise(&view, args.Get());
  RecordCall("raised", "DownloadStarting",
             json{{"cancel", args->cancelled()}, {"results", Results(results)}});
}

void RaiseProcessFailed(View& view, const json& command) {
  const int kind = command.at("kind");
  ComPtr<ProcessFailedArgs> args =
      Make<ProcessFailedArgs>(static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(kind));
  RecordCall("raise", "ProcessFailed", json{{"kind", kind}});
  const std::vector<HRESULT> results = view.ProcessFailed.Raise(&view, args.Get());
  RecordCall("raised", "ProcessFailed", json{{"results", Results(results)}});
}

void RunHeld(const std::string& what) {
  auto& held = HeldTasks();
  for (auto entry = held.begin(); entry != held.end(); ++entry) {
    if (entry->first == what) {
      std::function<void()> task = std::move(entry->second);
      held.erase(entry);
      task();
      return;
    }
  }
  RecordCall("nothing-held", what);
}

void RunViewCommand(View& view, const std::string& what, const json& command) {
  if (what == "web-message") {
    RaiseWebMessage(view, command);
  } else if (what == "navigation-starting") {
    RaiseStarting(view, view.NavigationStarting, "NavigationStarting",
                  Wide(command.at("uri").get<std::string>()), view.NextNavigationId());
  } else if (what == "frame-navigation-starting") {
    RaiseStarting(view, view.FrameNavigationStarting, "FrameNavigationStarting",
                  Wide(command.at("uri").get<std::string>()), view.NextNavigationId());
  } else if (what == "navigation-completed") {
    const bool success = command.at("success");
    RaiseCompleted(view, success,
                   success ? COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN
                           : COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_ABORTED,
                   view.NextNavigationId());
  } else if (what == "new-window") {
    RaiseNewWindow(view, command);
  } else if (what == "permission") {
    RaisePermission(view, command);
  } else if (what == "download") {
    RaiseDownload(view);
  } else if (what == "process-failed") {
    RaiseProcessFailed(view, command);
  } else if (what == "resource") {
    RequestResource(
        view, Wide(command.at("uri").get<std::string>()),
        static_cast<COREWEBVIEW2_WEB_RESOURCE_CONTEXT>(command.at("context").get<int>()));
  } else {
    RecordCall("unknown-command", what);
  }
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    if (message == WM_COPYDATA) {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      json command =
          json::parse(std::string_view(static_cast<const char*>(data->lpData), data->cbData));
      // Run from the message loop, as the runtime raises events; the sender returns now.
      Post([command = std::move(command)] { RunCommand(command); });
      return TRUE;
    }
    if (message == kRunTask) {
      if (Tasks().empty()) return 0;
      std::function<void()> task = std::move(Tasks().front());
      Tasks().pop_front();
      task();
      return 0;
    }
  } catch (const std::exception& error) {
    RecordCall("stand-in-error", error.what());
    return 0;
  } catch (...) {
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void Post(std::function<void()> task) {
  Tasks().push_back(std::move(task));
  PostMessageW(g_control, kRunTask, 0, 0);
}

void Hold(const std::string& what, std::function<void()> task) {
  RecordCall("hold", what);
  HeldTasks().emplace_back(what, std::move(task));
}

void DropPending() {
  Tasks().clear();
  HeldTasks().clear();
}

const char* ButtonMessageName(UINT message) {
  switch (message) {
    case WM_NCLBUTTONDOWN:
      return "WM_NCLBUTTONDOWN";
    case WM_NCLBUTTONUP:
      return "WM_NCLBUTTONUP";
    case WM_NCLBUTTONDBLCLK:
      return "WM_NCLBUTTONDBLCLK";
    case WM_LBUTTONDOWN:
      return "WM_LBUTTONDOWN";
    case WM_LBUTTONUP:
      return "WM_LBUTTONUP";
    case WM_LBUTTONDBLCLK:
      return "WM_LBUTTONDBLCLK";
    default:
      return nullptr;
  }
}

// Mode "trace-input": the left-button messages the UI thread takes from its queue, with
// the hit-test code (wParam of the non-client ones) and the point, so that a test of
// pointer input sees where the system delivered each press.
LRESULT CALLBACK TraceInput(int code, WPARAM removal, LPARAM lParam) {
  const auto* message = reinterpret_cast<const MSG*>(lParam);
  if (code >= 0 && removal == PM_REMOVE) {
    if (const char* name = ButtonMessageName(message->message)) {
      RecordCall("input", name, static_cast<unsigned>(message->wParam),
                 static_cast<int>(static_cast<short>(LOWORD(message->lParam))),
                 static_cast<int>(static_cast<short>(HIWORD(message->lParam))));
    }
  }
  return CallNextHookEx(nullptr, code, removal, lParam);
}

void CreateControlWindow() {
  if (g_control != nullptr) return;
  if (Mode("trace-input")) {
    g_inputTrace.reset(
        SetWindowsHookExW(WH_GETMESSAGE, &TraceInput, nullptr, GetCurrentThreadId()));
  }
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &ControlProc;
  windowClass.hInstance = Module();
  windowClass.lpszClassName = kControlClass;
  RegisterClassExW(&windowClass);
  g_control = CreateWindowExW(0, kControlClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, Module(),
                              nullptr);
  // The test finds this window by its number, and sends its commands there.
  RecordCall("control", reinterpret_cast<std::uintptr_t>(g_control));
}

void DestroyWindows() {
  g_inputTrace.reset();
  if (g_control != nullptr && IsWindow(g_control)) DestroyWindow(g_control);
  g_control = nullptr;
  DestroyChildWindows();
}

void RunCommand(const json& command) {
  const int id = command.at("id");
  const std::string what = command.at("do");
  RecordCall("command", id, what);
  if (what == "complete") {
    RunHeld(command.at("what"));
  } else if (View* view = CurrentView()) {
    RunViewCommand(*view, what, command);
  } else {
    RecordCall("no-view");
  }
  RecordCall("done", id);
}

void RunNavigation(View& view, const std::wstring& uri) {
  if (view.closed()) return;
  const UINT64 navigationId = view.NextNavigationId();
  const json starting =
      RaiseStarting(view, view.NavigationStarting, "NavigationStarting", uri, navigationId);
  if (starting.at("cancel")) {
    RaiseCompleted(view, false, COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED, navigationId);
    return;
  }
  bool success = false;
  const json request = RequestResource(view, uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT);
  if (request.at("filtered") && !request.at("response").is_null()) {
    const int status = request.at("response").at("status");
    success = status >= 200 && status < 300;
  } else {
    success = ServedByMapping(view, uri);
  }
  if (success) view.SetSource(uri);
  RaiseCompleted(view, success,
                 success ? COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN
                         : COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT,
                 navigationId);
}

}  // namespace standin
