/* Looks at and drives other programs' windows for the setup tests, from inside the same
 * Wine prefix. Text goes to standard output as UTF-8, one item per line.
 *
 *   wintool find CLASS TITLE MS [HAS]    wait for a visible top-level window; print its
 *                                        title, then "class|text" of each control with text
 *   wintool press CLASS TITLE ID [HAS]   send the window WM_COMMAND for control id ID
 *   wintool tick CLASS TITLE TEXT        click the control whose text is TEXT
 *   wintool gone CLASS TITLE MS [HAS]    wait until no such window is visible
 *   wintool wait-exit NAME MS            wait until no process runs from an exe named NAME
 *   wintool shortcut FILE.lnk            print the shortcut's target (from its item id list,
 *                                        as the shell opens it) and working folder
 *   wintool version FILE                 print the version resource's fixed file version,
 *                                        product name and version, and the icon count
 *   wintool run COMMAND-LINE             run the command line as given (no quoting added,
 *                                        as a shell or Apps & features starts it); exit
 *                                        with its exit code
 *
 * CLASS or TITLE "*" matches any; trailing blanks of a title are ignored. HAS picks the
 * window with a control whose text starts with HAS (a message box over its owner with the
 * same caption). Exit code 0 on success, 1 on time-out or failure. */
#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>
#include <wchar.h>

static void WriteUtf8(const wchar_t* text) {
  char buffer[4096];
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
  DWORD written;
  if (size > 1) WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, size - 1, &written, NULL);
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "\n", 1, &written, NULL);
}

/* WM_GETTEXT is marshalled between processes, unlike GetWindowText for controls. */
static void TextOf(HWND window, wchar_t* text, int size) {
  DWORD_PTR ignored;
  text[0] = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &ignored);
  text[size - 1] = 0;
}

struct Search {
  const wchar_t* className;
  const wchar_t* title;
  const wchar_t* has;
  HWND found;
};

struct ControlSearch {
  const wchar_t* text;
  size_t length; /* compared characters: a prefix, or the whole text with its end */
  HWND found;
};

static BOOL CALLBACK MatchControl(HWND window, LPARAM parameter) {
  struct ControlSearch* search = (struct ControlSearch*)parameter;
  wchar_t text[2048];
  TextOf(window, text, 2048);
  if (IsWindowVisible(window) && wcsncmp(text, search->text, search->length) == 0) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

static HWND FindControl(HWND window, const wchar_t* text, int prefix) {
  struct ControlSearch search = {text, wcslen(text) + (prefix ? 0 : 1), NULL};
  EnumChildWindows(window, MatchControl, (LPARAM)&search);
  return search.found;
}

static BOOL CALLBACK MatchTopLevel(HWND window, LPARAM parameter) {
  struct Search* search = (struct Search*)parameter;
  wchar_t name[256], title[512];
  if (!IsWindowVisible(window)) return TRUE;
  GetClassNameW(window, name, 256);
  TextOf(window, title, 512);
  /* NSIS puts a blank after its caption on some pages. */
  for (size_t n = wcslen(title); n > 0 && title[n - 1] == L' '; --n) title[n - 1] = 0;
  if ((wcscmp(search->className, L"*") == 0 || wcscmp(search->className, name) == 0) &&
      (wcscmp(search->title, L"*") == 0 || wcscmp(search->title, title) == 0) &&
      (search->has == NULL || FindControl(window, search->has, 1) != NULL)) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

static HWND FindTopLevel(const wchar_t* className, const wchar_t* title, const wchar_t* has) {
  struct Search search = {className, title, has, NULL};
  EnumWindows(MatchTopLevel, (LPARAM)&search);
  return search.found;
}

static HWND WaitTopLevel(const wchar_t* className, const wchar_t* title, const wchar_t* has,
                         DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindTopLevel(className, title, has);
    if (window != NULL || GetTickCount() - start > ms) return window;
    Sleep(100);
  }
}

static BOOL CALLBACK PrintControl(HWND window, LPARAM unused) {
  wchar_t name[256], text[2048], line[2400];
  (void)unused;
  if (!IsWindowVisible(window)) return TRUE;
  GetClassNameW(window, name, 256);
  TextOf(window, text, 2048);
  if (text[0] != 0) {
    _snwprintf(line, 2400, L"%ls|%ls", name, text);
    line[2399] = 0;
    WriteUtf8(line);
  }
  return TRUE;
}

static int ProcessRuns(const wchar_t* name) {
  PROCESSENTRY32W entry;
  int found = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
       more = Process32NextW(snapshot, &entry)) {
    found = _wcsicmp(entry.szExeFile, name) == 0;
  }
  CloseHandle(snapshot);
  return found;
}

