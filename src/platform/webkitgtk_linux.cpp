#include "platform/webkitgtk_linux.h"

#include <libsoup/soup.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/secure_wipe.h"
#include "base/utf.h"
#include "platform/gobject_owner_linux.h"

namespace vardeko {
namespace {

// The page's window.chrome.webview, bridged to the script message handler. Posted
// values travel as their JSON text, as WebView2 sends them; replies arrive as a JSON
// text the page receives parsed, a fresh value per message event.
constexpr char kMessageHandler[] = "vardeko";
constexpr char kDeliverFunction[] = "__vardekoDeliver";
constexpr char kChannelScript[] = R"((() => {
  const handler = window.webkit.messageHandlers.vardeko;
  const target = new EventTarget();
  const webview = Object.freeze({
    postMessage(value) { handler.postMessage(JSON.stringify(value) ?? 'null'); },
    addEventListener: target.addEventListener.bind(target),
    removeEventListener: target.removeEventListener.bind(target),
  });
  Object.defineProperty(window, 'chrome', { value: Object.freeze({ webview }) });
  Object.defineProperty(window, '__vardekoDeliver', {
    value: (text) => target.dispatchEvent(new MessageEvent('message', { data: JSON.parse(text) })),
  });
})();)";

constexpr std::string_view kDebugPortPrefix = "--remote-debugging-port=";

// The text inside a JavaScript string literal: quotes, backslashes and control
// characters escaped, everything else (valid UTF-8) as it is.
std::size_t EscapedSize(std::string_view text) {
  std::size_t size = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    size += c == '"' || c == '\\' ? 2 : byte < 0x20 ? 6 : 1;
  }
  return size;
}

void AppendEscaped(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
}

std::optional<std::u16string> ToUtf16(const char* text) {
  if (text == nullptr) return std::nullopt;
  std::u16string converted;
  if (!utf::Utf8ToUtf16(text, converted)) return std::nullopt;
  return converted;
}

// Each signal handler owns its function; GLib frees it when the handler is disconnected
// or the object finalised. No exception leaves a GLib callback.
template <class Function>
struct Closure {
  Function function;
  static void Free(gpointer data, GClosure*) { delete static_cast<Closure*>(data); }
};

template <class Function>
gulong Connect(gpointer object, const char* signal, GCallback callback, Function function) {
  auto closure = std::make_unique<Closure<Function>>(Closure<Function>{std::move(function)});
  const gulong id = g_signal_connect_data(object, signal, callback, closure.get(),
                                          &Closure<Function>::Free, GConnectFlags{});
  if (id != 0) closure.release();
  return id;
}

template <class Function>
Function& FunctionOf(gpointer data) {
  return static_cast<Closure<Function>*>(data)->function;
}

// What a page scheme request needs from the view that owns the context: the filter and
// the handler. Owned by the web context (freed with it), which every view of it keeps.
struct PageScheme {
  std::string scheme;
  bool filtered = false;
  WebResourceRequestedHandler handler;
  BrowserEvent<DownloadStartingArgs> download;
};

class SchemeResponse : public WebResourceResponse {
 public:
  GObjectPtr<WebKitURISchemeResponse> Make() const {
    GBytes* bytes = g_bytes_new(body.data(), body.size());
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
    g_bytes_unref(bytes);
    GObjectPtr<WebKitURISchemeResponse> response(
        webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(body.size())));
    webkit_uri_scheme_response_set_status(response.get(), static_cast<guint>(status),
                                          reason.c_str());
    SoupMessageHeaders* lines = soup_message_headers_new(SOUP_MESSAGE_HEADERS_RESPONSE);
    for (const auto& [name, value] : headers) {
      soup_message_headers_append(lines, name.c_str(), value.c_str());
      if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) {
        const std::string type = value.substr(0, value.find(';'));
        webkit_uri_scheme_response_set_content_type(response.get(), type.c_str());
      }
    }
    webkit_uri_scheme_response_set_http_headers(response.get(), lines);  // takes the lines
    return response;
  }

  std::string body;
  int status = 0;
  std::string reason;
  std::vector<std::pair<std::string, std::string>> headers;
};

