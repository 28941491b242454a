// The test's side of the stand-in: the hidden control window that takes commands as
// WM_COPYDATA (one JSON object each) and runs them, and the posted tasks, from the UI
// thread's message loop; and the events the stand-in raises on the program's handlers.
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>

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

// Tasks waiting for a timer of the control window, by timer id.
std::map<UINT_PTR, std::function<void()>>& TimedTasks() {
  static std::map<UINT_PTR, std::function<void()>> tasks;
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

// What became of one request the runtime made.
struct Fetched {
  json outcome;
  std::optional<int> status;  // none: nobody answered
  std::string body;
};

std::wstring HostOf(const std::wstring& uri) {
  const std::size_t start = uri.find(L"://");
  if (start == std::wstring::npos) return {};
  const std::size_t end = uri.find_first_of(L"/?#", start + 3);
  return uri.substr(start + 3, end == std::wstring::npos ? std::wstring::npos : end - start - 3);
}

// A request for a mapped host: the runtime reads the file itself and never raises
// WebResourceRequested for it, whatever the filters say.
std::optional<Fetched> ServeFromMapping(const View& view, const std::wstring& uri) {
  if (uri.rfind(L"https://", 0) != 0) return std::nullopt;
  const std::wstring host = HostOf(uri);
  for (const Mapping& mapping : view.mappings()) {
    if (CompareStringOrdinal(mapping.host.c_str(), -1, host.c_str(), -1, TRUE) != CSTR_EQUAL) {
      continue;
    }
    std::wstring path = uri.substr(8 + host.size());
    path = path.substr(0, path.find_first_of(L"?#"));
    while (!path.empty() && path.front() == L'/') path.erase(0, 1);
    Fetched fetched{json{{"mapped", true}}, 404, {}};
    std::ifstream file(mapping.folder / path, std::ios::binary);
    std::error_code error;
    if (file && std::filesystem::is_regular_file(mapping.folder / path, error)) {
      fetched.body.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
      fetched.status = 200;
    }
    fetched.outcome["status"] = *fetched.status;
    RecordCall("served-by-mapping", json{{"uri", Utf8(uri)}, {"status", *fetched.status}});
    return fetched;
  }
  return std::nullopt;
}

// A request the runtime makes for `uri`: from the mapping when its host is mapped, else
// raised on the program's handlers when one of its filters matches, with the response
// they set.
Fetched RequestResource(View& view, const std::wstring& uri,
                        COREWEBVIEW2_WEB_RESOURCE_CONTEXT context,
                        const std::wstring& method = L"GET") {
  if (std::optional<Fetched> mapped = ServeFromMapping(view, uri)) return *mapped;
  bool filtered = false;
  for (const Filter& filter : view.filters()) {
    const bool contextMatches =
        filter.context == COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL || filter.context == context;
    if (contextMatches && Matches(filter.uri, uri)) filtered = true;
  }
  if (!filtered) {
    json outcome{{"filtered", false}};
    RecordCall("raised", "WebResourceRequested", outcome);
    return {outcome, std::nullopt, {}};
  }
  ComPtr<ResourceArgs> args = Make<ResourceArgs>(context, uri, method);
  RecordCall("raise", "WebResourceRequested",
             json{{"uri", Utf8(uri)}, {"context", static_cast<int>(context)}});
  const std::vector<HRESULT> results = view.WebResourceRequested.Raise(&view, args.Get());
  Response* response = args->response();
  json outcome{{"filtered", true},
               {"response", response != nullptr ? response->Describe() : json(nullptr)},
               {"results", Results(results)}};
  RecordCall("raised", "WebResourceRequested", outcome);
  if (response == nullptr) {
    // No response set: the runtime goes on with the request to the network, where a
    // *.localhost name is the loopback. Nothing listens here: it fails to connect.
    RecordCall("to-network", json{{"uri", Utf8(uri)}});
    return {outcome, std::nullopt, {}};
  }
  return {outcome, response->status(), response->Body()};
}

// The files a document links that the runtime loads with it: scripts, style sheets,
// icons and other links, and images, each with its resource context, resolved against
// the document's URI. Other schemes (data:, blob:) need no request.
std::vector<std::pair<std::wstring, COREWEBVIEW2_WEB_RESOURCE_CONTEXT>> LinkedResources(
    const std::string& html, const std::wstring& document) {
  static const std::regex tag(R"(<(script|link|img)\b([^>]*)>)", std::regex::icase);
  static const std::regex source(R"(\b(src|href)\s*=\s*["']([^"']*)["'])", std::regex::icase);
  static const std::regex relation(R"(\brel\s*=\s*["']([^"']*)["'])", std::regex::icase);
  const std::wstring host = HostOf(document);
  const std::wstring origin = document.substr(0, document.find(L"://") + 3 + host.size());
  const std::wstring folder = document.substr(0, document.rfind(L'/') + 1);
  std::vector<std::pair<std::wstring, COREWEBVIEW2_WEB_RESOURCE_CONTEXT>> found;
  for (auto match = std::sregex_iterator(html.begin(), html.end(), tag);
       match != std::sregex_iterator(); ++match) {
    std::string name = (*match)[1];
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string attributes = (*match)[2];
    std::smatch link;
    if (!std::regex_search(attributes, link, source)) continue;
    const std::wstring target = Wide(link[2].str());
    COREWEBVIEW2_WEB_RESOURCE_CONTEXT context = COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE;
    if (name == "script") {
      context = COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT;
    } else if (name == "link") {
      std::smatch rel;
      std::string kind = std::regex_search(attributes, rel, relation) ? rel[1].str() : "";
      for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      context = kind == "stylesheet"      ? COREWEBVIEW2_WEB_RESOURCE_CONTEXT_STYLESHEET
                : kind == "modulepreload" ? COREWEBVIEW2_WEB_RESOURCE_CONTEXT_SCRIPT
                : kind.find("icon") != std::string::npos ? COREWEBVIEW2_WEB_RESOURCE_CONTEXT_IMAGE
                : kind == "manifest" ? COREWEBVIEW2_WEB_RESOURCE_CONTEXT_MANIFEST
                                     : COREWEBVIEW2_WEB_RESOURCE_CONTEXT_OTHER;
    }
    std::wstring resolved;
    if (target.rfind(L"https://", 0) == 0 || target.rfind(L"http://", 0) == 0) {
      resolved = target;
    } else if (target.rfind(L"//", 0) == 0) {
      resolved = L"https:" + target;
    } else if (target.rfind(L"/", 0) == 0) {
      resolved = origin + target;
    } else if (target.find(L':') != std::wstring::npos || target.empty()) {
      continue;  // data:, blob:, ...
    } else {
      resolved = folder + (target.rfind(L"./", 0) == 0 ? target.substr(2) : target);
    }
    found.emplace_back(resolved, context);
  }
  return found;
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
  // A browser process that exited takes the view and its controller with it.
  if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED) view.BrowserExited();
}

