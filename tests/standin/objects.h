#pragma once

// The stand-in's COM objects: environment, controller, view, settings, web resource
// response and the event arguments the program's handlers read and write. Each records
// the calls the program makes on it.

#include <filesystem>
#include <functional>
#include <utility>

#include "standin.h"

namespace standin {

json Boolean(BOOL value);

// --- Event arguments ---------------------------------------------------------------

class WebMessageArgs final : public Object<ICoreWebView2WebMessageReceivedEventArgsStubs,
                                           ICoreWebView2WebMessageReceivedEventArgs> {
 public:
  WebMessageArgs(std::optional<std::wstring> source, std::optional<std::wstring> message)
      : Object("ICoreWebView2WebMessageReceivedEventArgs"),
        source_(std::move(source)),
        message_(std::move(message)) {}
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* source) override;
  HRESULT STDMETHODCALLTYPE get_WebMessageAsJson(LPWSTR* message) override;

 private:
  std::optional<std::wstring> source_;
  std::optional<std::wstring> message_;
};

class NavigationStartingArgs final : public Object<ICoreWebView2NavigationStartingEventArgsStubs,
                                                   ICoreWebView2NavigationStartingEventArgs> {
 public:
  NavigationStartingArgs(std::wstring uri, UINT64 navigationId)
      : Object("ICoreWebView2NavigationStartingEventArgs"),
        uri_(std::move(uri)),
        navigationId_(navigationId) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_IsRedirected(BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override;
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override;
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override;
  bool cancelled() const { return cancel_ != FALSE; }

 private:
  std::wstring uri_;
  UINT64 navigationId_;
  BOOL cancel_ = FALSE;
};

class NavigationCompletedArgs final : public Object<ICoreWebView2NavigationCompletedEventArgsStubs,
                                                    ICoreWebView2NavigationCompletedEventArgs> {
 public:
  NavigationCompletedArgs(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status, UINT64 navigationId)
      : Object("ICoreWebView2NavigationCompletedEventArgs"),
        success_(success),
        status_(status),
        navigationId_(navigationId) {}
  HRESULT STDMETHODCALLTYPE get_IsSuccess(BOOL* success) override;
  HRESULT STDMETHODCALLTYPE get_WebErrorStatus(COREWEBVIEW2_WEB_ERROR_STATUS* status) override;
  HRESULT STDMETHODCALLTYPE get_NavigationId(UINT64* id) override;

 private:
  bool success_;
  COREWEBVIEW2_WEB_ERROR_STATUS status_;
  UINT64 navigationId_;
};

class ProcessFailedArgs final
    : public Object<ICoreWebView2ProcessFailedEventArgsStubs, ICoreWebView2ProcessFailedEventArgs> {
 public:
  explicit ProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND kind)
      : Object("ICoreWebView2ProcessFailedEventArgs"), kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_ProcessFailedKind(COREWEBVIEW2_PROCESS_FAILED_KIND* kind) override;

 private:
  COREWEBVIEW2_PROCESS_FAILED_KIND kind_;
};

class NewWindowArgs final : public Object<ICoreWebView2NewWindowRequestedEventArgsStubs,
                                          ICoreWebView2NewWindowRequestedEventArgs> {
 public:
  explicit NewWindowArgs(std::wstring uri)
      : Object("ICoreWebView2NewWindowRequestedEventArgs"), uri_(std::move(uri)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* window) override;
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override;
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override;
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override;
  bool handled() const { return handled_ != FALSE; }
  bool windowGiven() const { return windowGiven_; }

 private:
  std::wstring uri_;
  BOOL handled_ = FALSE;
  bool windowGiven_ = false;
};

class PermissionArgs final : public Object<ICoreWebView2PermissionRequestedEventArgsStubs,
                                           ICoreWebView2PermissionRequestedEventArgs> {
 public:
  PermissionArgs(std::wstring uri, COREWEBVIEW2_PERMISSION_KIND kind)
      : Object("ICoreWebView2PermissionRequestedEventArgs"), uri_(std::move(uri)), kind_(kind) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) override;
  HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* value) override;
  HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* state) override;
  HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) override;
  int state() const { return static_cast<int>(state_); }

 private:
  std::wstring uri_;
  COREWEBVIEW2_PERMISSION_KIND kind_;
  COREWEBVIEW2_PERMISSION_STATE state_ = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
};

