// A library for the uninstaller's wine tests that only says it was loaded: planted beside the
// uninstaller under the name of a library the system loads on the program's behalf, it leaves
// NAME.ran beside itself when its entry runs. A test that finds that file saw a planted library
// run inside the uninstaller.
#include <windows.h>

extern "C" BOOL WINAPI markerEntry(HINSTANCE self, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH + 8];
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n && n < MAX_PATH) {
      lstrcpyA(path + n, ".ran");
      HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  return TRUE;
}
