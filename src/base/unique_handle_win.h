#pragma once

#include <windows.h>

#include <objbase.h>

#include "base/unique_resource.h"

// The owners of the Win32 handles the program creates, one alias per kind.
namespace vardeko {

// CreateFileW reports failure as INVALID_HANDLE_VALUE; most other calls as null.
struct InvalidHandleValueIsEmpty {
  static HANDLE Empty() noexcept { return INVALID_HANDLE_VALUE; }
};

inline BOOL ReleaseBrush(HBRUSH brush) noexcept { return DeleteObject(brush); }

using UniqueHandle = UniqueResource<HANDLE, &CloseHandle>;  // mutexes, processes, events
using UniqueFileHandle = UniqueResource<HANDLE, &CloseHandle, InvalidHandleValueIsEmpty>;
using UniqueModule = UniqueResource<HMODULE, &FreeLibrary>;
using UniqueCoTaskMemString = UniqueResource<PWSTR, &CoTaskMemFree>;
using UniqueBrush = UniqueResource<HBRUSH, &ReleaseBrush>;

}  // namespace vardeko
