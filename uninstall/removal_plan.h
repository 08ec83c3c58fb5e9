// What the uninstaller removes, and in which order, decided from the log alone. The removals
// themselves go through an `Ops` object: the Windows program passes one that calls the system
// (uninstall/uninstaller_win32.cpp), the tests one that records the calls and plays back
// chosen results. The plan is a template over the seam's concept (RemovalOps, below) so the
// program's copy compiles down to direct calls; the image has a few hundred bytes to spare.
#pragma once

#include <stdint.h>

#include "core/paths.h"
#include "format/log_format.h"
#include "uninstall/log_reader.h"

namespace mw {

// The removals the plan asks of the system: the contract of both Ops types, checked at compile
// time.
template <typename O>
concept RemovalOps = requires {
  // Makes `path` the current folder.
  static_cast<bool (O::*)(const char* path)>(&O::setFolder);
  // Failures are ignored.
  static_cast<void (O::*)(const char* path)>(&O::deleteFile);
  // Removes an empty folder; true if it went.
  static_cast<bool (O::*)(const char* path)>(&O::removeFolder);
  // The user's (false) or everyone's (true) Programs folder.
  static_cast<bool (O::*)(bool common)>(&O::setProgramsFolder);
  // Opens for deletion; true if open.
  static_cast<bool (O::*)(uint32_t root, const char* subkey)>(&O::openKey);
  // On the open key; null: the default value.
  static_cast<void (O::*)(const char* name)>(&O::deleteValue);
  static_cast<void (O::*)()>(&O::closeKey);
  static_cast<void (O::*)(uint32_t root, const char* subkey)>(&O::deleteKey);
  // True unless `path` is seen to be no reparse point (a junction or symbolic link); a missing
  // path too.
  static_cast<bool (O::*)(const char* path)>(&O::isLink);
  // Creates a new folder; false if it exists or fails.
  static_cast<bool (O::*)(const char* path)>(&O::createFolder);
};

// A file path of the log is removed only when it stays inside the installation folder
// (isContainedPath, core/paths.h).

// Lowercases A to Z in place. If the path then ends in ".hlp", turns the ending into ".gid"
// (the help index the help viewer writes beside the file) and returns true.
bool toHelpIndexName(char* path);

// out = a + b, NUL-terminated. When it does not fit in `capacity` bytes, `out` is left empty
// and the result is false: a cut path would name some other file or key.
bool joinText(char* out, uint32_t capacity, const char* a, const char* b);

// out = pattern with every "%s" replaced by `arg`, cut to fit `capacity` (a message may be
// cut; it is only shown). The uninstaller's own, not the engine's formatText (core/text.h, which
// replaces the first "%s" only): that one, linked in, takes the image 36 bytes past its room.
void formatEach(char* out, uint32_t capacity, const char* pattern, const char* arg);

// The copy in the temporary folder is started with its quoted path and the argument "U". The
// program's path is skipped as the system reads it (quoted: up to the closing quote; unquoted:
// up to the first blank), so a path that ends in a U, or holds one between blanks, never counts.
bool isCopyCommandLine(const char* commandLine);

// The copy lives in a folder of its own, made anew for each run: kCopyFolderPrefix and eight
// letters, right inside the temporary folder.
constexpr char kCopyFolderPrefix[] = "Uninstall-";

// out = tempFolder + kCopyFolderPrefix + `number` in eight letters A to P (a hex digit each). False (out empty) when it
// does not fit together with a backslash and kUninstallerFileName.
bool copyFolderName(char* out, uint32_t capacity, const char* tempFolder, uint32_t number);

// True when `path` lies in such a folder of `tempFolder` (it begins with tempFolder and the
// prefix): only then is the running program a copy this uninstaller made, whose file and folder
// are its own to remove.
bool isInCopyFolder(const char* path, const char* tempFolder);

// Makes the copy's folder: tries up to kCopyFolderTries names from `seed` on and takes the first
// one that createFolder makes; a folder that already exists is never used, whoever made it.
constexpr uint32_t kCopyFolderTries = 16;
template <RemovalOps Ops>
bool makeCopyFolder(char* out, uint32_t capacity, const char* tempFolder, uint32_t seed, Ops& ops) {
  for (uint32_t i = 0; i < kCopyFolderTries; ++i)
    if (copyFolderName(out, capacity, tempFolder, seed + i) && ops.createFolder(out)) return true;
  *out = 0;
  return false;
}

// Systems outside the NT family remove files at restart through wininit.ini's [Rename] section,
// where "NUL=path" lines pile up, one per file, from every program that asked. `section` holds
// the section as GetPrivateProfileSectionA returned it (`length` characters, entries ending in
// NUL) in a buffer of `capacity`; appends "NUL=" + path and the final NUL. False when the section
// may have been cut (the read filled the buffer) or the line does not fit: then writing the
// section back would drop another program's lines.
bool appendRenameLine(char* section, uint32_t length, uint32_t capacity, const char* path);

// Gives a temporary folder of `length` characters its final backslash. False, with the folder
// left unusable, when the folder plus a backslash and "Uninstall.exe" would not fit.
bool finishTempFolder(char* folder, uint32_t length, uint32_t capacity);

constexpr char kUninstallerFileName[] = "Uninstall.exe";

// A created key is deleted only when its path has at least two levels below its root and no
// empty level: "Software\Vendor" may go, "Software" (or "Software\", "\Software", "A\\B") never.
// A damaged log cannot make the uninstaller delete a key that everything else lives under.
bool isDeletableKey(const char* subkey);

// Only shortcut files are deleted from the shortcut list: a name ending in ".lnk" or ".pif",
// in any case.
bool isShortcutFile(const char* path);

// True when a folder of `path` (each prefix ending at a backslash) is a link: what lies behind
// it is not part of the installation.
template <RemovalOps Ops>
bool passesThroughLink(char* path, Ops& ops) {
  for (char* p = path; *p; ++p) {
    if (*p != '\\') continue;
    *p = 0;
    const bool link = ops.isLink(path);
    *p = '\\';
    if (link) return true;
  }
  return false;
}

template <RemovalOps Ops>
void removeInstalledFile(char* path, Ops& ops) {
  if (!isContainedPath(path) || passesThroughLink(path, ops)) return;
  ops.deleteFile(path);
  if (toHelpIndexName(path)) ops.deleteFile(path);
  // The file's own folder first, then each parent up to the installation folder.
  for (char* p = path + textLength(path); p != path;) {
    if (*--p != '\\') continue;
    *p = 0;
    ops.removeFolder(path);
    *p = '\\';
  }
}

// The installer makes the group in the user's Programs folder; older installations on some
// systems have it in the common one. Levels are removed from the innermost outwards and only
// while each one goes.
template <RemovalOps Ops>
void removeProgramGroup(char* group, Ops& ops) {
  if (!*group || !isContainedPath(group)) return;
  for (int common = 0; common < 2; ++common) {
    if (!ops.setProgramsFolder(common != 0) || !ops.removeFolder(group)) continue;
    for (char* p = group + textLength(group); p != group;) {
      if (*--p != '\\') continue;
      *p = 0;
      if (!ops.removeFolder(group)) break;
    }
    return;
  }
}

// Everything after the user said Yes, up to the completion message. The log is modified in
// place (names lowercased, the group cut at its backslashes). `scratch` holds the uninstall
// key's path.
template <RemovalOps Ops>
void removeInstallation(UninstallLog& log, const char* tempFolder, char* scratch,
                        uint32_t scratchSize, Ops& ops) {
  // Relative names are only meaningful inside the installation folder; if it cannot be
  // entered they would name files wherever the process happens to stand. A folder that is a
  // link leads somewhere else: nothing is deleted through it.
  if (!ops.isLink(log.installDir) && ops.setFolder(log.installDir)) {
    for (char* f = log.files; *f; f = nextEntry(f)) removeInstalledFile(f, ops);
    ops.deleteFile(kUninstallerFileName);
  }
  // A folder that is current cannot go: stand in the temporary folder to remove it.
  ops.setFolder(tempFolder);
  ops.removeFolder(log.installDir);

  for (char* s = log.shortcuts; *s; s = nextEntry(s))
    if (isShortcutFile(s)) ops.deleteFile(s);
  removeProgramGroup(log.programGroup, ops);

  uint8_t* cursor = log.records;
  RegistryRecord record;
  while (nextRegistryRecord(&cursor, log.end, &record)) {
    if (ops.openKey(record.root, record.subkey)) {
      ops.deleteValue(record.valueName);
      ops.closeKey();
    }
    if (record.kind == kRecordCreated && isDeletableKey(record.subkey))
      ops.deleteKey(record.root, record.subkey);
  }
  // Normally the log's last record has done this already. A product name ending in a backslash
  // would name the Uninstall key itself, as a record's subkey would.
  if (*log.productName && joinText(scratch, scratchSize, kUninstallKeyPrefix, log.productName) &&
      isDeletableKey(scratch))
    ops.deleteKey(kRootLocalMachine, scratch);
}

}  // namespace mw