class SchemeRequestArgs : public WebResourceRequestedArgs {
 public:
  explicit SchemeRequestArgs(WebKitURISchemeRequest* request) : request_(request) {}
  std::optional<std::u16string> Uri() override {
    return ToUtf16(webkit_uri_scheme_request_get_uri(request_));
  }
  std::optional<std::u16string> Method() override {
    return ToUtf16(webkit_uri_scheme_request_get_http_method(request_));
  }
  BrowserResult SetResponse(WebResourceResponse& response) override {
    const auto* made = dynamic_cast<const SchemeResponse*>(&response);
    if (made == nullptr || answered_) return kBrowserFail;
    const GObjectPtr<WebKitURISchemeResponse> answer = made->Make();
    webkit_uri_scheme_request_finish_with_response(request_, answer.get());
    answered_ = true;
    return kBrowserOk;
  }
  bool answered() const { return answered_; }

 private:
  WebKitURISchemeRequest* request_;
  bool answered_ = false;
};

// Every request under the page scheme ends here: answered by the handler, or failed.
void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer data) {
  auto& scheme = *static_cast<PageScheme*>(data);
  SchemeRequestArgs args(request);
  try {
    if (scheme.filtered && scheme.handler) scheme.handler(args);
  } catch (...) {
    // Failed below, as unanswered.
  }
  if (args.answered()) return;
  GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "not served");
  webkit_uri_scheme_request_finish_error(request, error);
  g_error_free(error);
}

class DownloadArgs : public DownloadStartingArgs {
 public:
  explicit DownloadArgs(WebKitDownload* download) : download_(download) {}
  void Cancel() override { webkit_download_cancel(download_); }

 private:
  WebKitDownload* download_;
};

void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer data) {
  auto& scheme = *static_cast<PageScheme*>(data);
  DownloadArgs args(download);
  try {
    if (scheme.download) return scheme.download(args);
  } catch (...) {
  }
  webkit_download_cancel(download);
}

class PolicyArgs : public NavigationStartingArgs {
 public:
  explicit PolicyArgs(std::optional<std::u16string> uri) : uri_(std::move(uri)) {}
  std::optional<std::u16string> Uri() override { return uri_; }
  void Cancel() override { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }

 private:
  std::optional<std::u16string> uri_;
  bool cancelled_ = false;
};

class NewWindowArgs : public NewWindowRequestedArgs {
 public:
  void Handle() override { handled_ = true; }
  bool handled() const { return handled_; }

 private:
  bool handled_ = false;
};

class PermissionArgs : public PermissionRequestedArgs {
 public:
  explicit PermissionArgs(WebKitPermissionRequest* request) : request_(request) {}
  void Deny() override {
    webkit_permission_request_deny(request_);
    denied_ = true;
  }
  bool denied() const { return denied_; }

 private:
  WebKitPermissionRequest* request_;
  bool denied_ = false;
};

class CompletedArgs : public NavigationCompletedArgs {
 public:
  explicit CompletedArgs(bool success) : success_(success) {}
  std::optional<bool> IsSuccess() override { return success_; }

 private:
  bool success_;
};

class TerminatedArgs : public ProcessFailedArgs {
 public:
  // A web process that ends is a renderer exit: the UI process, the browser, stays.
  std::optional<int> Kind() override { return kRenderProcessExited; }
};

// The message's JSON text and its source, both wiped when the message is done.
class ScriptMessageArgs : public WebMessageReceivedArgs {
 public:
  ScriptMessageArgs(std::optional<std::u16string> source, std::optional<std::u16string> json)
      : source_(std::move(source)), json_(std::move(json)) {}
  ~ScriptMessageArgs() override {
    if (json_) SecureWipe(*json_);
  }
  std::optional<std::u16string_view> Source() override {
    if (!source_) return std::nullopt;
    return std::u16string_view(*source_);
  }
  std::optional<std::u16string_view> WebMessageAsJson() override {
    if (!json_) return std::nullopt;
    return std::u16string_view(*json_);
  }

