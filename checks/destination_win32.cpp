// Where the base folders come from on Windows, and the start-up's default-destination step.
#include <windows.h>
#include <shlobj.h>

#include "checks/checks_win32.h"
#include "core/win32.h"

namespace mw {
namespace {

constexpr char kCurrentVersionKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

// The directory calls answer the length without the NUL, or the room they would need when the
// buffer is too small; only the first is a folder.
uint32_t fromLength(UINT length, char* out, uint32_t room) {
  if (length == 0 || length >= room) {
    out[0] = 0;
    return 0;
  }
  return length;
}

uint32_t registryFolder(const char* valueName, char* out, uint32_t room) {
  DWORD size = room - 1;  // keep a byte for the NUL a stored string may lack
  const DWORD type = readMachineValue(kCurrentVersionKey, valueName, out, size);
  if (type != REG_SZ && type != REG_EXPAND_SZ) size = 0;  // no text: an empty folder
  out[size] = 0;  // size < room: the text always ends within the room
  return boundedLength(out, room);
}

}  // namespace

uint32_t Win32FolderQuery::folder(Folder which, char* out, uint32_t room) {
  if (room == 0) return 0;
  switch (which) {
    case Folder::windows: return fromLength(GetWindowsDirectoryA(out, room), out, room);
    case Folder::system: return fromLength(GetSystemDirectoryA(out, room), out, room);
    case Folder::programFiles: return registryFolder("ProgramFilesDir", out, room);
    case Folder::commonFiles: return registryFolder("CommonFilesDir", out, room);
    case Folder::userProfile: return fromLength(GetEnvironmentVariableA("UserProfile", out, room), out, room);
    case Folder::appData: return fromLength(GetEnvironmentVariableA("AppData", out, room), out, room);
    case Folder::documents: return shellFolderPath(CSIDL_PERSONAL, out, room);
    case Folder::desktop: return shellFolderPath(CSIDL_DESKTOPDIRECTORY, out, room);
    case Folder::current: return fromLength(GetCurrentDirectoryA(room, out), out, room);
  }
  out[0] = 0;
  return 0;
}

bool fillDefaultDestination(uint8_t destinationKind, const char* destinationPath, char* installDir,
                            uint32_t size) {
  Win32FolderQuery folders;
  return defaultDestination(destinationKind, destinationPath, folders, installDir, size);
}

}  // namespace mw
