#include "objects.h"

#include <cstdio>

namespace standin {
namespace {

constexpr wchar_t kChildClass[] = L"WebView2StandinBrowser";

View* g_view = nullptr;

std::vector<HWND>& ChildWindows() {
  static std::vector<HWND> windows;
  return windows;
}

void DestroyChild(HWND& child) {
  if (child == nullptr) return;
  std::erase(ChildWindows(), child);
  if (IsWindow(child)) DestroyWindow(child);
  child = nullptr;
}

std::uintptr_t Number(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

// The browser's window: covers what the bounds say, takes focus and keys like a page.
// The real one belongs to another process, which answers its own hit tests; this one
// answers them as a plain child window does, with HTCLIENT.
LRESULT CALLBACK ChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      RecordCall("child-focus", true);
      return 0;
    case WM_KILLFOCUS:
      RecordCall("child-focus", false);
      return 0;
    case WM_CHAR:
      RecordCall("child-char", static_cast<unsigned>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(window);
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      EndPaint(window, &paint);
      return 0;
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void RegisterChildClass() {
  static const bool registered = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &ChildProc;
    windowClass.hInstance = Module();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kChildClass;
    return RegisterClassExW(&windowClass) != 0;
  }();
  static_cast<void>(registered);
}

std::string Hex(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  char pair[3];
  for (unsigned char byte : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

}  // namespace

json Boolean(BOOL value) { return value != FALSE; }

void DestroyChildWindows() {
  while (!ChildWindows().empty()) DestroyChild(ChildWindows().back());
}

View* CurrentView() { return g_view; }

// --- Event arguments ---------------------------------------------------------------

HRESULT WebMessageArgs::get_Source(LPWSTR* source) {
  RecordCall("ICoreWebView2WebMessageReceivedEventArgs.get_Source");
  if (source == nullptr) return E_POINTER;
  *source = nullptr;
  return source_ ? CopyOut(*source_, source) : S_OK;
}

HRESULT WebMessageArgs::get_WebMessageAsJson(LPWSTR* message) {
  RecordCall("ICoreWebView2WebMessageReceivedEventArgs.get_WebMessageAsJson");
  if (message == nullptr) return E_POINTER;
  *message = nullptr;
  return message_ ? CopyOut(*message_, message) : S_OK;
}

HRESULT NavigationStartingArgs::get_Uri(LPWSTR* uri) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.get_Uri");
  return CopyOut(uri_, uri);
}
HRESULT NavigationStartingArgs::get_IsUserInitiated(BOOL* value) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.get_IsUserInitiated");
  if (value == nullptr) return E_POINTER;
  *value = FALSE;
  return S_OK;
}
HRESULT NavigationStartingArgs::get_IsRedirected(BOOL* value) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.get_IsRedirected");
  if (value == nullptr) return E_POINTER;
  *value = FALSE;
  return S_OK;
}
HRESULT NavigationStartingArgs::get_Cancel(BOOL* cancel) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.get_Cancel");
  if (cancel == nullptr) return E_POINTER;
  *cancel = cancel_;
  return S_OK;
}
HRESULT NavigationStartingArgs::put_Cancel(BOOL cancel) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.put_Cancel", Boolean(cancel));
  cancel_ = cancel;
  return S_OK;
}
HRESULT NavigationStartingArgs::get_NavigationId(UINT64* id) {
  RecordCall("ICoreWebView2NavigationStartingEventArgs.get_NavigationId");
  if (id == nullptr) return E_POINTER;
  *id = navigationId_;
  return S_OK;
}

HRESULT NavigationCompletedArgs::get_IsSuccess(BOOL* success) {
  RecordCall("ICoreWebView2NavigationCompletedEventArgs.get_IsSuccess");
  if (success == nullptr) return E_POINTER;
  *success = success_ ? TRUE : FALSE;
  return S_OK;
}
HRESULT NavigationCompletedArgs::get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* status) {
  RecordCall("ICoreWebView2NavigationCompletedEventArgs.get_WebErrorStatus");
  if (status == nullptr) return E_POINTER;
  *status = status_;
  return S_OK;
}
HRESULT NavigationCompletedArgs::get_NavigationId(UINT64* id) {
  RecordCall("ICoreWebView2NavigationCompletedEventArgs.get_NavigationId");
  if (id == nullptr) return E_POINTER;
  *id = navigationId_;
  return S_OK;
}

