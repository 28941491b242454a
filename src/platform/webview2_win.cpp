#include <windows.h>

#include <objbase.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/secure_wipe.h"
#include "base/unique_handle_win.h"
#include "base/wide_win.h"
#include "platform/webview2_uuids_win.h"
#include "platform/webview2_win.h"
#include "platform/window_handle_win.h"

namespace vardeko {
namespace {

using Microsoft::WRL::ComPtr;

constexpr wchar_t kTargetBrowserVersion[] = L"152.0.4191.47";

// A COM object counted atomically and freed by its last Release; the base of our
// handlers and of the options object (MinGW has no wrl/implements.h).
template <class Interface>
class ComObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (id == __uuidof(IUnknown) || id == __uuidof(Interface)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  std::atomic<ULONG> references_{1};
};

// A completion or event handler that forwards Invoke to a function. Exceptions never
// cross into the runtime: a handler that throws reports success and is done.
template <class Interface, class... Args>
class Callback final : public ComObject<Interface> {
 public:
  explicit Callback(std::function<HRESULT(Args...)> function) : function_(std::move(function)) {}

  HRESULT STDMETHODCALLTYPE Invoke(Args... args) override {
    try {
      return function_(args...);
    } catch (...) {
      return S_OK;
    }
  }

 private:
  std::function<HRESULT(Args...)> function_;
};

// Takes over the one reference a new object starts with. MinGW's ComPtr::Attach adds a
// reference of its own (the Windows SDK's does not), so an object handed to it is never
// freed.
template <class Interface>
ComPtr<Interface> TakeOwnership(Interface* fresh) {
  ComPtr<Interface> owner;
  *owner.GetAddressOf() = fresh;
  return owner;
}

template <class Interface, class... Args, class Function>
ComPtr<Interface> MakeCallback(Function function) {
  return TakeOwnership<Interface>(new Callback<Interface, Args...>(std::move(function)));
}

// A view event handler: wraps the runtime's arguments in `Adapter` and calls `handler`
// with them. The event reports success, or the handler's own result when it has one.
template <class Interface, class RawArgs, class Adapter, class Handler>
ComPtr<Interface> ViewEventHandler(Handler handler) {
  return MakeCallback<Interface, ICoreWebView2*, RawArgs*>(
      [handler = std::move(handler)](ICoreWebView2*, RawArgs* raw) -> HRESULT {
        Adapter adapted(raw);
        if constexpr (std::is_void_v<std::invoke_result_t<const Handler&, Adapter&>>) {
          handler(adapted);
          return S_OK;
        } else {
          return static_cast<HRESULT>(handler(adapted));
        }
      });
}

// Environment options with the SDK's defaults: the target version this SDK was built
// for, no single sign-on, no language, no extra arguments.
class EnvironmentOptions final : public ComObject<ICoreWebView2EnvironmentOptions> {
 public:
  HRESULT STDMETHODCALLTYPE get_AdditionalBrowserArguments(LPWSTR* value) override {
    return Copy(arguments_, value);
  }
  HRESULT STDMETHODCALLTYPE put_AdditionalBrowserArguments(LPCWSTR value) override {
    return Assign(arguments_, value);
  }
  HRESULT STDMETHODCALLTYPE get_Language(LPWSTR* value) override { return Copy(language_, value); }
  HRESULT STDMETHODCALLTYPE put_Language(LPCWSTR value) override {
    return Assign(language_, value);
  }
  HRESULT STDMETHODCALLTYPE get_TargetCompatibleBrowserVersion(LPWSTR* value) override {
    return Copy(targetVersion_, value);
  }
  HRESULT STDMETHODCALLTYPE put_TargetCompatibleBrowserVersion(LPCWSTR value) override {
    return Assign(targetVersion_, value);
  }
  HRESULT STDMETHODCALLTYPE get_AllowSingleSignOnUsingOSPrimaryAccount(BOOL* allow) override {
    if (allow == nullptr) return E_POINTER;
    *allow = allowSingleSignOn_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_AllowSingleSignOnUsingOSPrimaryAccount(BOOL allow) override {
    allowSingleSignOn_ = allow;
    return S_OK;
  }

 private:
  // The runtime frees what a getter returns with CoTaskMemFree.
  static HRESULT Copy(const std::wstring& text, LPWSTR* value) {
    if (value == nullptr) return E_POINTER;
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *value = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*value == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*value, text.c_str(), bytes);
    return S_OK;
  }
  static HRESULT Assign(std::wstring& text, LPCWSTR value) {
    try {
      text = value == nullptr ? L"" : value;
      return S_OK;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }

  std::wstring arguments_;
  std::wstring language_;
  std::wstring targetVersion_ = kTargetBrowserVersion;
  BOOL allowSingleSignOn_ = FALSE;
};

class OptionsAdapter final : public BrowserEnvironmentOptions {
 public:
  OptionsAdapter()
      : options_(TakeOwnership<ICoreWebView2EnvironmentOptions>(new EnvironmentOptions())) {}
  BrowserResult SetAdditionalBrowserArguments(std::u16string_view arguments) override {
    return options_->put_AdditionalBrowserArguments(Terminated(arguments).c_str());
  }
  BrowserResult SetLanguage(std::u16string_view language) override {
    return options_->put_Language(Terminated(language).c_str());
  }
  ICoreWebView2EnvironmentOptions* get() const { return options_.Get(); }

