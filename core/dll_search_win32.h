// Keeps DLLs that lie beside the program out of its process.
//
// An installer is started from a downloads folder full of other people's files, and with
// administrator rights. Windows looks for a DLL named without a path in the program's own folder
// first, so a planted copy of one that the system loads on our behalf (or that we load by name)
// would run elevated. The first thing each program does is therefore to take the program's folder
// out of the search:
//   - SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) where the system has it (Windows 8, and
//     7 or Vista with their update): from then on only the system folder is searched;
//   - else SetDllDirectoryA("") (XP SP1 and later): the search no longer includes the current folder.
// Both are looked up at run time: the oldest systems we run on have neither, and importing one
// would keep the program from starting there. Libraries loaded at run time are loaded by their full
// path in the system folder as well (loadSystemLibrary), which is the only defence on the systems
// that have neither call.
#pragma once

#include <windows.h>

#include "core/bytes.h"

namespace mw {

inline void hardenDllSearch() {
  // kernel32 is mapped into every process before its first instruction runs and is a known DLL,
  // so its name finds that module and never a file: no search takes place.
  HMODULE kernel = LoadLibraryA("kernel32.dll");
  typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
  typedef BOOL(WINAPI * SetDirectory)(LPCSTR);
  if (auto setDefault = reinterpret_cast<SetDefaultDirectories>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")))) {
    if (setDefault(0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */)) return;
  }
  if (auto setDirectory = reinterpret_cast<SetDirectory>(
          reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA"))))
    setDirectory("");
}

// Loads the system library `name` ("netapi32.dll") by its full path in the system folder, so no
// file of that name elsewhere can stand in for it. LOAD_WITH_ALTERED_SEARCH_PATH makes the
// libraries it needs in turn be looked for beside it, in the system folder, instead of beside the
// program. Null when the folder is unknown or the library does not load. A library the program
// imports is already loaded: this finds that module.
inline HMODULE loadSystemLibrary(const char* name) {
  char path[MAX_PATH + 16];
  const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
  const size_t length = textLength(name);
  if (folder == 0 || folder >= MAX_PATH || length >= 15) return nullptr;
  path[folder] = '\\';
  copyBytes(path + folder + 1, name, length + 1);
  return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

}  // namespace mw