HRESULT ProcessFailedArgs::get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) {
  RecordCall("ICoreWebView2ProcessFailedEventArgs.get_ProcessFailedKind");
  if (kind == nullptr) return E_POINTER;
  *kind = kind_;
  return S_OK;
}

HRESULT NewWindowArgs::get_Uri(LPWSTR* uri) {
  RecordCall("ICoreWebView2NewWindowRequestedEventArgs.get_Uri");
  return CopyOut(uri_, uri);
}
HRESULT NewWindowArgs::put_NewWindow(ICoreWebView2* window) {
  RecordCall("ICoreWebView2NewWindowRequestedEventArgs.put_NewWindow", window != nullptr);
  windowGiven_ = window != nullptr;
  return S_OK;
}
HRESULT NewWindowArgs::put_Handled(BOOL handled) {
  RecordCall("ICoreWebView2NewWindowRequestedEventArgs.put_Handled", Boolean(handled));
  handled_ = handled;
  return S_OK;
}
HRESULT NewWindowArgs::get_Handled(BOOL* handled) {
  RecordCall("ICoreWebView2NewWindowRequestedEventArgs.get_Handled");
  if (handled == nullptr) return E_POINTER;
  *handled = handled_;
  return S_OK;
}
HRESULT NewWindowArgs::get_IsUserInitiated(BOOL* value) {
  RecordCall("ICoreWebView2NewWindowRequestedEventArgs.get_IsUserInitiated");
  if (value == nullptr) return E_POINTER;
  *value = TRUE;
  return S_OK;
}

HRESULT PermissionArgs::get_Uri(LPWSTR* uri) {
  RecordCall("ICoreWebView2PermissionRequestedEventArgs.get_Uri");
  return CopyOut(uri_, uri);
}
HRESULT PermissionArgs::get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) {
  RecordCall("ICoreWebView2PermissionRequestedEventArgs.get_PermissionKind");
  if (kind == nullptr) return E_POINTER;
  *kind = kind_;
  return S_OK;
}
HRESULT PermissionArgs::get_IsUserInitiated(BOOL* value) {
  RecordCall("ICoreWebView2PermissionRequestedEventArgs.get_IsUserInitiated");
  if (value == nullptr) return E_POINTER;
  *value = TRUE;
  return S_OK;
}
HRESULT PermissionArgs::get_State(COREWEBVIEW2_PERMISSION_STATE* state) {
  RecordCall("ICoreWebView2PermissionRequestedEventArgs.get_State");
  if (state == nullptr) return E_POINTER;
  *state = state_;
  return S_OK;
}
HRESULT PermissionArgs::put_State(COREWEBVIEW2_PERMISSION_STATE state) {
  RecordCall("ICoreWebView2PermissionRequestedEventArgs.put_State", static_cast<int>(state));
  state_ = state;
  return S_OK;
}

HRESULT DownloadArgs::get_Cancel(BOOL* cancel) {
  RecordCall("ICoreWebView2DownloadStartingEventArgs.get_Cancel");
  if (cancel == nullptr) return E_POINTER;
  *cancel = cancel_;
  return S_OK;
}
HRESULT DownloadArgs::put_Cancel(BOOL cancel) {
  RecordCall("ICoreWebView2DownloadStartingEventArgs.put_Cancel", Boolean(cancel));
  cancel_ = cancel;
  return S_OK;
}
HRESULT DownloadArgs::get_Handled(BOOL* handled) {
  RecordCall("ICoreWebView2DownloadStartingEventArgs.get_Handled");
  if (handled == nullptr) return E_POINTER;
  *handled = handled_;
  return S_OK;
}
HRESULT DownloadArgs::put_Handled(BOOL handled) {
  RecordCall("ICoreWebView2DownloadStartingEventArgs.put_Handled", Boolean(handled));
  handled_ = handled;
  return S_OK;
}

