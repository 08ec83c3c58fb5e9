// The program group below the Programs menu and one shell shortcut per ShortcutEntry.
//
// Buffers: pathScratch keeps the group's full folder path for the "P" shortcuts;
// shortcutScratch builds the shortcut's own path, the one that is logged; messageScratch holds
// the target's full path, which is no longer needed once the link is saved, so a question
// about a failed log write may reuse it.
#include "core/bytes.h"
#include "install/paths.h"
#include "install/texts.h"
#include "install/worker.h"

namespace mw {

namespace {

// The kinds of shortcut and the shell folder each one goes in (Quick Launch lies below AppData).
constexpr char kShortcutKinds[] = {ShortcutDesktop, ShortcutStartMenu, ShortcutProgramGroup,
                                   ShortcutQuickLaunch, ShortcutStartup};
constexpr uint8_t kShortcutFolders[] = {FolderDesktop, FolderStartMenu, FolderPrograms,
                                        FolderAppData, FolderStartup};

// The shell folder of a kind; `tail` is what follows it. False for a kind the engine does not know.
bool folderOfKind(uint8_t kind, ShellFolder& folder, const char*& tail) {
  tail = kind == ShortcutQuickLaunch ? kQuickLaunchTail : "";
  for (uint32_t i = 0; i < sizeof kShortcutKinds; ++i) {
    if (uint8_t(kShortcutKinds[i]) != kind) continue;
    folder = ShellFolder(kShortcutFolders[i]);
    return true;
  }
  return false;
}

// ".pif" for a ".com" and for an ".exe" that is a DOS program; ".lnk" for everything else,
// including a target that cannot be read. The target is relative to the current folder.
bool wantsPif(Worker& w, const char* target) {
  const LinkExtension kind = linkExtensionFor(target);
  if (kind != LinkLookAtPe) return kind == LinkPif;
  // Only the bytes read are looked at.
  uint8_t head[64];
  const uint32_t got = w.os.readFileAt(target, 0, head, sizeof head);
  uint8_t signature[2];
  uint32_t signatureLength = 0;
  if (got == sizeof head && head[0] == 'M' && head[1] == 'Z')
    signatureLength = w.os.readFileAt(target, readU32(head + 60), signature, 2);
  return isDosProgram(head, got, signature, signatureLength);
}

// Makes the group's folders level by level in pathScratch. False when there is no usable path
// (the Programs folder is unknown or the path does not fit): "P" shortcuts are then not made.
bool makeProgramGroup(Worker& w, const char* group) {
  TextBuilder path(w.arena.pathScratch, kPathScratchSize);
  const uint32_t base = w.os.shellFolder(FolderPrograms, w.arena.pathScratch, kPathScratchSize);
  if (base == 0) {
    w.arena.pathScratch[0] = 0;
    return false;
  }
  path.length = base;
  path.appendChar('\\');
  path.append(group);
  // The levels within the group; when the path was cut, only those that fit.
  w.makeFoldersAlong(w.arena.pathScratch, base + 1, true);
  if (!path.fits()) {
    w.arena.pathScratch[0] = 0;
    return false;
  }
  w.os.makeFolder(w.arena.pathScratch);
  return true;
}

// Makes one shortcut and leaves its path in shortcutScratch, or shortcutScratch empty when none
// was saved. False when one was due and could not be made.
bool makeShortcut(Worker& w, const ShortcutEntry& entry, const char* group, bool haveGroup) {
  w.arena.shortcutScratch[0] = 0;
  ShellFolder folder;
  const char* tail;
  if (!folderOfKind(entry.kind, folder, tail)) return false;

  TextBuilder link(w.arena.shortcutScratch, kShortcutScratchSize);
  if (entry.kind == ShortcutProgramGroup && group) {
    // No group folder to put it in; the Programs folder is not where it belongs.
    if (!haveGroup) return false;
    link.append(w.arena.pathScratch);
  } else {
    const uint32_t n = w.os.shellFolder(folder, w.arena.shortcutScratch, kShortcutScratchSize);
    // An unknown folder would turn the path into one at the root of the current drive.
    if (n == 0) return false;
    link.length = n;
    link.append(tail);
    if (entry.kind == ShortcutQuickLaunch && link.fits() &&
        !w.os.folderExists(w.arena.shortcutScratch)) {
      w.arena.shortcutScratch[0] = 0;
      return true;
    }
  }
  link.appendChar('\\');
  appendShortcutName(link, entry.target, wantsPif(w, entry.target));

  TextBuilder target(w.arena.messageScratch, kMessageScratchSize);
  target.length = w.os.currentFolder(w.arena.messageScratch, kMessageScratchSize);
  bool made = target.length != 0;
  target.appendChar('\\');
  target.append(entry.target);
  made = made && link.fits() && target.fits() &&
         w.os.makeShellLink(w.arena.messageScratch, w.arena.shortcutScratch);
  if (!made) w.arena.shortcutScratch[0] = 0;
  return made;
}

}  // namespace

bool createShortcuts(Worker& w) {
  const char* group = nullptr;
  readProgramGroup(w.cursor, group);
  w.arena.pathScratch[0] = 0;
  const bool haveGroup = group && makeProgramGroup(w, group);
  // The end of the file names, then the group as the script has it (empty: just its NUL).
  if (!logByte(w, 0) || !logString(w, group ? group : "")) return false;
  w.logSection = LogShortcuts;

  // A shortcut that cannot be made (its folder unknown, its path too long, the link not saved)
  // is not logged, and the installation is incomplete. The one exception is a Quick Launch
  // shortcut on a system without a Quick Launch folder: there is no such place to promise.
  ShortcutEntry entry;
  while (nextShortcut(w.cursor, entry) == ReadItem) {
    if (!w.pause()) return false;
    if (!makeShortcut(w, entry, group, haveGroup)) w.lose();
    if (w.arena.shortcutScratch[0] && !logString(w, w.arena.shortcutScratch)) return false;
  }
  return true;
}

}  // namespace mw