class DownloadArgs final : public Object<ICoreWebView2DownloadStartingEventArgsStubs,
                                         ICoreWebView2DownloadStartingEventArgs> {
 public:
  DownloadArgs() : Object("ICoreWebView2DownloadStartingEventArgs") {}
  HRESULT STDMETHODCALLTYPE get_Cancel(BOOL* cancel) override;
  HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override;
  HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override;
  HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override;
  bool cancelled() const { return cancel_ != FALSE; }

 private:
  BOOL cancel_ = FALSE;
  BOOL handled_ = FALSE;
};

// A response made by the environment from the program's stream, status, reason and
// header text.
class Response final
    : public Object<ICoreWebView2WebResourceResponseStubs, ICoreWebView2WebResourceResponse> {
 public:
  Response(IStream* content, int status, std::wstring reason, std::wstring headers);
  ~Response() override;
  HRESULT STDMETHODCALLTYPE get_StatusCode(int* status) override;
  HRESULT STDMETHODCALLTYPE get_ReasonPhrase(LPWSTR* reason) override;
  // What the runtime would send: status, reason, header text and the stream's bytes.
  json Describe();
  int status() const { return status_; }
  // The stream's bytes.
  std::string Body();
  void DropForeign() override { content_.Reset(); }

 private:
  ComPtr<IStream> content_;
  int status_;
  std::wstring reason_;
  std::wstring headers_;
};

// The responses alive, to recognise ours among what the program hands back.
std::vector<Response*>& Responses();

// The request the runtime makes, as the program's handler reads it.
class Request final
    : public Object<ICoreWebView2WebResourceRequestStubs, ICoreWebView2WebResourceRequest> {
 public:
  Request(std::wstring uri, std::wstring method)
      : Object("ICoreWebView2WebResourceRequest"),
        uri_(std::move(uri)),
        method_(std::move(method)) {}
  HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE get_Method(LPWSTR* method) override;

 private:
  std::wstring uri_;
  std::wstring method_;
};

class ResourceArgs final : public Object<ICoreWebView2WebResourceRequestedEventArgsStubs,
                                         ICoreWebView2WebResourceRequestedEventArgs> {
 public:
  ResourceArgs(COREWEBVIEW2_WEB_RESOURCE_CONTEXT context, std::wstring uri, std::wstring method)
      : Object("ICoreWebView2WebResourceRequestedEventArgs"),
        context_(context),
        request_(Make<Request>(std::move(uri), std::move(method))) {}
  HRESULT STDMETHODCALLTYPE get_Request(ICoreWebView2WebResourceRequest** request) override;
  HRESULT STDMETHODCALLTYPE put_Response(ICoreWebView2WebResourceResponse* response) override;
  HRESULT STDMETHODCALLTYPE get_Response(ICoreWebView2WebResourceResponse** response) override;
  HRESULT STDMETHODCALLTYPE
  get_ResourceContext(COREWEBVIEW2_WEB_RESOURCE_CONTEXT* context) override;
  // The response the handlers set, if it is one of ours.
  Response* response() const;
  void DropForeign() override { response_.Reset(); }

 private:
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT context_;
  ComPtr<Request> request_;
  ComPtr<ICoreWebView2WebResourceResponse> response_;
};

// --- Handlers ---------------------------------------------------------------------

// The handlers registered for one event, each kept with its token until removed or the
// view closes.
template <class Handler>
class Handlers {
 public:
  HRESULT Add(const char* event, Handler* handler, EventRegistrationToken* token) {
    RecordCall(std::string(event));
    if (handler == nullptr || token == nullptr) return E_POINTER;
    Witness(handler, std::string(event) + " handler");
    token->value = ++NextToken();
    list_.emplace_back(token->value, handler);
    return S_OK;
  }
  HRESULT Remove(const char* event, EventRegistrationToken token) {
    RecordCall(std::string(event), token.value);
    std::erase_if(list_, [&](const auto& entry) { return entry.first == token.value; });
    return S_OK;
  }
  // Invokes every handler in registration order; the results, in the same order.
  template <class Sender, class Args>
  std::vector<HRESULT> Raise(Sender* sender, Args* args) {
    const auto handlers = list_;  // a handler may register or remove others
    std::vector<HRESULT> results;
    for (const auto& entry : handlers) results.push_back(entry.second->Invoke(sender, args));
    return results;
  }
  void Clear() { list_.clear(); }

 private:
  static INT64& NextToken() {
    static INT64 token = 0;
    return token;
  }
  std::vector<std::pair<INT64, ComPtr<Handler>>> list_;
};

// --- Settings, view, controller, environment ---------------------------------------

