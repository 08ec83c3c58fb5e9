// The default destination: a base folder chosen by the script's kind, a backslash and the
// script's path; or, for kinds without a base, the script's path alone.
#include "checks/checks.h"

namespace mw {
namespace {

// The base folder of kinds 1 to 10.
Folder baseOf(uint8_t kind) {
  switch (kind) {
    case 1: return Folder::windows;  // then cut to the drive
    case 2: return Folder::programFiles;
    case 3: return Folder::commonFiles;
    case 4: return Folder::windows;
    case 5: return Folder::system;
    case 6: return Folder::userProfile;
    case 7: return Folder::appData;
    case 8: return Folder::documents;
    case 9: return Folder::desktop;
    default: return Folder::current;
  }
}

// Length of a text the query wrote, or 0 when it left no NUL within room (taken as no folder).
uint32_t boundedLength(char* text, uint32_t room) {
  uint32_t n = 0;
  while (n < room && text[n]) ++n;
  if (n == room) {
    text[0] = 0;
    return 0;
  }
  return n;
}

}  // namespace

bool defaultDestination(uint8_t destinationKind, const char* destinationPath, FolderQuery& folders,
                        char* installDir, uint32_t size) {
  if (size == 0) return false;
  installDir[0] = 0;
  const char* path = destinationPath ? destinationPath : "";

  if (destinationKind >= 1 && destinationKind <= 10) {
    uint32_t room = destinationKind == 10 ? kCurrentFolderRoom : kBaseFolderRoom;
    if (room > size) room = size;
    const uint32_t got = folders.folder(baseOf(destinationKind), installDir, room);
    uint32_t length = boundedLength(installDir, room);
    if (got == 0) {
      installDir[0] = 0;  // no folder: the base is empty
      length = 0;
    }
    if (destinationKind == 1 && length > 2) installDir[2] = 0;  // keep "C:"
    if (!appendText(installDir, size, "\\") || !appendText(installDir, size, path)) {
      installDir[0] = 0;
      return false;
    }
    return true;
  }

  if (!appendText(installDir, size, path)) {
    installDir[0] = 0;
    return false;
  }
  return true;
}

}  // namespace mw