// --- Response ------------------------------------------------------------------------

Response::Response(IStream* content, int status, std::wstring reason, std::wstring headers)
    : Object("ICoreWebView2WebResourceResponse"),
      content_(content),
      status_(status),
      reason_(std::move(reason)),
      headers_(std::move(headers)) {
  Responses().push_back(this);
}

Response::~Response() { std::erase(Responses(), this); }

std::vector<Response*>& Responses() {
  static std::vector<Response*> responses;
  return responses;
}

HRESULT Response::get_StatusCode(int* status) {
  RecordCall("ICoreWebView2WebResourceResponse.get_StatusCode");
  if (status == nullptr) return E_POINTER;
  *status = status_;
  return S_OK;
}

HRESULT Response::get_ReasonPhrase(LPWSTR* reason) {
  RecordCall("ICoreWebView2WebResourceResponse.get_ReasonPhrase");
  return CopyOut(reason_, reason);
}

std::string Response::Body() {
  std::string body;
  if (content_) {
    LARGE_INTEGER start{};
    content_->Seek(start, STREAM_SEEK_SET, nullptr);
    char buffer[4096];
    ULONG read = 0;
    while (SUCCEEDED(content_->Read(buffer, sizeof buffer, &read)) && read > 0) {
      body.append(buffer, read);
    }
  }
  return body;
}

json Response::Describe() {
  const std::string body = Body();
  return {{"status", status_},
          {"reason", Utf8(reason_)},
          {"headers", Utf8(headers_)},
          {"body", content_ ? json(Hex(body)) : json(nullptr)}};
}

HRESULT Request::get_Uri(LPWSTR* uri) {
  RecordCall("ICoreWebView2WebResourceRequest.get_Uri");
  return CopyOut(uri_, uri);
}

HRESULT Request::get_Method(LPWSTR* method) {
  RecordCall("ICoreWebView2WebResourceRequest.get_Method");
  return CopyOut(method_, method);
}

HRESULT ResourceArgs::get_Request(ICoreWebView2WebResourceRequest** request) {
  RecordCall("ICoreWebView2WebResourceRequestedEventArgs.get_Request");
  if (request == nullptr) return E_POINTER;
  *request = request_.Get();
  (*request)->AddRef();
  return S_OK;
}

HRESULT ResourceArgs::put_Response(ICoreWebView2WebResourceResponse* response) {
  RecordCall("ICoreWebView2WebResourceRequestedEventArgs.put_Response", response != nullptr);
  response_ = response;
  return S_OK;
}

HRESULT ResourceArgs::get_Response(ICoreWebView2WebResourceResponse** response) {
  RecordCall("ICoreWebView2WebResourceRequestedEventArgs.get_Response");
  if (response == nullptr) return E_POINTER;
  *response = response_.Get();
  if (*response != nullptr) (*response)->AddRef();
  return S_OK;
}

HRESULT ResourceArgs::get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) {
  RecordCall("ICoreWebView2WebResourceRequestedEventArgs.get_ResourceContext");
  if (context == nullptr) return E_POINTER;
  *context = context_;
  return S_OK;
}

Response* ResourceArgs::response() const {
  // Only responses this environment made are understood, as with the real runtime.
  for (Response* candidate : Responses()) {
    if (static_cast<ICoreWebView2WebResourceResponse*>(candidate) == response_.Get()) {
      return candidate;
    }
  }
  return nullptr;
}

// --- View ----------------------------------------------------------------------------

View::View() : Object("ICoreWebView2") { g_view = this; }

View::~View() {
  if (g_view == this) g_view = nullptr;
}

HRESULT View::get_Settings(ICoreWebView2Settings** settings) {
  RecordCall("ICoreWebView2.get_Settings");
  if (settings == nullptr) return E_POINTER;
  if (Mode("fail-get_Settings")) {
    *settings = nullptr;
    return E_FAIL;
  }
  if (!settings_) settings_ = Make<Settings>();
  *settings = settings_.Get();
  (*settings)->AddRef();
  return S_OK;
}