class Settings final
    : public Object<ICoreWebView2Settings9Stubs, ICoreWebView2Settings, ICoreWebView2Settings2,
                    ICoreWebView2Settings3, ICoreWebView2Settings4, ICoreWebView2Settings5,
                    ICoreWebView2Settings6, ICoreWebView2Settings7, ICoreWebView2Settings8,
                    ICoreWebView2Settings9> {
 public:
  Settings() : Object("ICoreWebView2Settings") {}
#define STANDIN_SETTING(Interface, Name, initial)              \
  HRESULT STDMETHODCALLTYPE get_##Name(BOOL* value) override { \
    RecordCall(#Interface ".get_" #Name);                      \
    if (value == nullptr) return E_POINTER;                    \
    *value = Name##_;                                          \
    return S_OK;                                               \
  }                                                            \
  HRESULT STDMETHODCALLTYPE put_##Name(BOOL value) override {  \
    RecordCall(#Interface ".put_" #Name, Boolean(value));      \
    Name##_ = value;                                           \
    return S_OK;                                               \
  }                                                            \
                                                               \
 private:                                                      \
  BOOL Name##_ = initial;                                      \
                                                               \
 public:
  STANDIN_SETTING(ICoreWebView2Settings, IsScriptEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, IsWebMessageEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, AreDefaultScriptDialogsEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, IsStatusBarEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, AreDevToolsEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, AreDefaultContextMenusEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, AreHostObjectsAllowed, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, IsZoomControlEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings, IsBuiltInErrorPageEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings3, AreBrowserAcceleratorKeysEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings4, IsPasswordAutosaveEnabled, FALSE)
  STANDIN_SETTING(ICoreWebView2Settings4, IsGeneralAutofillEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings5, IsPinchZoomEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings6, IsSwipeNavigationEnabled, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings8, IsReputationCheckingRequired, TRUE)
  STANDIN_SETTING(ICoreWebView2Settings9, IsNonClientRegionSupportEnabled, FALSE)
#undef STANDIN_SETTING
  HRESULT STDMETHODCALLTYPE
  get_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS* value) override {
    RecordCall("ICoreWebView2Settings7.get_HiddenPdfToolbarItems");
    if (value == nullptr) return E_POINTER;
    *value = hiddenPdfToolbarItems_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE
  put_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS value) override {
    RecordCall("ICoreWebView2Settings7.put_HiddenPdfToolbarItems", static_cast<int>(value));
    hiddenPdfToolbarItems_ = value;
    return S_OK;
  }

 private:
  COREWEBVIEW2_PDF_TOOLBAR_ITEMS hiddenPdfToolbarItems_ = COREWEBVIEW2_PDF_TOOLBAR_ITEMS_NONE;
};

struct Filter {
  std::wstring uri;  // may hold * wildcards
  COREWEBVIEW2_WEB_RESOURCE_CONTEXT context;
};

struct Mapping {
  std::wstring host;
  std::filesystem::path folder;
  COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND access;
};

