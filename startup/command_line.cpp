#include "startup/command_line.h"

#include "core/bytes.h"
#include "core/paths.h"

namespace mw {

SilentSwitch findSilentSwitch(const char* line) {
  SilentSwitch found{ModeWizard, nullptr};
  if (!line[0]) return found;
  for (const char* p = line + 1; *p; ++p) {
    if (p[0] != '/' || p[1] != 's') continue;
    found.mode = ModeSilent;
    if (p[2] == ' ') {
      found.mode = ModeSilentFolder;
      found.folder = p + 3;
    }
    break;
  }
  return found;
}

FolderVerdict checkSilentFolder(const char* folder, uint32_t room) {
  if (textLength(folder) >= room) return FolderTooLong;
  return isAbsoluteFolder(folder) ? FolderAccepted : FolderRelative;
}

}  // namespace mw
