// Holds one file open without any sharing for a while, from a process of its own, as a
// virus scanner or an indexer does with a file just written. Told what to do through
// its environment: VARDEKO_HOLD_FILE (the path), VARDEKO_HOLD_MS (how long) and
// VARDEKO_HOLD_READY (a named event it sets once the file is open). Exit code 0 once it
// held and let go, 2 when the file could not be opened.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH * 2] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH * 2);
  return length > 0 && length < MAX_PATH * 2 ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int wmain() {
  const std::wstring path = Variable(L"VARDEKO_HOLD_FILE");
  const DWORD hold =
      static_cast<DWORD>(std::wcstoul(Variable(L"VARDEKO_HOLD_MS").c_str(), nullptr, 10));
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  if (const HANDLE ready =
          OpenEventW(EVENT_MODIFY_STATE, FALSE, Variable(L"VARDEKO_HOLD_READY").c_str())) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  Sleep(hold);
  CloseHandle(file);
  return 0;
}