static int PrintShortcut(const wchar_t* file) {
  IShellLinkW* link = NULL;
  IPersistFile* persist = NULL;
  PIDLIST_ABSOLUTE target = NULL;
  wchar_t path[MAX_PATH] = L"", folder[MAX_PATH] = L"";
  int result = 1;
  CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
  if (SUCCEEDED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkW,
                                 (void**)&link)) &&
      SUCCEEDED(link->lpVtbl->QueryInterface(link, &IID_IPersistFile, (void**)&persist)) &&
      SUCCEEDED(persist->lpVtbl->Load(persist, file, STGM_READ)) &&
      SUCCEEDED(link->lpVtbl->GetIDList(link, &target)) && SHGetPathFromIDListW(target, path) &&
      SUCCEEDED(link->lpVtbl->GetWorkingDirectory(link, folder, MAX_PATH))) {
    WriteUtf8(path);
    WriteUtf8(folder);
    result = 0;
  }
  CoTaskMemFree(target);
  if (persist != NULL) persist->lpVtbl->Release(persist);
  if (link != NULL) link->lpVtbl->Release(link);
  CoUninitialize();
  return result;
}

static int PrintVersion(const wchar_t* file) {
  DWORD ignored, size = GetFileVersionInfoSizeW(file, &ignored);
  static BYTE data[65536];
  VS_FIXEDFILEINFO* fixed;
  struct {
    WORD language, codePage;
  } * translation;
  UINT length;
  wchar_t line[256], *value;
  static const wchar_t* const names[] = {L"ProductName", L"ProductVersion"};
  if (size == 0 || size > sizeof data || !GetFileVersionInfoW(file, 0, size, data) ||
      !VerQueryValueW(data, L"\\", (void**)&fixed, &length) ||
      !VerQueryValueW(data, L"\\VarFileInfo\\Translation", (void**)&translation, &length)) {
    return 1;
  }
  _snwprintf(line, 256, L"%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
             LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
             LOWORD(fixed->dwFileVersionLS));
  WriteUtf8(line);
  for (int i = 0; i < 2; ++i) {
    _snwprintf(line, 256, L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
               translation->codePage, names[i]);
    if (!VerQueryValueW(data, line, (void**)&value, &length)) return 1;
    WriteUtf8(value);
  }
  _snwprintf(line, 256, L"%u", ExtractIconExW(file, -1, NULL, NULL, 0));
  WriteUtf8(line);
  return 0;
}

static int Run(wchar_t* commandLine) {
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info;
  DWORD code = 1;
  if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
    return 1;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return (int)code;
}

int wmain(int argc, wchar_t** argv) {
  const wchar_t* has = argc == 6 ? argv[5] : NULL;
  if ((argc == 5 || argc == 6) && wcscmp(argv[1], L"find") == 0) {
    wchar_t title[512];
    HWND window = WaitTopLevel(argv[2], argv[3], has, wcstoul(argv[4], NULL, 10));
    if (window == NULL) return 1;
    TextOf(window, title, 512);
    WriteUtf8(title);
    EnumChildWindows(window, PrintControl, 0);
    return 0;
  }
  if ((argc == 5 || argc == 6) && wcscmp(argv[1], L"press") == 0) {
    HWND window = FindTopLevel(argv[2], argv[3], has);
    int id = (int)wcstol(argv[4], NULL, 10);
    if (window == NULL) return 1;
    return PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                        (LPARAM)GetDlgItem(window, id))
               ? 0
               : 1;
  }
  if (argc == 5 && wcscmp(argv[1], L"tick") == 0) {
    DWORD_PTR ignored;
    HWND window = FindTopLevel(argv[2], argv[3], NULL);
    HWND control = window != NULL ? FindControl(window, argv[4], 0) : NULL;
    if (control == NULL) return 1;
    return SendMessageTimeoutW(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored) ? 0 : 1;
  }
  if ((argc == 5 || argc == 6) && wcscmp(argv[1], L"gone") == 0) {
    DWORD start = GetTickCount(), ms = wcstoul(argv[4], NULL, 10);
    while (FindTopLevel(argv[2], argv[3], has) != NULL) {
      if (GetTickCount() - start > ms) return 1;
      Sleep(100);
    }
    return 0;
  }
  if (argc == 4 && wcscmp(argv[1], L"wait-exit") == 0) {
    DWORD start = GetTickCount(), ms = wcstoul(argv[3], NULL, 10);
    while (ProcessRuns(argv[2])) {
      if (GetTickCount() - start > ms) return 1;
      Sleep(100);
    }
    return 0;
  }
  if (argc == 3 && wcscmp(argv[1], L"shortcut") == 0) return PrintShortcut(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"version") == 0) return PrintVersion(argv[2]);
  if (argc == 3 && wcscmp(argv[1], L"run") == 0) return Run(argv[2]);
  WriteUtf8(L"usage: see the comment at the top of wintool.c");
  return 2;
}
