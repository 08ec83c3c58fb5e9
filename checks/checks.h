// The environment checks and the end-of-run actions, as rules free of the platform.
//
// Every function here takes plain data and an abstract view of the system and returns what should
// happen; none of them shows anything or ends the process. The start-up shows the message an
// outcome carries and ends the run (checks/checks_win32.h does both with the Win32 API, and
// implements the views). This keeps every decision testable natively and lets the same code build
// freestanding for the engine: no exceptions, no heap, fixed buffers bounded by the sizes given.
#pragma once

#include <stdint.h>

#include "core/paths.h"
#include "core/text.h"

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

// One step of the NDP key's subkey enumeration.
enum class SubkeyRead : uint8_t {
  entry,       // a subkey; its name is in the buffer
  unreadable,  // a subkey whose name did not fit the buffer: counts as an entry, matches nothing
  end,         // no more items, or the enumeration cannot go on
};

// The views of the system the rules ask (the registry for .NET, the account database, the
// folders). The engine has one implementation of each, the Win32 one in checks/views_win32.h,
// and the rules call it directly; host builds ask scripted views through the abstract classes
// below. Both spell the same calls.

// The folders a FolderQuery answers.
enum class Folder : uint8_t {
  windows,      // GetWindowsDirectoryA
  system,       // GetSystemDirectoryA
  programFiles, // "ProgramFilesDir" of HKLM\Software\Microsoft\Windows\CurrentVersion
  commonFiles,  // "CommonFilesDir" of the same key
  userProfile,  // environment variable "UserProfile"
  appData,      // environment variable "AppData"
  documents,    // special folder CSIDL_PERSONAL
  desktop,      // special folder CSIDL_DESKTOPDIRECTORY
  current,      // GetCurrentDirectoryA
};

#if MARLOWICK_FREESTANDING
}  // namespace mw
#include "checks/views_win32.h"
namespace mw {
using DotNetRegistryView = Win32DotNetRegistry;
using AdminQuery = Win32AdminQuery;
using FolderQuery = Win32FolderQuery;
#else
// What the .NET rules ask of the registry (all under HKEY_LOCAL_MACHINE, read-only).
class DotNetRegistryView {
 public:
  // The "Release" number of "Software\Microsoft\NET Framework Setup\NDP\v4\Full". False when the
  // key does not open or the value cannot be read as a 4-byte number.
  virtual bool readRelease(uint32_t& release) = 0;
  // Opens "Software\Microsoft\NET Framework Setup\NDP"; false when it does not open.
  virtual bool openNdpKey() = 0;
  // The subkey at `index` of the open NDP key, in the system's enumeration order. `name` has
  // room for `room` bytes, NUL included.
  virtual SubkeyRead ndpSubkey(uint32_t index, char* name, uint32_t room) = 0;
  virtual void closeNdpKey() = 0;
  // Whether "Software\Microsoft\.NET Framework\Policy\v1.0" exists.
  virtual bool policyKeyExists() = 0;

 protected:
  ~DotNetRegistryView() = default;
};

// The account database and the process token.
class AdminQuery {
 public:
  // The privilege level of the logged-on user (0 guest, 1 user, 2 administrator) or one of the
  // kPrivilege values below.
  virtual int32_t privilegeLevel() = 0;
  // Whether the process runs with the Administrators group in its token. Asked only when the
  // account database does not rate the account as an administrator: a domain account has no
  // local record, and some systems' databases rate every account as a guest, yet the group
  // membership is what actually grants the rights the installation needs.
  virtual bool memberOfAdministrators() = 0;

 protected:
  ~AdminQuery() = default;
};

class FolderQuery {
 public:
  // Writes the folder's text, NUL-terminated, into out (room bytes, NUL included) and returns its
  // length; returns 0 and leaves out empty when the folder cannot be had or does not fit.
  virtual uint32_t folder(Folder which, char* out, uint32_t room) = 0;

 protected:
  ~FolderQuery() = default;
};
#endif

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