HRESULT View::get_Source(LPWSTR* uri) {
  RecordCall("ICoreWebView2.get_Source");
  return CopyOut(source_, uri);
}

HRESULT View::Navigate(LPCWSTR uri) {
  RecordCall("ICoreWebView2.Navigate", Text(uri));
  if (uri == nullptr) return E_INVALIDARG;
  if (closed_) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  ComPtr<View> self(this);
  std::wstring target(uri);
  auto navigate = [self, target] { RunNavigation(*self.Get(), target); };
  if (Mode("hold-navigation")) {
    Hold("navigation", navigate);
  } else {
    Post(navigate);
  }
  return S_OK;
}

HRESULT View::PostWebMessageAsJson(LPCWSTR message) {
  RecordCall("ICoreWebView2.PostWebMessageAsJson", Text(message));
  if (message == nullptr) return E_INVALIDARG;
  // The runtime parses the text for the page and refuses what is not JSON.
  return json::accept(Utf8(message)) ? S_OK : E_INVALIDARG;
}

HRESULT View::PostWebMessageAsString(LPCWSTR message) {
  RecordCall("ICoreWebView2.PostWebMessageAsString", Text(message));
  return S_OK;
}

HRESULT View::AddWebResourceRequestedFilter(LPCWSTR uri,
                                            COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
  RecordCall("ICoreWebView2.AddWebResourceRequestedFilter", Text(uri), static_cast<int>(context));
  if (uri == nullptr) return E_INVALIDARG;
  filters_.push_back({uri, context});
  return S_OK;
}

HRESULT View::SetVirtualHostNameToFolderMapping(LPCWSTR host, LPCWSTR folder,
                                                COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND access) {
  RecordCall("ICoreWebView2_3.SetVirtualHostNameToFolderMapping", Text(host), Text(folder),
             static_cast<int>(access));
  if (host == nullptr || folder == nullptr) return E_INVALIDARG;
  mappings_.push_back({host, folder, access});
  return S_OK;
}

void View::Close() {
  closed_ = true;
  NavigationStarting.Clear();
  FrameNavigationStarting.Clear();
  NavigationCompleted.Clear();
  WebMessageReceived.Clear();
  NewWindowRequested.Clear();
  PermissionRequested.Clear();
  ProcessFailed.Clear();
  WebResourceRequested.Clear();
  DownloadStarting.Clear();
}

void View::BrowserExited() {
  if (browserExitAction_) browserExitAction_();
  Close();
}

// --- Controller ----------------------------------------------------------------------

Controller::Controller(HWND parent) : Object("ICoreWebView2Controller"), parent_(parent) {
  RegisterChildClass();
  child_ = CreateWindowExW(0, kChildClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0, 0, 0,
                           parent, nullptr, Module(), nullptr);
  if (child_ != nullptr) ChildWindows().push_back(child_);
  view_ = Make<View>();
  view_->SetBrowserExitAction([this] { DestroyChild(child_); });
}

Controller::~Controller() {
  view_->SetBrowserExitAction(nullptr);  // the view may outlive the controller
  DestroyChild(child_);
}

HRESULT Controller::get_IsVisible(BOOL* visible) {
  RecordCall("ICoreWebView2Controller.get_IsVisible");
  if (visible == nullptr) return E_POINTER;
  *visible = visible_;
  return S_OK;
}

HRESULT Controller::put_IsVisible(BOOL visible) {
  RecordCall("ICoreWebView2Controller.put_IsVisible", Boolean(visible));
  visible_ = visible;
  if (child_ != nullptr) ShowWindow(child_, visible ? SW_SHOWNA : SW_HIDE);
  return S_OK;
}

HRESULT Controller::get_Bounds(RECT* bounds) {
  RecordCall("ICoreWebView2Controller.get_Bounds");
  if (bounds == nullptr) return E_POINTER;
  *bounds = bounds_;
  return S_OK;
}