 private:
  std::optional<std::u16string> source_;
  std::optional<std::u16string> json_;
};

// The switches the view's signals read.
struct ViewSwitches {
  bool contextMenus = true;
  bool scriptDialogs = true;
};

class WebKitSettingsAdapter : public BrowserSettings {
 public:
  WebKitSettingsAdapter(WebKitSettings* settings, ViewSwitches& switches)
      : settings_(settings), switches_(switches) {}
  // No host objects and no status bubble in a bare web view.
  void SetHostObjectsAllowed(bool) override {}
  void SetStatusBarEnabled(bool) override {}
  void SetDefaultContextMenusEnabled(bool enabled) override { switches_.contextMenus = enabled; }
  void SetDevToolsEnabled(bool enabled) override {
    webkit_settings_set_enable_developer_extras(settings_, enabled);
  }
  // A bare web view binds no zoom keys or wheel zoom.
  void SetZoomControlEnabled(bool) override {}
  void SetDefaultScriptDialogsEnabled(bool enabled) override { switches_.scriptDialogs = enabled; }
  bool SetBrowserAcceleratorKeysEnabled(bool) override { return false; }
  bool SetAutofillEnabled(bool, bool) override { return false; }
  bool SetPinchZoomEnabled(bool) override { return false; }
  bool SetSwipeNavigationEnabled(bool enabled) override {
    webkit_settings_set_enable_back_forward_navigation_gestures(settings_, enabled);
    return true;
  }
  bool SetNonClientRegionSupportEnabled(bool) override { return false; }

 private:
  WebKitSettings* settings_;
  ViewSwitches& switches_;
};

// The signals of one view; disconnected all at once when the view is closed, so nothing
// reaches the shell from a view it has let go.
class Signals {
 public:
  void Add(gpointer object, gulong id) {
    if (id != 0) ids_.emplace_back(object, id);
  }
  void DisconnectAll() noexcept {
    for (const auto& [object, id] : ids_) g_signal_handler_disconnect(object, id);
    ids_.clear();
  }

 private:
  std::vector<std::pair<gpointer, gulong>> ids_;
};

struct PolicyHandlers {
  BrowserEvent<NavigationStartingArgs> top;
  BrowserEvent<NavigationStartingArgs> frame;
  BrowserEvent<NewWindowRequestedArgs> newWindow;
};

// The view and the controller share one web view; the controller owns the reference the
// widget tree does not. The signals go before the state they read.
struct SharedView {
  ~SharedView() { signals.DisconnectAll(); }

  GObjectPtr<WebKitWebView> view;
  GObjectPtr<WebKitUserContentManager> content;
  GtkContainer* parent = nullptr;
  PageScheme* scheme = nullptr;  // owned by the view's context
  ViewSwitches switches;
  PolicyHandlers policy;
  bool loadFailed = false;
  Signals signals;
};

bool Succeeded(WebKitWebView* view, bool loadFailed) {
  if (loadFailed) return false;
  WebKitWebResource* resource = webkit_web_view_get_main_resource(view);
  WebKitURIResponse* response = resource ? webkit_web_resource_get_response(resource) : nullptr;
  // A scheme response counts as an HTTP one: an error status is a failed load.
  return response == nullptr || webkit_uri_response_get_status_code(response) < 400;
}