 private:
  ComPtr<ICoreWebView2EnvironmentOptions> options_;
};

// --- Event arguments ---------------------------------------------------------------

class WebMessageArgs final : public WebMessageReceivedArgs {
 public:
  explicit WebMessageArgs(ICoreWebView2WebMessageReceivedEventArgs* args) : args_(args) {}
  std::optional<std::u16string_view> Source() override {
    if (FAILED(args_->get_Source(source_.put())) || !source_) return std::nullopt;
    return AsUtf16View(source_.get());
  }
  std::optional<std::u16string_view> WebMessageAsJson() override {
    if (FAILED(args_->get_WebMessageAsJson(json_.put()))) return std::nullopt;
    return AsUtf16View(json_.get());  // a null text reads as empty
  }
  void ReleaseText() noexcept override { json_.reset(); }

 private:
  // The runtime's copy of the message is ours to free; it may carry a password.
  static void WipeAndFree(PWSTR text) noexcept {
    SecureWipe(text, std::wcslen(text) * sizeof(wchar_t));
    CoTaskMemFree(text);
  }

  ICoreWebView2WebMessageReceivedEventArgs* args_;
  UniqueCoTaskMemString source_;
  UniqueResource<PWSTR, &WipeAndFree> json_;
};

class NavigationArgs final : public NavigationStartingArgs {
 public:
  explicit NavigationArgs(ICoreWebView2NavigationStartingEventArgs* args) : args_(args) {}
  std::optional<std::u16string> Uri() override {
    UniqueCoTaskMemString uri;
    if (FAILED(args_->get_Uri(uri.put())) || !uri) return std::nullopt;
    return std::u16string(AsUtf16View(uri.get()));
  }
  void Cancel() override { args_->put_Cancel(TRUE); }

 private:
  ICoreWebView2NavigationStartingEventArgs* args_;
};

class CompletedArgs final : public NavigationCompletedArgs {
 public:
  explicit CompletedArgs(ICoreWebView2NavigationCompletedEventArgs* args) : args_(args) {}
  std::optional<bool> IsSuccess() override {
    BOOL success = FALSE;
    if (FAILED(args_->get_IsSuccess(&success))) return std::nullopt;
    return success != FALSE;
  }

 private:
  ICoreWebView2NavigationCompletedEventArgs* args_;
};

class FailedArgs final : public ProcessFailedArgs {
 public:
  explicit FailedArgs(ICoreWebView2ProcessFailedEventArgs* args) : args_(args) {}
  std::optional<int> Kind() override {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind;
    if (FAILED(args_->get_ProcessFailedKind(&kind))) return std::nullopt;
    return static_cast<int>(kind);
  }

 private:
  ICoreWebView2ProcessFailedEventArgs* args_;
};

class NewWindowArgs final : public NewWindowRequestedArgs {
 public:
  explicit NewWindowArgs(ICoreWebView2NewWindowRequestedEventArgs* args) : args_(args) {}
  void Handle() override { args_->put_Handled(TRUE); }

 private:
  ICoreWebView2NewWindowRequestedEventArgs* args_;
};

class PermissionArgs final : public PermissionRequestedArgs {
 public:
  explicit PermissionArgs(ICoreWebView2PermissionRequestedEventArgs* args) : args_(args) {}
  void Deny() override { args_->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY); }

