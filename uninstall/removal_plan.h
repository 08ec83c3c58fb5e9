// What the uninstaller removes, and in which order, decided from the log alone. The removals
// themselves go through an `Ops` object: the Windows program passes one that calls the system
// (uninstall/uninstaller_win32.cpp), the tests one that records the calls and plays back
// chosen results. The plan is a template so the program's copy compiles down to direct calls;
// the image has a few hundred bytes to spare.
//
// An Ops type provides:
//   bool setFolder(const char* path)          make `path` the current folder
//   void deleteFile(const char* path)         failures are ignored
//   bool removeFolder(const char* path)       removes an empty folder; true if it went
//   bool setProgramsFolder(bool common)       the user's (false) or everyone's (true) Programs folder
//   bool openKey(uint32_t root, const char* subkey)   opens for deletion; true if open
//   void deleteValue(const char* name)        on the open key; null: the default value
//   void closeKey()
//   void deleteKey(uint32_t root, const char* subkey)
#pragma once

#include <stdint.h>

#include "core/paths.h"
#include "uninstall/log_format.h"
#include "uninstall/log_reader.h"

namespace mw {

// A file path of the log is removed only when it stays inside the installation folder
// (isContainedPath, core/paths.h).

// Lowercases A to Z in place. If the path then ends in ".hlp", turns the ending into ".gid"
// (the help index the help viewer writes beside the file) and returns true.
bool toHelpIndexName(char* path);

// out = a + b, NUL-terminated. When it does not fit in `capacity` bytes, `out` is left empty
// and the result is false: a cut path would name some other file or key.
bool joinText(char* out, uint32_t capacity, const char* a, const char* b);

// out = pattern with every "%s" replaced by `arg`, cut to fit `capacity` (a message may be
// cut; it is only shown).
void formatText(char* out, uint32_t capacity, const char* pattern, const char* arg);

// The copy in the temporary folder is started with the command line "U"; any command line
// whose last character is an upper-case U counts as that.
bool isCopyCommandLine(const char* commandLine);

// Gives a temporary folder of `length` characters its final backslash. False, with the folder
// left unusable, when the folder plus a backslash and "Uninstall.exe" would not fit.
bool finishTempFolder(char* folder, uint32_t length, uint32_t capacity);

constexpr char kUninstallerFileName[] = "Uninstall.exe";

// A key named by a path with an empty last component ("...\Uninstall\" from an empty product
// name) would be the parent key: never deleted.
bool isDeletableKey(const char* subkey);

template <class Ops>
void removeInstalledFile(char* path, Ops& ops) {
  if (!isContainedPath(path)) return;
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
template <class Ops>
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
template <class Ops>
void removeInstallation(UninstallLog& log, const char* tempFolder, char* scratch,
                        uint32_t scratchSize, Ops& ops) {
  // Relative names are only meaningful inside the installation folder; if it cannot be
  // entered they would name files wherever the process happens to stand.
  if (ops.setFolder(log.installDir)) {
    for (char* f = log.files; *f; f = nextEntry(f)) removeInstalledFile(f, ops);
    ops.deleteFile(kUninstallerFileName);
  }
  // A folder that is current cannot go: stand in the temporary folder to remove it.
  ops.setFolder(tempFolder);
  ops.removeFolder(log.installDir);

  for (char* s = log.shortcuts; *s; s = nextEntry(s)) ops.deleteFile(s);
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
