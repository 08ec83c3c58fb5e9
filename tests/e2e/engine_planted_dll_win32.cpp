// planted_marker.dll: a stand-in for a DLL planted beside an installer. Copied there under the
// name of a system library (netapi32.dll, version.dll), it proves by C:\planted_marker.txt that
// the process loaded it: its DllMain writes that file, naming the module it was loaded as.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  HANDLE file = CreateFileA("C:\\planted_marker.txt", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, path, length, &written, nullptr);
    WriteFile(file, "\r\n", 2, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
