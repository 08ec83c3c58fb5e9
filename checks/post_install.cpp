// The end of a completed wizard run: whether and how to ask for a restart, and which file (with
// which parameters) or address to open afterwards.
#include "checks/checks.h"
#include "checks/texts.h"

namespace mw {

RestartQuestion restartQuestion(uint8_t rebootMode, uint8_t runKind, const char* windowCaption) {
  if (rebootMode == 0) return RestartQuestion{false, nullptr, nullptr, 0};
  const char* caption =
      (windowCaption && windowCaption[0]) ? windowCaption : texts::kWarningCaption;
  // With something to start afterwards the user is only told; the restart is left to them.
  return RestartQuestion{true, caption, texts::kRestartQuestion, runKind == 0 ? 52u : 48u};
}

void splitRunPath(char* path, const char** file, const char** parameters) {
  *file = path;
  *parameters = nullptr;
  if (path[0] == 0) return;
  for (char* p = path + 1; *p; ++p) {
    if (p[0] == ' ' && p[1] == '/') {
      p[0] = 0;
      *parameters = p + 1;
      return;
    }
  }
}

RunAction runAfterAction(uint8_t runKind, const char* runTarget, FolderQuery& folders,
                         char* buffer, uint32_t size) {
  RunAction action{false, nullptr, nullptr};
  if (runKind == 0 || size == 0) return action;
  const char* target = runTarget ? runTarget : "";

  if (runKind <= 4) {
    // Kind 1: the buffer holds the installation folder. Kinds 2 to 4: a system folder.
    uint32_t room = size;
    if (runKind != 1) {
      const Folder which =
          runKind == 2 ? Folder::programFiles : runKind == 3 ? Folder::windows : Folder::system;
      if (room > kRunFolderRoom) room = kRunFolderRoom;
      buffer[0] = 0;
      if (folders.folder(which, buffer, room) == 0) return action;
    }
    // The folder must be a text within its room; no folder at all would make the target
    // relative to the root of the current drive.
    const uint32_t n = boundedLength(buffer, room);
    if (n == 0 || n == room) return action;
    if (buffer[n - 1] != '\\' && !appendText(buffer, size, "\\")) return action;
    if (!appendText(buffer, size, target)) return action;
  } else {
    buffer[0] = 0;
    if (target[0] == 0 || !appendText(buffer, size, target)) return action;
    if (startsWith(target, "http")) {
      action.run = true;  // an address, blanks and slashes included
      action.file = buffer;
      return action;
    }
  }

  action.run = true;
  splitRunPath(buffer, &action.file, &action.parameters);
  return action;
}

}  // namespace mw