int& UnresponsiveGeneration() {
  static int generation = 0;
  return generation;
}

void RepeatUnresponsive(ComPtr<View> view, int generation, unsigned every) {
  if (generation != UnresponsiveGeneration() || view->closed()) return;
  RaiseProcessFailed(*view.Get(), json{{"kind", 2}});
  PostLater(every, [view, generation, every] { RepeatUnresponsive(view, generation, every); });
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
        static_cast<COREWEBVIEW2_WEB_RESOURCE_CONTEXT>(command.at("context").get<int>()),
        Wide(command.value("method", std::string("GET"))));
  } else if (what == "unresponsive") {
    // As the runtime does while the renderer hangs: kind 2 now and every `every` ms
    // until "responsive".
    const unsigned every = command.at("every");
    const int generation = ++UnresponsiveGeneration();
    ComPtr<View> held(&view);
    RepeatUnresponsive(held, generation, every);
  } else if (what == "responsive") {
    ++UnresponsiveGeneration();
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
    if (message == WM_TIMER) {
      KillTimer(window, wParam);
      const auto found = TimedTasks().find(wParam);
      if (found == TimedTasks().end()) return 0;
      std::function<void()> task = std::move(found->second);
      TimedTasks().erase(found);
      task();
      return 0;
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

void PostLater(unsigned milliseconds, std::function<void()> task) {
  static UINT_PTR next = 0x5100;
  const UINT_PTR timer = ++next;
  TimedTasks()[timer] = std::move(task);
  SetTimer(g_control, timer, milliseconds, nullptr);
}

void Hold(const std::string& what, std::function<void()> task) {
  RecordCall("hold", what);
  HeldTasks().emplace_back(what, std::move(task));
}

void DropPending() {
  Tasks().clear();
  HeldTasks().clear();
  TimedTasks().clear();
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

namespace {

// The document request, and with a document the requests for the files it links.
void LoadDocument(View& view, const std::wstring& uri, UINT64 navigationId) {
  if (view.closed()) return;
  const Fetched document = RequestResource(view, uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT_DOCUMENT);
  const bool success = document.status && *document.status >= 200 && *document.status < 300;
  if (success) {
    view.SetSource(uri);
    for (const auto& [linked, context] : LinkedResources(document.body, uri)) {
      RequestResource(view, linked, context);
    }
  }
  RaiseCompleted(view, success,
                 success ? COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN
                         : COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT,
                 navigationId);
}

bool EndsWithIgnoringCase(const std::wstring& text, std::wstring_view suffix) {
  return text.size() >= suffix.size() &&
         CompareStringOrdinal(text.c_str() + text.size() - suffix.size(),
                              static_cast<int>(suffix.size()), suffix.data(),
                              static_cast<int>(suffix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

void RunNavigation(View& view, const std::wstring& uri) {
  if (view.closed()) return;
  const UINT64 navigationId = view.NextNavigationId();
  const json starting =
      RaiseStarting(view, view.NavigationStarting, "NavigationStarting", uri, navigationId);
  if (starting.at("cancel")) {
    RaiseCompleted(view, false, COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED, navigationId);
    return;
  }
  // A name under .local goes to multicast DNS first, which never answers for it: the
  // load waits for that lookup to give up.
  if (EndsWithIgnoringCase(HostOf(uri), L".local")) {
    RecordCall("resolving", Utf8(HostOf(uri)));
    ComPtr<View> held(&view);
    PostLater(2000, [held, uri, navigationId] { LoadDocument(*held.Get(), uri, navigationId); });
    return;
  }
  LoadDocument(view, uri, navigationId);
}

}  // namespace standin
