#pragma once

#include <optional>
#include <string_view>

namespace vardeko {

// The browser view inside the controller, as the shell and the bridge use it
// (ICoreWebView2 on Windows). UI thread only.
class BrowserView {
 public:
  virtual ~BrowserView() = default;

  // Hands one JSON value to the page, which receives it as one message event. The
  // result is not reported: no caller could act on a lost message.
  virtual void PostWebMessageAsJson(std::u16string_view json) = 0;
};

// What a WebMessageReceived event carries. The views stay valid while the object lives.
class WebMessageReceivedArgs {
 public:
  virtual ~WebMessageReceivedArgs() = default;

  // URI of the posting document; nullopt when the runtime cannot say or says nothing.
  virtual std::optional<std::u16string_view> Source() = 0;

  // The message as JSON text; nullopt when the runtime cannot give it. A null text
  // reads as empty.
  virtual std::optional<std::u16string_view> WebMessageAsJson() = 0;
};

}  // namespace vardeko