 private:
  ICoreWebView2PermissionRequestedEventArgs* args_;
};

class DownloadArgs final : public DownloadStartingArgs {
 public:
  explicit DownloadArgs(ICoreWebView2DownloadStartingEventArgs* args) : args_(args) {}
  void Cancel() override { args_->put_Cancel(TRUE); }

 private:
  ICoreWebView2DownloadStartingEventArgs* args_;
};

class Response final : public WebResourceResponse {
 public:
  explicit Response(ComPtr<ICoreWebView2WebResourceResponse> response)
      : response_(std::move(response)) {}
  ICoreWebView2WebResourceResponse* get() const { return response_.Get(); }

 private:
  ComPtr<ICoreWebView2WebResourceResponse> response_;
};

class ResourceArgs final : public WebResourceRequestedArgs {
 public:
  explicit ResourceArgs(ICoreWebView2WebResourceRequestedEventArgs* args) : args_(args) {}
  std::optional<std::u16string> Uri() override {
    return Read(&ICoreWebView2WebResourceRequest::get_Uri);
  }
  std::optional<std::u16string> Method() override {
    return Read(&ICoreWebView2WebResourceRequest::get_Method);
  }
  BrowserResult SetResponse(WebResourceResponse& response) override {
    return args_->put_Response(static_cast<Response&>(response).get());
  }

 private:
  std::optional<std::u16string> Read(
      HRESULT (STDMETHODCALLTYPE ICoreWebView2WebResourceRequest::*getter)(LPWSTR*)) {
    if (!request_ && (FAILED(args_->get_Request(&request_)) || !request_)) return std::nullopt;
    UniqueCoTaskMemString text;
    if (FAILED((request_.Get()->*getter)(text.put())) || !text) return std::nullopt;
    return std::u16string(AsUtf16View(text.get()));
  }

  ICoreWebView2WebResourceRequestedEventArgs* args_;
  ComPtr<ICoreWebView2WebResourceRequest> request_;
};

// --- Settings, view, controller, environment -----------------------------------------

class Settings final : public BrowserSettings {
 public:
  explicit Settings(ComPtr<ICoreWebView2Settings> settings) : settings_(std::move(settings)) {}
  void SetHostObjectsAllowed(bool v) override { settings_->put_AreHostObjectsAllowed(v); }
  void SetStatusBarEnabled(bool v) override { settings_->put_IsStatusBarEnabled(v); }
  void SetDefaultContextMenusEnabled(bool v) override {
    settings_->put_AreDefaultContextMenusEnabled(v);
  }
  void SetDevToolsEnabled(bool v) override { settings_->put_AreDevToolsEnabled(v); }
  void SetZoomControlEnabled(bool v) override { settings_->put_IsZoomControlEnabled(v); }
  void SetDefaultScriptDialogsEnabled(bool v) override {
    settings_->put_AreDefaultScriptDialogsEnabled(v);
  }
  bool SetBrowserAcceleratorKeysEnabled(bool v) override {
    ComPtr<ICoreWebView2Settings3> settings3;
    if (FAILED(settings_.As(&settings3))) return false;
    settings3->put_AreBrowserAcceleratorKeysEnabled(v);
    return true;
  }
  bool SetAutofillEnabled(bool general, bool passwordAutosave) override {
    ComPtr<ICoreWebView2Settings4> settings4;
    if (FAILED(settings_.As(&settings4))) return false;
    settings4->put_IsGeneralAutofillEnabled(general);
    settings4->put_IsPasswordAutosaveEnabled(passwordAutosave);
    return true;
  }
  bool SetPinchZoomEnabled(bool v) override {
    ComPtr<ICoreWebView2Settings5> settings5;
    if (FAILED(settings_.As(&settings5))) return false;
    settings5->put_IsPinchZoomEnabled(v);
    return true;
  }
  bool SetSwipeNavigationEnabled(bool v) override {
    ComPtr<ICoreWebView2Settings6> settings6;
    if (FAILED(settings_.As(&settings6))) return false;
    settings6->put_IsSwipeNavigationEnabled(v);
    return true;
  }
  bool SetNonClientRegionSupportEnabled(bool v) override {
    ComPtr<ICoreWebView2Settings9> settings9;
    if (FAILED(settings_.As(&settings9))) return false;
    settings9->put_IsNonClientRegionSupportEnabled(v);
    return true;
  }