// Navigations of the top frame and of named frames, and new windows, each to its
// handler; nothing opens in a new window, since no view is ever made for one.
gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
  PolicyHandlers& handlers = static_cast<SharedView*>(data)->policy;
  try {
    if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
      NewWindowArgs args;
      if (handlers.newWindow) handlers.newWindow(args);
      webkit_policy_decision_ignore(decision);
      return TRUE;
    }
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION) return FALSE;
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    WebKitURIRequest* request = webkit_navigation_action_get_request(action);
    PolicyArgs args(ToUtf16(webkit_uri_request_get_uri(request)));
    const bool frame = webkit_navigation_action_get_frame_name(action) != nullptr;
    const BrowserEvent<NavigationStartingArgs>& handler =
        frame && handlers.frame ? handlers.frame : handlers.top;
    if (handler) handler(args);
    if (args.cancelled()) {
      webkit_policy_decision_ignore(decision);
    } else {
      webkit_policy_decision_use(decision);
    }
  } catch (...) {
    webkit_policy_decision_ignore(decision);
  }
  return TRUE;
}

class WebKitView : public BrowserView {
 public:
  explicit WebKitView(std::shared_ptr<SharedView> shared) : shared_(std::move(shared)) {}

  // Replies carry service data: both buffers are sized once, before they are filled, so no
  // reallocation leaves an unwiped copy behind, and wiped after the call has copied them.
  void PostWebMessageAsJson(const std::u16string& json) override {
    std::string text;
    if (utf::Utf16ToUtf8(json, text)) PostWebMessageAsUtf8(text);
    SecureWipe(text);
  }
  // Replies come in UTF-8 and the script is UTF-8: no round trip through UTF-16.
  bool PostWebMessageAsUtf8(std::string_view text) override {
    std::string script;
    script.reserve(std::strlen(kDeliverFunction) + 4 + EscapedSize(text));
    script += kDeliverFunction;
    script += "(\"";
    AppendEscaped(text, script);
    script += "\")";
    webkit_web_view_evaluate_javascript(shared_->view.get(), script.data(),
                                        static_cast<gssize>(script.size()), nullptr, nullptr,
                                        nullptr, nullptr, nullptr);
    SecureWipe(script);
    return true;
  }

  BrowserResult GetSettings(std::unique_ptr<BrowserSettings>& settings) override {
    settings = std::make_unique<WebKitSettingsAdapter>(
        webkit_web_view_get_settings(shared_->view.get()), shared_->switches);
    return kBrowserOk;
  }

  BrowserResult AddProcessFailed(BrowserEvent<ProcessFailedArgs> handler) override {
    using F = BrowserEvent<ProcessFailedArgs>;
    return Track(
        shared_->view.get(),
        Connect(shared_->view.get(), "web-process-terminated",
                G_CALLBACK(+[](WebKitWebView*, WebKitWebProcessTerminationReason, gpointer data) {
                  TerminatedArgs args;
                  try {
                    FunctionOf<F>(data)(args);
                  } catch (...) {
                  }
                }),
                std::move(handler)));
  }

  BrowserResult AddWebMessageReceived(BrowserEvent<WebMessageReceivedArgs> handler) override {
    using F = std::pair<WebKitWebView*, BrowserEvent<WebMessageReceivedArgs>>;
    return Track(shared_->content.get(),
                 Connect(shared_->content.get(), "script-message-received::vardeko",
                         G_CALLBACK(+[](WebKitUserContentManager*, WebKitJavascriptResult* result,
                                        gpointer data) {
                           F& target = FunctionOf<F>(data);
                           try {
                             OnScriptMessage(target.first, result, target.second);
                           } catch (...) {
                           }
                         }),
                         F{shared_->view.get(), std::move(handler)}));
  }

  BrowserResult AddNavigationStarting(BrowserEvent<NavigationStartingArgs> handler) override {
    shared_->policy.top = std::move(handler);
    return kBrowserOk;
  }

  BrowserResult AddFrameNavigationStarting(BrowserEvent<NavigationStartingArgs> handler) override {
    shared_->policy.frame = std::move(handler);
    return kBrowserOk;
  }

