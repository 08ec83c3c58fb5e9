// The Win32 helpers the engine's pieces share: reading a file at an offset and resolving a shell
// folder. The start-up, the worker's platform and the checks all go through these.
#include "core/win32.h"

#include <shlobj.h>

#include "core/bytes.h"

namespace mw {

bool readAt(HANDLE file, uint32_t offset, void* buffer, uint32_t length, uint32_t& got) {
  got = 0;
  if (SetFilePointer(file, LONG(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    return false;
  return readOn(file, buffer, length, got);
}

bool readOn(HANDLE file, void* buffer, uint32_t length, uint32_t& got) {
  got = 0;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  while (got < length) {
    DWORD n = 0;
    if (!ReadFile(file, p + got, length - got, &n, nullptr)) return false;
    if (n == 0) break;  // the end of the file
    got += n;
  }
  return true;
}

uint32_t shellFolderPath(int csidl, char* out, uint32_t room) {
  // The shell writes up to MAX_PATH characters: give it that much and copy what fits.
  char path[MAX_PATH];
  path[0] = 0;
  uint32_t n = 0;
  LPITEMIDLIST list = nullptr;
  if (SHGetSpecialFolderLocation(nullptr, csidl, &list) == S_OK && list) {
    if (SHGetPathFromIDListA(list, path)) {
      path[MAX_PATH - 1] = 0;
      n = uint32_t(textLength(path));
    }
    CoTaskMemFree(list);
  }
  if (n == 0 || n >= room) {
    if (room) out[0] = 0;
    return 0;
  }
  copyBytes(out, path, n + 1);
  return n;
}

}  // namespace mw