HRESULT Controller::put_Bounds(RECT bounds) {
  RecordCall("ICoreWebView2Controller.put_Bounds", bounds.left, bounds.top, bounds.right,
             bounds.bottom);
  bounds_ = bounds;
  if (child_ != nullptr) {
    SetWindowPos(child_, nullptr, bounds.left, bounds.top, bounds.right - bounds.left,
                 bounds.bottom - bounds.top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return S_OK;
}

HRESULT Controller::MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) {
  RecordCall("ICoreWebView2Controller.MoveFocus", static_cast<int>(reason));
  if (child_ == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  SetFocus(child_);
  return S_OK;
}

HRESULT Controller::NotifyParentWindowPositionChanged() {
  RecordCall("ICoreWebView2Controller.NotifyParentWindowPositionChanged");
  return S_OK;
}

HRESULT Controller::Close() {
  RecordCall("ICoreWebView2Controller.Close");
  DestroyChild(child_);
  view_->Close();
  return S_OK;
}

HRESULT Controller::get_CoreWebView2(ICoreWebView2** view) {
  RecordCall("ICoreWebView2Controller.get_CoreWebView2");
  if (view == nullptr) return E_POINTER;
  *view = nullptr;
  if (Mode("fail-get_CoreWebView2")) return E_FAIL;
  *view = view_.Get();
  (*view)->AddRef();
  return S_OK;
}

HRESULT Controller::get_ParentWindow(HWND* parent) {
  RecordCall("ICoreWebView2Controller.get_ParentWindow");
  if (parent == nullptr) return E_POINTER;
  *parent = parent_;
  return S_OK;
}

HRESULT Controller::get_DefaultBackgroundColor(COREWEBVIEW2_COLOR* color) {
  RecordCall("ICoreWebView2Controller2.get_DefaultBackgroundColor");
  if (color == nullptr) return E_POINTER;
  *color = background_;
  return S_OK;
}

HRESULT Controller::put_DefaultBackgroundColor(COREWEBVIEW2_COLOR color) {
  RecordCall("ICoreWebView2Controller2.put_DefaultBackgroundColor", color.A, color.R, color.G,
             color.B);
  background_ = color;
  return S_OK;
}

// --- Environment ---------------------------------------------------------------------

void CompleteController(HWND parent,
                        ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> handler) {
  ComPtr<Controller> controller;
  HRESULT result = PlannedFailure("controller-completion");
  if (SUCCEEDED(result) && Mode("fail-controller-completion")) result = E_FAIL;
  if (SUCCEEDED(result) && !IsWindow(parent))
    result = HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  if (SUCCEEDED(result)) controller = Make<Controller>(parent);
  RecordCall("raise", "ControllerCompleted", json{{"result", Result(result)}});
  const HRESULT returned = handler->Invoke(result, controller.Get());
  RecordCall("raised", "ControllerCompleted", json{{"results", json::array({Result(returned)})}});
}

HRESULT Environment::CreateCoreWebView2Controller(
    HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
  RecordCall("ICoreWebView2Environment.CreateCoreWebView2Controller", Number(parent));
  if (handler == nullptr) return E_POINTER;
  Witness(handler, "CreateCoreWebView2Controller completed handler");
  if (Mode("fail-controller-call")) return E_FAIL;
  if (!IsWindow(parent)) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> held(handler);
  auto complete = [parent, held] { CompleteController(parent, held); };
  if (Mode("hold-controller")) {
    Hold("controller", complete);
  } else {
    Post(complete);
  }
  return S_OK;
}

HRESULT Environment::CreateWebResourceResponse(IStream* content, int status, LPCWSTR reason,
                                               LPCWSTR headers,
                                               ICoreWebView2WebResourceResponse** response) {
  RecordCall("ICoreWebView2Environment.CreateWebResourceResponse", content != nullptr, status,
             Text(reason), Text(headers));
  if (response == nullptr) return E_POINTER;
  Witness(content, "IStream of a web resource response");
  ComPtr<Response> made =
      Make<Response>(content, status, reason ? reason : L"", headers ? headers : L"");
  *response = made.Detach();
  return S_OK;
}

HRESULT Environment::get_BrowserVersionString(LPWSTR* version) {
  RecordCall("ICoreWebView2Environment.get_BrowserVersionString");
  return CopyOut(L"152.0.4191.47 stand-in", version);
}

}  // namespace standin
