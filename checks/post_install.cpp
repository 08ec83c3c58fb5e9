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
  const RunAction none{false, nullptr, nullptr};
  if (runKind == 0 || size == 0) return none;
  const char* target = runTarget ? runTarget : "";

  if (runKind >= 1 && runKind <= 4) {
    if (runKind == 1) {
      // The buffer holds the installation folder; make sure it is a text within the buffer.
      uint32_t n = 0;
      while (n < size && buffer[n]) ++n;
      if (n == size) return none;
    } else {
      const Folder which =
          runKind == 2 ? Folder::programFiles : runKind == 3 ? Folder::windows : Folder::system;
      buffer[0] = 0;
      uint32_t room = kRunFolderRoom < size ? kRunFolderRoom : size;
      if (folders.folder(which, buffer, room) == 0) return none;
      uint32_t n = 0;
      while (n < room && buffer[n]) ++n;
      if (n == room) return none;
    }
    // No folder at all would make the target relative to the root of the current drive.
    if (buffer[0] == 0) return none;
    uint32_t n = 0;
    while (buffer[n]) ++n;
    if (buffer[n - 1] != '\\' && !appendText(buffer, size, "\\")) return none;
    if (!appendText(buffer, size, target)) return none;
  } else {
    buffer[0] = 0;
    if (target[0] == 0 || !appendText(buffer, size, target)) return none;
    if (target[0] == 'h' && target[1] == 't' && target[2] == 't' && target[3] == 'p')
      return RunAction{true, buffer, nullptr};  // an address, blanks and slashes included
  }

  RunAction action{true, nullptr, nullptr};
  splitRunPath(buffer, &action.file, &action.parameters);
  return action;
}

}  // namespace mw
