// The installer's command line: the silent switch and the folder that may follow it.
//
// The switch is the first "/s" anywhere after the command line's first character, lower case
// only; a blank right after it means a folder follows, taken unchanged (quotes, further switches
// and trailing blanks included). The mode is read before anything else happens, so that every
// way out of the process, the earliest included, can report through the silent exit code.
// Engine core: pure functions over the text.
#pragma once

#include <stdint.h>

namespace mw {

enum SilentMode : uint8_t {
  ModeWizard = 0,         // no switch: the wizard runs
  ModeSilent = 1,         // "/s": the script's default destination
  ModeSilentFolder = 2,   // "/s FOLDER"
};

struct SilentSwitch {
  uint8_t mode;           // a SilentMode
  const char* folder;     // ModeSilentFolder: the text after "/s ", within the command line
};

SilentSwitch findSilentSwitch(const char* commandLine);

enum FolderVerdict : uint8_t {
  FolderAccepted = 0,
  FolderTooLong = 1,      // it would not fit installDir with its NUL: a cut path names another folder
  FolderRelative = 2,     // it names no root, so it would be resolved against wherever the
                          // installer happened to be started, and so would the log and the
                          // uninstall registration
};

// The folder given after "/s ": shorter than `room` characters and absolute in the sense the
// wizard's destination check uses (isAbsoluteFolder, core/paths.h).
FolderVerdict checkSilentFolder(const char* folder, uint32_t room);

}  // namespace mw
