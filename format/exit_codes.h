// Exit codes of a silent installation ("/s"), for deployment tools that run the installer
// unattended and need to know whether it worked. The wizard road always ends with 0: a person
// was there and saw what happened. README.md ("Silent-mode exit codes") lists the same table.
#pragma once

#include <stdint.h>

namespace mw {

enum SilentExit : uint32_t {
  ExitInstalled = 0,         // every file, shortcut and registry value is in place
  ExitSelfUnreadable = 1,    // the installer could not open or read its own file, or no memory
  ExitRefused = 2,           // the operating system, .NET or administrator check refused
  ExitPayloadCorrupt = 3,    // the payload failed its check and the user declined (or it is unusable)
  ExitStoppedByUser = 4,     // the user stopped at an error question (Abort, Cancel, No)
  ExitAlreadyRunning = 5,    // another copy of the same installer is running
  ExitBadDestination = 6,    // the destination is too long, not a full path, or cannot be composed
  ExitIncomplete = 7,        // finished, but a file was skipped (Ignore), failed its integrity
                             // check (kept on Yes) or could not be written whole; a value, a
                             // shortcut, the registration or Uninstall.exe could not be made;
                             // or the payload failed its check and the user went on
};

// One line of text per code, for tools that report an outcome (marlowick try).
inline const char* silentExitMeaning(uint32_t code) {
  switch (code) {
    case ExitInstalled: return "installed";
    case ExitSelfUnreadable: return "the installer could not read its own file or get memory";
    case ExitRefused: return "refused by a system check (operating system, .NET, administrator)";
    case ExitPayloadCorrupt: return "the payload is corrupt and the installation was declined";
    case ExitStoppedByUser: return "stopped at an error question";
    case ExitAlreadyRunning: return "another copy of the installer is running";
    case ExitBadDestination: return "the destination folder was refused";
    case ExitIncomplete: return "finished, but some files are missing or damaged";
    default: return "unknown exit code";
  }
}

}  // namespace mw
