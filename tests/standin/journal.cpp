// The journal, the modes, the reference bookkeeping and the exit report.
#include <cstdio>
#include <cstring>
#include <map>

#include "base/unique_handle_win.h"
#include "standin.h"

namespace standin {
namespace {

HINSTANCE g_module = nullptr;

std::wstring Variable(const wchar_t* name) {
  wchar_t value[2048];
  const DWORD length = GetEnvironmentVariableW(name, value, 2048);
  return length > 0 && length < 2048 ? std::wstring(value, length) : std::wstring();
}

// Read when the program loads the stand-in: the program removes every WEBVIEW2_*
// variable before it calls the loader, as it must for the real runtime.
struct Settings {
  std::wstring journal;
  std::wstring modes;
};
Settings& StandinSettings() {
  static Settings settings;
  return settings;
}

vardeko::UniqueFileHandle& JournalFile() {
  static vardeko::UniqueFileHandle file = [] {
    const std::wstring& path = StandinSettings().journal;
    if (path.empty()) return vardeko::UniqueFileHandle();
    return vardeko::UniqueFileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  }();
  return file;
}

const std::vector<std::string>& Modes() {
  static const std::vector<std::string> modes = [] {
    std::vector<std::string> result;
    const std::string text = Utf8(StandinSettings().modes);
    std::size_t start = 0;
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find(',', start), text.size());
      if (end > start) result.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return result;
  }();
  return modes;
}

struct Witnessed {
  IUnknown* object;  // one reference held since it was handed over
  std::string what;
};

// Plain containers of pointers: they are read at process exit, after which nothing of
// the stand-in runs.
std::vector<Tracked*>& LiveObjects() {
  static std::vector<Tracked*> live;
  return live;
}
std::vector<Witnessed>& WitnessedObjects() {
  static std::vector<Witnessed> witnessed;
  return witnessed;
}

// Reports what the program did not release: the stand-in's objects still alive, and
// the program's objects on which it still holds references. Written once, when the
// loader leaves the process.
void ReportAtExit(bool processExit) {
  DropPending();
  Record(std::string("unload ") + (processExit ? "\"process-exit\"" : "\"FreeLibrary\""));
  int leaks = 0;
  for (Tracked* object : LiveObjects()) {
    RecordCall("leak", object->name(), object->references());
    ++leaks;
  }
  // The program's objects: first let go of every reference the stand-in's own objects
  // still hold, then count what is left besides the witness.
  for (Tracked* object : LiveObjects()) object->DropForeign();
  for (const Witnessed& entry : WitnessedObjects()) {
    const ULONG count = entry.object->AddRef();
    entry.object->Release();
    const ULONG heldByProgram = count - 2;  // the AddRef above and the witness
    if (heldByProgram > 0) {
      RecordCall("leak", entry.what, heldByProgram);
      ++leaks;
    }
  }
  // The witnesses are not released: the program's code that would free them may already
  // be shut down.
  RecordCall("exit", leaks);
}

}  // namespace

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                      nullptr, nullptr);
  return result;
}

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size);
  return result;
}

json Text(const wchar_t* text) { return text == nullptr ? json(nullptr) : json(Utf8(text)); }

json Result(HRESULT result) {
  char text[11];
  std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(result));
  return text;
}

HRESULT CopyOut(const std::wstring& text, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*out == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

void Record(std::string_view line) noexcept {
  try {
    vardeko::UniqueFileHandle& file = JournalFile();
    if (!file) return;
    // One write per line: the test reads the file while it grows.
    const std::string text = std::string(line) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  } catch (...) {
  }
}

HRESULT NotImplemented(const char* method) {
  RecordCall("not-implemented", method);
  return E_NOTIMPL;
}

bool Mode(std::string_view name) {
  for (const std::string& mode : Modes()) {
    if (mode == name) return true;
  }
  return false;
}

std::optional<std::string> ModeArgument(std::string_view prefix) {
  for (const std::string& mode : Modes()) {
    if (mode.rfind(prefix, 0) == 0) return mode.substr(prefix.size());
  }
  return std::nullopt;
}

HRESULT PlannedFailure(const std::string& what) {
  static std::map<std::string, unsigned long> failed;
  const std::optional<std::string> plan = ModeArgument("fail-" + what + "-with:");
  if (!plan) return S_OK;
  const std::size_t colon = plan->find(':');
  const HRESULT result = static_cast<HRESULT>(std::stoul(plan->substr(0, colon), nullptr, 16));
  const unsigned long times = colon == std::string::npos ? 1 : std::stoul(plan->substr(colon + 1));
  if (failed[what] >= times) return S_OK;
  ++failed[what];
  return result;
}

bool Missing(REFIID id) { return Mode("missing:" + InterfaceNameOf(id)); }

std::string InterfaceNameOf(REFIID id) {
  if (id == __uuidof(IUnknown)) return "IUnknown";
  for (const InterfaceName& entry : kInterfaceNames) {
    if (entry.id == id) return entry.name;
  }
  wchar_t text[40] = {};
  StringFromGUID2(id, text, 40);
  return Utf8(text);
}

HINSTANCE Module() { return g_module; }

Tracked::Tracked(std::string kind) : kind_(std::move(kind)) {
  static std::map<std::string, int> numbers;
  name_ = kind_ + "#" + std::to_string(++numbers[kind_]);
  LiveObjects().push_back(this);
}

Tracked::~Tracked() { std::erase(LiveObjects(), this); }

void Witness(IUnknown* object, std::string what) {
  if (object == nullptr) return;
  // Handed over again (the options, at each environment creation): one witness is enough.
  for (const Witnessed& entry : WitnessedObjects()) {
    if (entry.object == object) return;
  }
  object->AddRef();
  WitnessedObjects().push_back({object, std::move(what)});
}

}  // namespace standin

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    standin::g_module = module;
    try {
      standin::StandinSettings() = {standin::Variable(L"WEBVIEW2_STANDIN_JOURNAL"),
                                    standin::Variable(L"WEBVIEW2_STANDIN_MODES")};
    } catch (...) {
      return FALSE;
    }
  } else if (reason == DLL_PROCESS_DETACH) {
    // A non-null `reserved` means the process is ending; null means FreeLibrary.
    try {
      standin::ReportAtExit(reserved != nullptr);
      // Unloaded early: no window may outlive the code of its window procedure.
      if (reserved == nullptr) standin::DestroyWindows();
    } catch (...) {
    }
  }
  return TRUE;
}