  BrowserResult AddNewWindowRequested(BrowserEvent<NewWindowRequestedArgs> handler) override {
    shared_->policy.newWindow = std::move(handler);
    return kBrowserOk;
  }

  BrowserResult AddPermissionRequested(BrowserEvent<PermissionRequestedArgs> handler) override {
    using F = BrowserEvent<PermissionRequestedArgs>;
    return Track(shared_->view.get(),
                 Connect(shared_->view.get(), "permission-request",
                         G_CALLBACK(+[](WebKitWebView*, WebKitPermissionRequest* request,
                                        gpointer data) -> gboolean {
                           PermissionArgs args(request);
                           try {
                             FunctionOf<F>(data)(args);
                           } catch (...) {
                           }
                           if (!args.denied()) webkit_permission_request_deny(request);
                           return TRUE;
                         }),
                         std::move(handler)));
  }

  std::optional<BrowserResult> AddDownloadStarting(
      BrowserEvent<DownloadStartingArgs> handler) override {
    shared_->scheme->download = std::move(handler);
    return kBrowserOk;
  }

  BrowserResult AddNavigationCompleted(BrowserEvent<NavigationCompletedArgs> handler) override {
    using F = std::pair<SharedView*, BrowserEvent<NavigationCompletedArgs>>;
    const BrowserResult failed = Track(
        shared_->view.get(), Connect(shared_->view.get(), "load-failed",
                                     G_CALLBACK(+[](WebKitWebView*, WebKitLoadEvent, gchar*,
                                                    GError*, gpointer data) -> gboolean {
                                       FunctionOf<F>(data).first->loadFailed = true;
                                       return TRUE;  // no engine error page: the shell decides
                                     }),
                                     F{shared_.get(), nullptr}));
    if (Failed(failed)) return failed;
    return Track(shared_->view.get(),
                 Connect(shared_->view.get(), "load-changed",
                         G_CALLBACK(+[](WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
                           F& target = FunctionOf<F>(data);
                           if (event == WEBKIT_LOAD_STARTED) target.first->loadFailed = false;
                           if (event != WEBKIT_LOAD_FINISHED) return;
                           CompletedArgs args(Succeeded(view, target.first->loadFailed));
                           try {
                             target.second(args);
                           } catch (...) {
                           }
                         }),
                         F{shared_.get(), std::move(handler)}));
  }

  BrowserResult AddWebResourceRequested(WebResourceRequestedHandler handler) override {
    shared_->scheme->handler = std::move(handler);
    return kBrowserOk;
  }

  // Only the page scheme can be filtered, as a whole: WebKitGTK lets a program answer its
  // own schemes and no other, and the shell's handler checks the origin itself.
  BrowserResult AddWebResourceRequestedFilter(std::u16string_view uri, int context) override {
    std::string pattern;
    if (context != kWebResourceContextAll || !utf::Utf16ToUtf8(uri, pattern)) return kBrowserFail;
    const std::string prefix = shared_->scheme->scheme + "://";
    if (!pattern.starts_with(prefix) || !pattern.ends_with("/*")) return kBrowserFail;
    shared_->scheme->filtered = true;
    return kBrowserOk;
  }

