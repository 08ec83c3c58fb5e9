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

}  // namespace

bool defaultDestination(uint8_t destinationKind, const char* destinationPath, FolderQuery& folders,
                        char* installDir, uint32_t size) {
  if (size == 0) return false;
  installDir[0] = 0;
  const char* path = destinationPath ? destinationPath : "";

  bool fits;
  if (destinationKind >= 1 && destinationKind <= 10) {
    uint32_t room = destinationKind == 10 ? kCurrentFolderRoom : kBaseFolderRoom;
    if (room > size) room = size;
    // A base that cannot be had, or that the query left without a NUL, is empty.
    uint32_t length = 0;
    if (folders.folder(baseOf(destinationKind), installDir, room) != 0)
      length = boundedLength(installDir, room);
    if (length == room) length = 0;
    installDir[length] = 0;
    if (destinationKind == 1 && length > 2) installDir[2] = 0;  // keep "C:"
    fits = appendText(installDir, size, "\\") && appendText(installDir, size, path);
  } else {
    fits = appendText(installDir, size, path);
  }
  if (!fits) installDir[0] = 0;
  return fits;
}

}  // namespace mw
