// The installation worker: the one routine that changes the machine. It makes the destination
// folder, writes Uninstall.exe with its log, extracts every file of the file table, makes the
// program group and the shortcuts, writes the registry values and the uninstall registration,
// and finishes the uninstaller image.
//
// It is plain logic over the parsed script and the arena; every system call goes through the
// platform seam (install/system.h), so the whole worker runs natively in tests. It never
// ends the process: it returns an outcome, and the caller ends the process (silent mode) or
// shows the finished page (wizard mode).
#pragma once

#include <stdint.h>

#include "install/system.h"
#include "format/arena.h"
#include "format/script.h"

namespace mw {

// How an installation ended. The start-up turns these into the silent mode's exit codes; the
// wizard road always exits with 0. The worker asks its own questions, but it shows nothing for
// InstallCorrupt, InstallNoMemory and InstallBadDestination: those refusals come before anything
// is made, and the caller tells the user, with the same texts as its own refusals.
enum InstallOutcome : uint8_t {
  // Every file, shortcut, value and the uninstaller were made as the script says.
  InstallDone = 0,
  // It ran to the end, but something is missing or damaged because the user chose to go on
  // (Ignore on a file that could not be created or written, Yes on a failed integrity check),
  // or because a value or the uninstaller could not be completed. Never reported as success.
  InstallIncomplete = 1,
  // The user stopped at an error question (Abort, Cancel, No). What was made stays.
  InstallStopped = 2,
  // The user quit the wizard while it was installing (the pause point said so).
  InstallQuit = 3,
  // The script's lists are malformed or name a path outside its folder: refused before
  // anything was created.
  InstallCorrupt = 4,
  // The chunk buffer could not be allocated: nothing was created.
  InstallNoMemory = 5,
  // installDir fills its whole region and has no room for the final backslash: refused before
  // anything was created.
  InstallBadDestination = 6,
};

// What the worker is given, and the two things it hands back.
struct InstallJob {
  EnginePlatform* platform;     // the build's one implementation of the seam
  const Arena* arena;           // script region, outputRegion, the scratches, installDir
  const SetupScript* front;     // the parsed front: productName and where the lists begin
  uint32_t blobOffset;          // where the uninstaller blob starts: scriptOffset + scriptLength
  bool wizard;                  // true: the wizard runs (file label, progress, pause points,
                                // questions owned by it); false: silent mode
  bool payloadSuspect;          // the payload failed its checksum and the user chose to go on:
                                // the uninstaller blob has no check of its own, so such an
                                // installation is never reported as complete
  // Out: placed on the file table by the worker and left on the PostInstall record when the
  // outcome is InstallDone or InstallIncomplete.
  ScriptCursor* cursor;
  // Out: the finished page's text when the worker got that far, else null.
  const char* finishText;
};

// Runs the whole installation. installDir (in the arena) must be NUL-terminated within its
// region; the worker appends the final backslash it needs when there is room for it.
InstallOutcome installWorker(InstallJob& job);

}  // namespace mw