  // The channel is offered to the top frame of the document navigated to, only.
  BrowserResult Navigate(std::u16string_view uri) override {
    std::string target;
    if (!utf::Utf16ToUtf8(uri, target)) return kBrowserFail;
    WebKitUserContentManager* content = shared_->content.get();
    webkit_user_content_manager_remove_all_scripts(content);
    const char* allowed[] = {target.c_str(), nullptr};
    WebKitUserScript* script =
        webkit_user_script_new(kChannelScript, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, allowed, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
    webkit_web_view_load_uri(shared_->view.get(), target.c_str());
    return kBrowserOk;
  }

 private:
  static void OnScriptMessage(WebKitWebView* view, WebKitJavascriptResult* result,
                              BrowserEvent<WebMessageReceivedArgs>& handler) {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    std::optional<std::u16string> json;
    if (jsc_value_is_string(value)) {
      GCharPtr text(jsc_value_to_string(value));
      if (text) {
        std::u16string converted;
        if (utf::Utf8ToUtf16(text.get(), converted)) json = std::move(converted);
        SecureWipe(text.get(), std::strlen(text.get()));
      }
    }
    // Top frame only: the view's address is the posting document's.
    ScriptMessageArgs args(ToUtf16(webkit_web_view_get_uri(view)), std::move(json));
    handler(args);
  }

  BrowserResult Track(gpointer object, gulong id) {
    if (id == 0) return kBrowserFail;
    shared_->signals.Add(object, id);
    return kBrowserOk;
  }

  std::shared_ptr<SharedView> shared_;
};

class WebKitRuntime;

class WebKitController : public BrowserController {
 public:
  explicit WebKitController(std::shared_ptr<SharedView> shared) : shared_(std::move(shared)) {}

  // Bounds in the parent's logical pixels (WindowOperations reports 96 DPI: GTK applies
  // the display's scale itself); the band around the view is left to the parent.
  BrowserResult SetBounds(const Bounds& bounds) override {
    GtkWidget* widget = GTK_WIDGET(shared_->view.get());
    const int width = gtk_widget_get_allocated_width(GTK_WIDGET(shared_->parent));
    const int height = gtk_widget_get_allocated_height(GTK_WIDGET(shared_->parent));
    gtk_widget_set_margin_start(widget, std::max(bounds.left, 0));
    gtk_widget_set_margin_top(widget, std::max(bounds.top, 0));
    gtk_widget_set_margin_end(widget, std::max(width - bounds.right, 0));
    gtk_widget_set_margin_bottom(widget, std::max(height - bounds.bottom, 0));
    return kBrowserOk;
  }
  BrowserResult SetVisible(bool visible) override {
    gtk_widget_set_visible(GTK_WIDGET(shared_->view.get()), visible);
    return kBrowserOk;
  }
  bool IsVisible() override { return gtk_widget_get_visible(GTK_WIDGET(shared_->view.get())); }
  BrowserResult MoveFocus() override {
    gtk_widget_grab_focus(GTK_WIDGET(shared_->view.get()));
    return kBrowserOk;
  }
  // GTK places the view's pop-ups relative to the window itself.
  void NotifyParentWindowPositionChanged() override {}
  bool SetDefaultBackgroundColor(const Color& color) override {
    const GdkRGBA rgba{color.red / 255.0, color.green / 255.0, color.blue / 255.0,
                       color.alpha / 255.0};
    webkit_web_view_set_background_color(shared_->view.get(), &rgba);
    return true;
  }
  void Close() override {
    shared_->signals.DisconnectAll();
    shared_->scheme->handler = nullptr;
    shared_->scheme->download = nullptr;
    gtk_widget_destroy(GTK_WIDGET(shared_->view.get()));
  }
  BrowserResult GetView(std::unique_ptr<BrowserView>& view) override {
    view = std::make_unique<WebKitView>(shared_);
    return kBrowserOk;
  }

 private:
  std::shared_ptr<SharedView> shared_;
};

class WebKitEnvironment : public BrowserEnvironment {
 public:
  WebKitEnvironment(WebKitRuntime& runtime, GtkContainer* parent,
                    GObjectPtr<WebKitWebContext> context, PageScheme* scheme)
      : runtime_(runtime), parent_(parent), context_(std::move(context)), scheme_(scheme) {}

  BrowserResult CreateController(WindowHandle parent, ControllerCompleted completed) override;

