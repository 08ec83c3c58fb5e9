// The environment checks and the end-of-run actions, as rules free of the platform.
//
// Every function here takes plain data and a view of the system (checks/views.h: the Win32 views
// in the engine, the tests' scripted ones on the host) and returns what should happen; none of
// them shows anything or ends the process. The start-up shows the message an outcome carries and
// ends the run (checks/checks_win32.h does both with the Win32 API). This keeps every decision testable natively and lets the same code build
// freestanding for the engine: no exceptions, no heap, fixed buffers bounded by the sizes given.
#pragma once

#include <stdint.h>

#include "core/paths.h"
#include "core/text.h"
#include "checks/views.h"

namespace mw {

// What a check decided. When `pass` is false the start-up shows `text` in a message box without
// owner, with `caption` and `style`, and then ends the process. `openOnYes` is set only for the
// .NET question (style 20): when the user answers Yes, `dotNetInstaller` is opened first.
struct CheckOutcome {
  bool pass;
  const char* caption;
  const char* text;   // a fixed text, or the caller's text buffer
  uint32_t style;     // MessageBox style: 16 OK + stop icon, 20 Yes/No + stop icon
  bool openOnYes;
};

// ---------------------------------------------------------------------------------------------
// Operating-system gate

// The three fields of the version query the rules read. A failed query leaves them all zero.
struct OsVersion {
  uint32_t major;       // dwMajorVersion, compared as a signed 32-bit number
  uint32_t minor;       // dwMinorVersion
  uint32_t platformId;  // dwPlatformId; 2 is the NT family
};

constexpr uint32_t kPlatformNt = 2;

// Release codes: one byte, a smaller code is a newer release. A system newer than the table
// (major version above 6) has no code; releaseCode answers kReleaseAboveTable for it.
constexpr int kReleaseAboveTable = 0;
constexpr int kReleaseUnrecognised = 255;  // major below 4 and not 3.51, or the all-zero version

int releaseCode(uint32_t major, uint32_t minor, uint32_t platformId);

// Passes when minimumOs is 0, the system is newer than the table, or minimumOs >= code with both
// taken as signed bytes. An unrecognised system (code 255, i.e. -1) therefore passes every
// minimumOs from 1 to 127: refusing it would lock out systems we cannot name.
CheckOutcome osGate(uint8_t minimumOs, const OsVersion& os);

// ---------------------------------------------------------------------------------------------
// .NET Framework requirement

// Framework codes, on the same scale as dotNetRequired: 1 (4.7) .. 9 (1.0), 100 nothing found.
// 4.8 and later meets every requirement and has no code; installedDotNet answers kDotNetAllMet.
constexpr uint8_t kDotNetAllMet = 0;
constexpr uint8_t kDotNetNone = 100;

// Room for one subkey name during the enumeration, NUL included.
constexpr uint32_t kSubkeyNameRoom = 256;

uint8_t installedDotNet(DotNetRegistryView& registry);

// The version named in the refusal for a required code: "4.7" for 1 .. "1.1" for 8, "1.0" else.
const char* dotNetVersionText(uint8_t dotNetRequired);

// dotNetInstaller is null or empty when no installation is offered. The refusal text is formatted
// into textBuffer (cut to `size` bytes if it must be); see kTextBufferSize.
CheckOutcome dotNetCheck(uint8_t dotNetRequired, const char* dotNetInstaller,
                         DotNetRegistryView& registry, char* textBuffer, uint32_t size);

// ---------------------------------------------------------------------------------------------
// Administrator requirement

// The answers of the account database besides the privilege levels 0 to 2.
constexpr int32_t kPrivilegeNoService = -1;     // the account service cannot be used at all
                                                // (no netapi32, or one without NetUserGetInfo):
                                                // the requirement is taken as met
constexpr int32_t kPrivilegeLookupFailed = -2;  // the lookup failed (e.g. a domain account)
constexpr int32_t kPrivilegeAdmin = 2;

// The query is asked only when requireAdmin is set and the platform is NT. The requirement is
// met by privilege level 2, by an unusable account service, or by Administrators membership.
CheckOutcome adminCheck(uint8_t requireAdmin, uint32_t platformId, const char* productName,
                        AdminQuery& query, char* textBuffer, uint32_t size);

// The messages of .NET and administrator refusals embed a version text or productName; with
// this much room the longest product name a message can still show whole is ~930 characters.
// Smaller buffers work too: the text is cut, never overrun.
constexpr uint32_t kTextBufferSize = 1024;

// ---------------------------------------------------------------------------------------------
// Default destination and the folders of the run-after action


constexpr uint32_t kInstallDirRoom = 1024;   // the arena's installDir region, NUL included
constexpr uint32_t kBaseFolderRoom = 256;    // room given to a base-folder query
constexpr uint32_t kCurrentFolderRoom = 1024;
constexpr uint32_t kRunFolderRoom = 260;     // room given to the run-after folder queries

// Fills installDir with the default destination: for kinds 1..10 the base folder (kind 1: only
// the drive letter and colon of the Windows folder), one backslash and destinationPath; for any
// other kind destinationPath alone. A base that cannot be had counts as empty. No final
// backslash is added. Returns false, leaving installDir empty, when the result does not fit in
// `size` bytes: a cut path would name a different folder.
bool defaultDestination(uint8_t destinationKind, const char* destinationPath, FolderQuery& folders,
                        char* installDir, uint32_t size);

// ---------------------------------------------------------------------------------------------
// Restart question and run-after action (wizard mode, after a completed installation)

struct RestartQuestion {
  bool ask;             // false when rebootMode is 0
  const char* caption;  // windowCaption, or "Warning" when it is empty
  const char* text;
  uint32_t style;       // 52 Yes/No + exclamation when runKind is 0, else 48 OK + exclamation
};

RestartQuestion restartQuestion(uint8_t rebootMode, uint8_t runKind, const char* windowCaption);

// What to open after the installation. `file` and `parameters` point into the buffer the path
// was built in; `parameters` is null when there are none.
struct RunAction {
  bool run;
  const char* file;
  const char* parameters;
};

// Builds the run-after path in `buffer` (the installDir region, `size` bytes, holding the
// installation folder on entry) and splits it:
//   runKind 1: installDir, a backslash if it does not end in one, runTarget;
//   runKind 2, 3, 4: the program-files, Windows or system folder, a backslash if needed, runTarget;
//   other kinds: runTarget alone; a target beginning with "http" is an address and not split.
// Nothing is run (run false) when runKind is 0, when the folder cannot be had, or when the path
// does not fit: starting a cut path, or a path at the root of the current drive, could start a
// program other than the one meant.
RunAction runAfterAction(uint8_t runKind, const char* runTarget, FolderQuery& folders,
                         char* buffer, uint32_t size);

// Splits a path in place at the first blank (from its second character on) that is followed by
// "/": the blank becomes the end of the file, the parameters start at the "/". No such place:
// the whole path is the file and parameters is null.
void splitRunPath(char* path, const char** file, const char** parameters);

}  // namespace mw
