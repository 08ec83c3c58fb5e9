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
// path in the system folder as well (see loadSystemLibrary).
#pragma once

#include <windows.h>

namespace mw {

inline void hardenDllSearch() {
  // kernel32 is always mapped into every process, so loading it by name finds no other file.
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

}  // namespace mw