  BrowserResult CreateWebResourceResponse(std::string_view body, int status,
                                          std::u16string_view reason, std::u16string_view headers,
                                          std::unique_ptr<WebResourceResponse>& response) override {
    auto made = std::make_unique<SchemeResponse>();
    made->body = body;
    made->status = status;
    std::string lines;
    if (!utf::Utf16ToUtf8(reason, made->reason) || !utf::Utf16ToUtf8(headers, lines))
      return kBrowserFail;
    for (std::size_t start = 0; start < lines.size();) {
      std::size_t end = lines.find("\r\n", start);
      if (end == std::string::npos) end = lines.size();
      const std::string line = lines.substr(start, end - start);
      const std::size_t colon = line.find(':');
      if (colon != std::string::npos && colon > 0) {
        const std::size_t value = line.find_first_not_of(' ', colon + 1);
        made->headers.emplace_back(line.substr(0, colon),
                                   value == std::string::npos ? "" : line.substr(value));
      }
      start = end + 2;
    }
    response = std::move(made);
    return kBrowserOk;
  }

 private:
  WebKitRuntime& runtime_;
  GtkContainer* parent_;
  GObjectPtr<WebKitWebContext> context_;
  PageScheme* scheme_;  // owned by the context
};

class WebKitOptions : public BrowserEnvironmentOptions {
 public:
  // The one argument the shell passes: a debugging port, which WebKitGTK's remote
  // inspector takes from its environment variable when the context starts.
  BrowserResult SetAdditionalBrowserArguments(std::u16string_view arguments) override {
    std::string text;
    if (!utf::Utf16ToUtf8(arguments, text) || !text.starts_with(kDebugPortPrefix))
      return kBrowserNoInterface;
    inspectorServer = "127.0.0.1:" + text.substr(kDebugPortPrefix.size());
    return kBrowserOk;
  }
  BrowserResult SetLanguage(std::u16string_view value) override {
    return utf::Utf16ToUtf8(value, language) ? kBrowserOk : kBrowserFail;
  }

  std::string inspectorServer;
  std::string language;
};

gboolean SuppressWhenOff(bool ViewSwitches::*which, gpointer data) {
  return static_cast<SharedView*>(data)->switches.*which ? FALSE : TRUE;
}

class WebKitRuntime : public BrowserRuntime {
 public:
  WebKitRuntime(GtkContainer* parent, std::string_view scheme) : parent_(parent), scheme_(scheme) {}
  ~WebKitRuntime() override {
    // Dropped unrun; removing a source frees its task.
    while (!pending_.empty()) g_source_remove(*pending_.begin());
  }

  std::unique_ptr<BrowserEnvironmentOptions> CreateOptions() override {
    return std::make_unique<WebKitOptions>();
  }

