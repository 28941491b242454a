#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "base/utf.h"
#include "fakes/event_log.h"
#include "platform/window_operations.h"

namespace vardeko::testing {

// A window that records each operation and keeps the one state the dispatcher reads back.
class FakeWindowOperations final : public WindowOperations {
 public:
  explicit FakeWindowOperations(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}

  void Minimize(WindowHandle) override { Record("minimize"); }
  void Maximize(WindowHandle) override {
    Record("maximize");
    maximized = true;
  }
  void Restore(WindowHandle) override {
    Record("restore");
    maximized = false;
  }
  bool IsMaximized(WindowHandle) override { return maximized; }
  void StartSystemMove(WindowHandle) override { Record("drag"); }
  void PostSystemMove(WindowHandle) override { Record("post drag"); }
  bool IsPrimaryButtonDown() override { return primaryButtonDown; }
  void BlockSessionEnd(WindowHandle, std::u16string_view reason) override {
    Record("block session end " + WideToUtf8(reason));
    sessionEndBlocked = true;
  }
  // Like the system's call, a removal with nothing set changes nothing: recorded only
  // when a reason was set.
  void AllowSessionEnd(WindowHandle) override {
    if (!sessionEndBlocked) return;
    Record("allow session end");
    sessionEndBlocked = false;
  }
  unsigned Dpi(WindowHandle) override { return dpi; }
  void SetSize(WindowHandle, int width, int height) override {
    Record("resize " + std::to_string(width) + "x" + std::to_string(height));
  }

  bool IsMinimized(WindowHandle) override { return minimized; }
  Bounds ClientBounds(WindowHandle) override { return clientBounds; }
  void Destroy(WindowHandle) override { Record("destroy"); }
  void ShowError(WindowHandle, std::u16string_view text) override {
    Record("error " + WideToUtf8(text));
  }

  bool maximized = false;
  bool minimized = false;
  bool primaryButtonDown = true;
  bool sessionEndBlocked = false;
  Bounds clientBounds{0, 0, 1320, 880};
  unsigned dpi = 96;
  bool failNextOperation = false;  // the next recorded operation throws instead

 private:
  void Record(const std::string& what) {
    if (failNextOperation) {
      failNextOperation = false;
      throw std::runtime_error("window operation failed");
    }
    log_->Add("window " + what);
  }

  std::shared_ptr<EventLog> log_;
};

}  // namespace vardeko::testing
