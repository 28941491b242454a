#pragma once

// The real Vardeko.exe started by a test under Wine: its process, its windows and its
// message boxes, seen from outside as a user would.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/unique_handle_win.h"

namespace vardeko::testing {

// A started program; ended by id when the test is done with it, if still running.
class ProgramProcess {
 public:
  ProgramProcess(const std::filesystem::path& exe,
                 const std::map<std::wstring, std::wstring>& variables) {
    std::wstring environment;
    for (const auto& [name, value] : variables) environment += name + L"=" + value + L'\0';
    environment += L'\0';
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr, &startup, &info)) {
      throw std::runtime_error("CreateProcessW failed");
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    id_ = info.dwProcessId;
  }
  ~ProgramProcess() {
    if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 99);
      WaitForSingleObject(process_.get(), 10000);
    }
  }
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  DWORD id() const { return id_; }
  bool Running() const { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

  std::optional<DWORD> WaitForExit(std::chrono::milliseconds timeout) {
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
      return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

  // A visible top-level window of this process with the class, once there is one.
  HWND WaitForWindow(const wchar_t* className, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (HWND found = FindWindowOfClass(className)) return found;
      if (WaitForSingleObject(process_.get(), 50) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
  }

  // The process's message box (dialog class #32770), once it shows one.
  HWND WaitForMessageBox(std::chrono::milliseconds timeout) {
    return WaitForWindow(L"#32770", timeout);
  }

  HWND FindWindowOfClass(const wchar_t* className) const {
    struct Search {
      DWORD id;
      const wchar_t* className;
      HWND found;
    } search{id_, className, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t name[64] = {};
          GetClassNameW(window, name, 64);
          if (owner == s->id && std::wstring(name) == s->className && IsWindowVisible(window)) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

inline std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

// The message text of a message box is its static control with id 0xFFFF.
inline std::wstring MessageBoxText(HWND box) {
  wchar_t text[512] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 512);
  return text;
}

inline void DismissMessageBox(HWND box) { PostMessageW(box, WM_COMMAND, IDOK, 0); }

inline void CopyTree(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::create_directories(to);
  for (const auto& entry : std::filesystem::directory_iterator(from)) {
    const std::filesystem::path target = to / entry.path().filename();
    if (entry.is_directory()) {
      CopyTree(entry.path(), target);
    } else {
      std::filesystem::copy_file(entry.path(), target);
    }
  }
}

// A folder under the temporary directory, emptied first and removed at the end.
inline std::filesystem::path FreshTempFolder(const std::wstring& name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::filesystem::path folder =
      std::filesystem::path(temp) / (name + L"-" + std::to_wstring(GetCurrentProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace vardeko::testing