class View final : public Object<ICoreWebView2_4Stubs, ICoreWebView2, ICoreWebView2_2,
                                 ICoreWebView2_3, ICoreWebView2_4> {
 public:
  View();
  ~View() override;

  HRESULT STDMETHODCALLTYPE get_Settings(ICoreWebView2Settings** settings) override;
  HRESULT STDMETHODCALLTYPE get_Source(LPWSTR* uri) override;
  HRESULT STDMETHODCALLTYPE Navigate(LPCWSTR uri) override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsJson(LPCWSTR message) override;
  HRESULT STDMETHODCALLTYPE PostWebMessageAsString(LPCWSTR message) override;
  HRESULT STDMETHODCALLTYPE
  AddWebResourceRequestedFilter(LPCWSTR uri, COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) override;
  HRESULT STDMETHODCALLTYPE SetVirtualHostNameToFolderMapping(
      LPCWSTR host, LPCWSTR folder, COREWEBVIEW2_HOST_RESOURCE_ACCESS_KIND access) override;

#define STANDIN_EVENT(Interface, Name, Handler)                                                    \
  HRESULT STDMETHODCALLTYPE add_##Name(Handler* handler, EventRegistrationToken* token) override { \
    return Name.Add(#Interface ".add_" #Name, handler, token);                                     \
  }                                                                                                \
  HRESULT STDMETHODCALLTYPE remove_##Name(EventRegistrationToken token) override {                 \
    return Name.Remove(#Interface ".remove_" #Name, token);                                        \
  }                                                                                                \
  Handlers<Handler> Name;
  STANDIN_EVENT(ICoreWebView2, NavigationStarting, ICoreWebView2NavigationStartingEventHandler)
  STANDIN_EVENT(ICoreWebView2, FrameNavigationStarting, ICoreWebView2NavigationStartingEventHandler)
  STANDIN_EVENT(ICoreWebView2, NavigationCompleted, ICoreWebView2NavigationCompletedEventHandler)
  STANDIN_EVENT(ICoreWebView2, WebMessageReceived, ICoreWebView2WebMessageReceivedEventHandler)
  STANDIN_EVENT(ICoreWebView2, NewWindowRequested, ICoreWebView2NewWindowRequestedEventHandler)
  STANDIN_EVENT(ICoreWebView2, PermissionRequested, ICoreWebView2PermissionRequestedEventHandler)
  STANDIN_EVENT(ICoreWebView2, ProcessFailed, ICoreWebView2ProcessFailedEventHandler)
  STANDIN_EVENT(ICoreWebView2, WebResourceRequested, ICoreWebView2WebResourceRequestedEventHandler)
  STANDIN_EVENT(ICoreWebView2_4, DownloadStarting, ICoreWebView2DownloadStartingEventHandler)
#undef STANDIN_EVENT

  // The controller closed: no more events, and the handlers are let go.
  void Close();
  bool closed() const { return closed_; }
  // The browser process exited: the view and its controller are closed for good, the
  // browser's window is gone. `action` is what the controller does then.
  void BrowserExited();
  void SetBrowserExitAction(std::function<void()> action) {
    browserExitAction_ = std::move(action);
  }
  void DropForeign() override { Close(); }

  const std::vector<Filter>& filters() const { return filters_; }
  const std::vector<Mapping>& mappings() const { return mappings_; }
  void SetSource(std::wstring uri) { source_ = std::move(uri); }
  UINT64 NextNavigationId() { return ++navigationId_; }

 private:
  ComPtr<Settings> settings_;
  std::vector<Filter> filters_;
  std::vector<Mapping> mappings_;
  std::wstring source_ = L"about:blank";
  UINT64 navigationId_ = 0;
  bool closed_ = false;
  std::function<void()> browserExitAction_;
};

class Controller final : public Object<ICoreWebView2Controller2Stubs, ICoreWebView2Controller,
                                       ICoreWebView2Controller2> {
 public:
  explicit Controller(HWND parent);
  ~Controller() override;

  HRESULT STDMETHODCALLTYPE get_IsVisible(BOOL* visible) override;
  HRESULT STDMETHODCALLTYPE put_IsVisible(BOOL visible) override;
  HRESULT STDMETHODCALLTYPE get_Bounds(RECT* bounds) override;
  HRESULT STDMETHODCALLTYPE put_Bounds(RECT bounds) override;
  HRESULT STDMETHODCALLTYPE MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON reason) override;
  HRESULT STDMETHODCALLTYPE NotifyParentWindowPositionChanged() override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE get_CoreWebView2(ICoreWebView2** view) override;
  HRESULT STDMETHODCALLTYPE get_ParentWindow(HWND* parent) override;
  HRESULT STDMETHODCALLTYPE get_DefaultBackgroundColor(COREWEBVIEW2_COLOR* color) override;
  HRESULT STDMETHODCALLTYPE put_DefaultBackgroundColor(COREWEBVIEW2_COLOR color) override;

 private:
  HWND parent_;
  HWND child_ = nullptr;  // the browser's window inside the parent; destroyed on Close
  ComPtr<View> view_;
  BOOL visible_ = TRUE;
  RECT bounds_{};
  COREWEBVIEW2_COLOR background_{255, 255, 255, 255};
};

class Environment final : public Object<ICoreWebView2EnvironmentStubs, ICoreWebView2Environment> {
 public:
  Environment() : Object("ICoreWebView2Environment") {}
  HRESULT STDMETHODCALLTYPE CreateCoreWebView2Controller(
      HWND parent, ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) override;
  HRESULT STDMETHODCALLTYPE
  CreateWebResourceResponse(IStream* content, int status, LPCWSTR reason, LPCWSTR headers,
                            ICoreWebView2WebResourceResponse** response) override;
  HRESULT STDMETHODCALLTYPE get_BrowserVersionString(LPWSTR* version) override;
};

// Creates the controller for `parent` and reports it to the handler; fails as the
// test's modes say.
void CompleteController(HWND parent,
                        ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> handler);

}  // namespace standin