  BrowserResult CreateEnvironment(const std::filesystem::path& userDataFolder,
                                  BrowserEnvironmentOptions& options,
                                  EnvironmentCompleted completed) override {
    auto* settings = dynamic_cast<WebKitOptions*>(&options);
    if (settings == nullptr) return kBrowserFail;
    if (!settings->inspectorServer.empty())
      g_setenv("WEBKIT_INSPECTOR_SERVER", settings->inspectorServer.c_str(), TRUE);
    const std::string stored = (userDataFolder / "data").string();
    const std::string cache = (userDataFolder / "cache").string();
    GObjectPtr<WebKitWebsiteDataManager> manager(webkit_website_data_manager_new(
        "base-data-directory", stored.c_str(), "base-cache-directory", cache.c_str(), nullptr));
    GObjectPtr<WebKitWebContext> context(
        webkit_web_context_new_with_website_data_manager(manager.get()));
    webkit_web_context_set_cache_model(context.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    if (!settings->language.empty()) {
      const char* languages[] = {settings->language.c_str(), nullptr};
      webkit_web_context_set_preferred_languages(context.get(), languages);
    }
    auto scheme = std::make_unique<PageScheme>();
    scheme->scheme = scheme_;
    PageScheme* owned = scheme.get();
    webkit_web_context_register_uri_scheme(
        context.get(), scheme_.c_str(), &OnSchemeRequest, scheme.release(),
        [](gpointer data) { delete static_cast<PageScheme*>(data); });
    WebKitSecurityManager* security = webkit_web_context_get_security_manager(context.get());
    webkit_security_manager_register_uri_scheme_as_secure(security, scheme_.c_str());
    g_signal_connect(context.get(), "download-started", G_CALLBACK(&OnDownloadStarted), owned);

    auto environment =
        std::make_shared<WebKitEnvironment>(*this, parent_, std::move(context), owned);
    RunLater(std::chrono::milliseconds(0), [completed = std::move(completed), environment] {
      completed(kBrowserOk, environment);
    });
    return kBrowserOk;
  }

  void RunLater(std::chrono::milliseconds delay, std::function<void()> task) override {
    auto pending = std::make_unique<Task>(Task{this, std::move(task), 0});
    Task* raw = pending.get();
    raw->source = g_timeout_add_full(G_PRIORITY_DEFAULT, static_cast<guint>(delay.count()),
                                     &RunTask, pending.release(), &FreeTask);
    pending_.insert(raw->source);
  }

 private:
  struct Task {
    WebKitRuntime* owner;
    std::function<void()> run;
    guint source;
  };
  static gboolean RunTask(gpointer data) {
    auto& task = *static_cast<Task*>(data);
    task.owner->pending_.erase(task.source);
    try {
      task.run();
    } catch (...) {
    }
    return G_SOURCE_REMOVE;
  }
  static void FreeTask(gpointer data) { delete static_cast<Task*>(data); }

  GtkContainer* parent_;
  std::string scheme_;
  std::set<guint> pending_;
};

BrowserResult WebKitEnvironment::CreateController(WindowHandle parent,
                                                  ControllerCompleted completed) {
  if (!parent) return kBrowserFail;
  auto shared = std::make_shared<SharedView>();
  shared->content.reset(webkit_user_content_manager_new());
  webkit_user_content_manager_register_script_message_handler(shared->content.get(),
                                                              kMessageHandler);
  shared->view = AdoptSunk(
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context_.get(),
                                   "user-content-manager", shared->content.get(), nullptr)));
  shared->parent = parent_;
  shared->scheme = scheme_;
  WebKitWebView* view = shared->view.get();
  SharedView* state = shared.get();
  shared->signals.Add(view,
                      g_signal_connect(view, "decide-policy", G_CALLBACK(&OnDecidePolicy), state));
  shared->signals.Add(
      view, g_signal_connect(view, "context-menu",
                             G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*,
                                            WebKitHitTestResult*, gpointer data) -> gboolean {
                               return SuppressWhenOff(&ViewSwitches::contextMenus, data);
                             }),
                             state));
  shared->signals.Add(
      view, g_signal_connect(
                view, "script-dialog",
                G_CALLBACK(+[](WebKitWebView*, WebKitScriptDialog*, gpointer data) -> gboolean {
                  return SuppressWhenOff(&ViewSwitches::scriptDialogs, data);
                }),
                state));
  gtk_widget_set_hexpand(GTK_WIDGET(view), TRUE);
  gtk_widget_set_vexpand(GTK_WIDGET(view), TRUE);
  gtk_container_add(parent_, GTK_WIDGET(view));
  gtk_widget_show(GTK_WIDGET(view));
  // Reported from the main loop, as WebView2 does; a task must be copyable.
  auto controller = std::make_shared<std::unique_ptr<BrowserController>>(
      std::make_unique<WebKitController>(std::move(shared)));
  runtime_.RunLater(std::chrono::milliseconds(0), [completed = std::move(completed), controller] {
    completed(kBrowserOk, std::move(*controller));
  });
  return kBrowserOk;
}

}  // namespace

std::unique_ptr<BrowserRuntime> CreateWebKitRuntime(GtkContainer* parent,
                                                    std::string_view pageScheme) {
  return std::make_unique<WebKitRuntime>(parent, pageScheme);
}

}  // namespace vardeko
