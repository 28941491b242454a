#pragma once

// The stand-in browser runtime: a WebView2Loader.dll for tests that the real program
// loads from its folder. It implements the interfaces the program uses, records every
// call in a journal, counts references, and raises events when the test asks. Everything
// runs on the program's UI thread, as the runtime's events and completions do.

#include <windows.h>

#include <objidl.h>
#include <wrl/client.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "webview2_stubs.h"

namespace standin {

using Microsoft::WRL::ComPtr;
using nlohmann::json;

std::string Utf8(std::wstring_view text);
std::wstring Wide(std::string_view text);
// A runtime text as a JSON value: null for a null pointer.
json Text(const wchar_t* text);
// A result code as the journal shows it, e.g. "0x80004005".
json Result(HRESULT result);
// A copy the caller frees with CoTaskMemFree, as the runtime's getters return.
HRESULT CopyOut(const std::wstring& text, LPWSTR* out);

// --- Journal -----------------------------------------------------------------------

// Appends one line to the journal file named by WEBVIEW2_STANDIN_JOURNAL.
void Record(std::string_view line) noexcept;

// One journal line: the name and each argument as compact JSON, separated by spaces.
template <class... Args>
void RecordCall(std::string_view name, const Args&... args) noexcept {
  try {
    std::string line(name);
    ((line += ' ', line += json(args).dump(-1, ' ', false, json::error_handler_t::replace)), ...);
    Record(line);
  } catch (...) {
    // Out of memory: the line is lost, and the test that waits for it fails.
  }
}

// --- Modes chosen by the test (WEBVIEW2_STANDIN_MODES, comma-separated) --------------

bool Mode(std::string_view name);
// The rest of the first mode that starts with `prefix`, e.g. "0x8007139f:2" of
// "fail-environment-completion-with:0x8007139f:2".
std::optional<std::string> ModeArgument(std::string_view prefix);
// Modes "fail-<what>-with:<result>:<times>": the result to fail with on this call, while
// fewer than <times> calls of <what> have failed so far; S_OK otherwise.
HRESULT PlannedFailure(const std::string& what);
// "missing:<interface>" takes an interface away from every object.
bool Missing(REFIID id);
std::string InterfaceNameOf(REFIID id);

// --- UI-thread tasks ------------------------------------------------------------------

// Runs the task later, from the UI thread's message loop, as the runtime raises its
// events and completions.
void Post(std::function<void()> task);
// The same after at least `milliseconds`.
void PostLater(unsigned milliseconds, std::function<void()> task);
// Keeps the task until the test's "complete" command names `what`.
void Hold(const std::string& what, std::function<void()> task);
// Forgets posted and held tasks, and the references they hold; at exit.
void DropPending();
// The hidden window that receives the test's commands and runs posted tasks.
void CreateControlWindow();
// Destroys the stand-in's windows while its code is still loaded (FreeLibrary).
void DestroyWindows();
void DestroyChildWindows();
HINSTANCE Module();

// --- Reference counting ------------------------------------------------------------

// Every object the stand-in hands out. Live ones are reported at exit.
class Tracked {
 public:
  explicit Tracked(std::string kind);
  Tracked(const Tracked&) = delete;
  Tracked& operator=(const Tracked&) = delete;

  const std::string& name() const { return name_; }
  const std::string& kind() const { return kind_; }
  ULONG references() const { return references_; }
  // Lets go of the program's objects it holds; called at exit before they are counted.
  virtual void DropForeign() {}

 protected:
  virtual ~Tracked();
  ULONG Increment() { return ++references_; }
  ULONG Decrement() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::string kind_;
  std::string name_;
  std::atomic<ULONG> references_{0};
};

// A COM object of the stand-in: `Stubs` is a generated class for the most derived
// interface, `Offered` every interface of its chain that QueryInterface answers.
template <class Stubs, class... Offered>
class Object : public Stubs, public Tracked {
 public:
  explicit Object(std::string kind) : Tracked(std::move(kind)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    const bool offered = id == __uuidof(IUnknown) || ((id == __uuidof(Offered)) || ...);
    const bool granted = offered && !Missing(id);
    RecordCall(kind() + ".QueryInterface", InterfaceNameOf(id), granted);
    if (!granted) return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(static_cast<Stubs*>(this));
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Increment(); }
  ULONG STDMETHODCALLTYPE Release() override { return Decrement(); }
};

// A new object, owned by the returned pointer (one reference).
template <class T, class... Args>
ComPtr<T> Make(Args&&... args) {
  ComPtr<T> object(new T(std::forward<Args>(args)...));
  return object;
}

// Keeps one reference to an object the program handed over until the process exits,
// then reports it if the program still holds one.
void Witness(IUnknown* object, std::string what);

// --- The objects tests raise events on -------------------------------------------------

class View;
// The view the test's commands raise events on: the latest one made.
View* CurrentView();

// Runs one command of the test (a JSON object with "id" and "do").
void RunCommand(const json& command);

// Simulates the navigation the program asked for: starting, the start document request,
// completion.
void RunNavigation(View& view, const std::wstring& uri);

}  // namespace standin