 private:
  ComPtr<ICoreWebView2Settings> settings_;
};

class View final : public BrowserView {
 public:
  explicit View(ComPtr<ICoreWebView2> view) : view_(std::move(view)) {}

  void PostWebMessageAsJson(const std::u16string& json) override {
    view_->PostWebMessageAsJson(AsWide(json));
  }
  BrowserResult GetSettings(std::unique_ptr<BrowserSettings>& settings) override {
    ComPtr<ICoreWebView2Settings> raw;
    const HRESULT result = view_->get_Settings(&raw);
    if (SUCCEEDED(result) && raw) settings = std::make_unique<Settings>(std::move(raw));
    return result;
  }

  // Registration tokens are not kept: no handler is ever removed.
  BrowserResult AddProcessFailed(BrowserEvent<ProcessFailedArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_ProcessFailed(
        ViewEventHandler<ICoreWebView2ProcessFailedEventHandler,
                         ICoreWebView2ProcessFailedEventArgs, FailedArgs>(std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddWebMessageReceived(BrowserEvent<WebMessageReceivedArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_WebMessageReceived(
        ViewEventHandler<ICoreWebView2WebMessageReceivedEventHandler,
                         ICoreWebView2WebMessageReceivedEventArgs, WebMessageArgs>(
            std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddNavigationStarting(BrowserEvent<NavigationStartingArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_NavigationStarting(NavigationHandler(std::move(handler)).Get(), &token);
  }
  BrowserResult AddFrameNavigationStarting(BrowserEvent<NavigationStartingArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_FrameNavigationStarting(NavigationHandler(std::move(handler)).Get(), &token);
  }
  BrowserResult AddNewWindowRequested(BrowserEvent<NewWindowRequestedArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_NewWindowRequested(
        ViewEventHandler<ICoreWebView2NewWindowRequestedEventHandler,
                         ICoreWebView2NewWindowRequestedEventArgs, NewWindowArgs>(
            std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddPermissionRequested(BrowserEvent<PermissionRequestedArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_PermissionRequested(
        ViewEventHandler<ICoreWebView2PermissionRequestedEventHandler,
                         ICoreWebView2PermissionRequestedEventArgs, PermissionArgs>(
            std::move(handler))
            .Get(),
        &token);
  }
  std::optional<BrowserResult> AddDownloadStarting(
      BrowserEvent<DownloadStartingArgs> handler) override {
    ComPtr<ICoreWebView2_4> view4;
    if (FAILED(view_.As(&view4))) return std::nullopt;
    EventRegistrationToken token;
    return view4->add_DownloadStarting(
        ViewEventHandler<ICoreWebView2DownloadStartingEventHandler,
                         ICoreWebView2DownloadStartingEventArgs, DownloadArgs>(std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddNavigationCompleted(BrowserEvent<NavigationCompletedArgs> handler) override {
    EventRegistrationToken token;
    return view_->add_NavigationCompleted(
        ViewEventHandler<ICoreWebView2NavigationCompletedEventHandler,
                         ICoreWebView2NavigationCompletedEventArgs, CompletedArgs>(
            std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddWebResourceRequested(WebResourceRequestedHandler handler) override {
    EventRegistrationToken token;
    return view_->add_WebResourceRequested(
        ViewEventHandler<ICoreWebView2WebResourceRequestedEventHandler,
                         ICoreWebView2WebResourceRequestedEventArgs, ResourceArgs>(
            std::move(handler))
            .Get(),
        &token);
  }
  BrowserResult AddWebResourceRequestedFilter(std::u16string_view uri, int context) override {
    return view_->AddWebResourceRequestedFilter(
        Terminated(uri).c_str(), static_cast<COREWEBVIEW2_WEB_RESOURCE_CONTEXT>(context));
  }
  BrowserResult Navigate(std::u16string_view uri) override {
    return view_->Navigate(Terminated(uri).c_str());
  }

 private:
  // Top-level and frame navigations share one handler and argument type.
  static ComPtr<ICoreWebView2NavigationStartingEventHandler> NavigationHandler(
      BrowserEvent<NavigationStartingArgs> handler) {
    return ViewEventHandler<ICoreWebView2NavigationStartingEventHandler,
                            ICoreWebView2NavigationStartingEventArgs, NavigationArgs>(
        std::move(handler));
  }

  ComPtr<ICoreWebView2> view_;
};

class Controller final : public BrowserController {
 public:
  explicit Controller(ComPtr<ICoreWebView2Controller> controller)
      : controller_(std::move(controller)) {}
  BrowserResult SetBounds(const Bounds& b) override {
    return controller_->put_Bounds(RECT{b.left, b.top, b.right, b.bottom});
  }
  BrowserResult SetVisible(bool visible) override { return controller_->put_IsVisible(visible); }
  bool IsVisible() override {
    BOOL visible = FALSE;
    return SUCCEEDED(controller_->get_IsVisible(&visible)) && visible != FALSE;
  }
  BrowserResult MoveFocus() override {
    return controller_->MoveFocus(COREWEBVIEW2_MOVE_FOCUS_REASON_PROGRAMMATIC);
  }
  void NotifyParentWindowPositionChanged() override {
    controller_->NotifyParentWindowPositionChanged();
  }
  bool SetDefaultBackgroundColor(const Color& c) override {
    ComPtr<ICoreWebView2Controller2> controller2;
    if (FAILED(controller_.As(&controller2))) return false;
    controller2->put_DefaultBackgroundColor(COREWEBVIEW2_COLOR{c.alpha, c.red, c.green, c.blue});
    return true;
  }
  void Close() override { controller_->Close(); }
  BrowserResult GetView(std::unique_ptr<BrowserView>& view) override {
    ComPtr<ICoreWebView2> raw;
    const HRESULT result = controller_->get_CoreWebView2(&raw);
    if (SUCCEEDED(result) && raw) view = std::make_unique<View>(std::move(raw));
    return result;
  }

 private:
  ComPtr<ICoreWebView2Controller> controller_;
};

class Environment final : public BrowserEnvironment {
 public:
  explicit Environment(ComPtr<ICoreWebView2Environment> environment)
      : environment_(std::move(environment)) {}

  BrowserResult CreateController(WindowHandle parent, ControllerCompleted completed) override {
    return environment_->CreateCoreWebView2Controller(
        ToHwnd(parent),
        MakeCallback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, HRESULT,
                     ICoreWebView2Controller*>([completed](HRESULT result,
                                                           ICoreWebView2Controller* controller) {
          completed(result, controller == nullptr
                                ? nullptr
                                : std::make_unique<Controller>(
                                      ComPtr<ICoreWebView2Controller>(controller)));
          return S_OK;
        }).Get());
  }

  BrowserResult CreateWebResourceResponse(std::string_view body, int status,
                                          std::u16string_view reason, std::u16string_view headers,
                                          std::unique_ptr<WebResourceResponse>& response) override {
    // The stream holds its own copy of the bytes; no body, no stream.
    ComPtr<IStream> stream;
    if (!body.empty()) {
      stream = TakeOwnership(SHCreateMemStream(reinterpret_cast<const BYTE*>(body.data()),
                                               static_cast<UINT>(body.size())));
      if (!stream) return E_OUTOFMEMORY;
    }
    ComPtr<ICoreWebView2WebResourceResponse> raw;
    const HRESULT result = environment_->CreateWebResourceResponse(
        stream.Get(), status, Terminated(reason).c_str(), Terminated(headers).c_str(), &raw);
    if (SUCCEEDED(result) && raw) response = std::make_unique<Response>(std::move(raw));
    return result;
  }

 private:
  ComPtr<ICoreWebView2Environment> environment_;
};

using CreateEnvironmentFunction =
    HRESULT(STDAPICALLTYPE*)(PCWSTR, PCWSTR, ICoreWebView2EnvironmentOptions*,
                             ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);

// The loader reads WEBVIEW2_* variables from the process environment and lets them
// override the program's own choices: extra browser arguments such as a debugging port,
// another user data folder, browser, channel or channel search, a wait for a script
// debugger that leaves the page blank. The SDK documents more of them with each release,
// so every variable of that prefix goes, in any case (names are compared as Windows
// does). The program is configured by its own variables only; policies an administrator
// sets in the registry stay in force.
void RemoveLoaderVariables() {
  constexpr std::wstring_view kPrefix = L"WEBVIEW2_";
  std::vector<std::wstring> names;
  {
    const std::unique_ptr<wchar_t, decltype(&FreeEnvironmentStringsW)> block(
        GetEnvironmentStringsW(), &FreeEnvironmentStringsW);
    for (const wchar_t* entry = block.get(); entry != nullptr && *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
      // Entries that start with '=' are the shell's per-drive folders, not variables.
      const std::wstring_view text(entry);
      const std::wstring_view name = text.substr(0, text.find(L'=', 1));
      if (name.size() > kPrefix.size() &&
          CompareStringOrdinal(name.data(), static_cast<int>(kPrefix.size()), kPrefix.data(),
                               static_cast<int>(kPrefix.size()), TRUE) == CSTR_EQUAL) {
        names.emplace_back(name);
      }
    }
  }
  for (const std::wstring& name : names) SetEnvironmentVariableW(name.c_str(), nullptr);
}

// Tasks waiting for their thread timer. A timer procedure gets no context but the
// timer's id, so the tasks are kept here by id. UI thread only.
std::map<UINT_PTR, std::function<void()>>& DelayedTasks() {
  static std::map<UINT_PTR, std::function<void()>> tasks;
  return tasks;
}

void CALLBACK RunDelayedTask(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  const auto found = DelayedTasks().find(timer);
  if (found == DelayedTasks().end()) return;
  const std::function<void()> task = std::move(found->second);
  DelayedTasks().erase(found);
  try {
    task();
  } catch (...) {
    // Exceptions never cross the message loop.
  }
}

class Runtime final : public BrowserRuntime {
 public:
  explicit Runtime(std::filesystem::path loaderPath) : loaderPath_(std::move(loaderPath)) {}
  ~Runtime() override {
    // Only timers still waiting: the id of one that ran may belong to another by now.
    for (UINT_PTR timer : timers_) {
      if (DelayedTasks().erase(timer) > 0) KillTimer(nullptr, timer);
    }
  }
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  void RunLater(std::chrono::milliseconds delay, std::function<void()> task) override {
    // A thread timer: its WM_TIMER comes through the message loop, which calls the
    // procedure.
    const UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(delay.count()), &RunDelayedTask);
    if (timer == 0) throw std::runtime_error("timer");
    DelayedTasks()[timer] = std::move(task);
    timers_.push_back(timer);
  }

  std::unique_ptr<BrowserEnvironmentOptions> CreateOptions() override {
    return std::make_unique<OptionsAdapter>();
  }

  BrowserResult CreateEnvironment(const std::filesystem::path& userDataFolder,
                                  BrowserEnvironmentOptions& options,
                                  EnvironmentCompleted completed) override {
    const CreateEnvironmentFunction create = EntryPoint();
    if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    RemoveLoaderVariables();
    return create(
        nullptr, userDataFolder.c_str(), static_cast<OptionsAdapter&>(options).get(),
        MakeCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, HRESULT,
                     ICoreWebView2Environment*>([completed](HRESULT result,
                                                            ICoreWebView2Environment* environment) {
          completed(result, environment == nullptr
                                ? nullptr
                                : std::make_shared<Environment>(
                                      ComPtr<ICoreWebView2Environment>(environment)));
          return S_OK;
        }).Get());
  }

 private:
  CreateEnvironmentFunction EntryPoint() {
    if (!loader_) {
      // By full path, and its own dependencies from the system folder only.
      loader_.reset(
          LoadLibraryExW(loaderPath_.c_str(), nullptr,
                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
      if (!loader_) return nullptr;
      // The runtime's threads may run the loader's code after the last browser object is
      // released: pinned, it stays until the process ends, whatever the owner frees.
      HMODULE pinned = nullptr;
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(loader_.get()), &pinned);
    }
    return reinterpret_cast<CreateEnvironmentFunction>(reinterpret_cast<void*>(
        GetProcAddress(loader_.get(), "CreateCoreWebView2EnvironmentWithOptions")));
  }

  std::filesystem::path loaderPath_;
  UniqueModule loader_;
  std::vector<UINT_PTR> timers_;
};

}  // namespace

std::unique_ptr<BrowserRuntime> CreateWebView2Runtime(std::filesystem::path loaderPath) {
  return std::make_unique<Runtime>(std::move(loaderPath));
}

}  // namespace vardeko
