// The seam between the installation logic and the operating system.
//
// The installation worker (install/) is plain logic: it decides which folder to make, which
// bytes go into which file, which question to ask and what the answer means. Everything it
// asks of the system goes through one platform object, whose calls are listed below
// (`Platform`):
//
//   install/system_win32.cpp  the ANSI Win32 implementation the engine links
//   install/fake_system.cpp   the tests' fake on Linux: real files under a temporary root,
//                             an in-memory registry, scripted answers, recorded progress
//
// Rules every implementation keeps:
//   - Paths are 8-bit ANSI, NUL-terminated, '\' separated; a relative path is resolved against
//     the current folder (setCurrentFolder).
//   - Nothing here ends the process and nothing throws: every failure comes back as a value and
//     the worker decides what it means.
//   - Results the worker does not need are still returned, so a caller that wants them can
//     look; the worker ignores what its behaviour ignores (a failed shortcut, a failed value).
//
// The interface only grows: functions are added, existing ones keep their meaning, so the two
// implementations and the worker can move at their own pace. Engine core: builds freestanding.
#pragma once

#include <stdint.h>

namespace mw {

// An open file; null means none (a failed create).
using FileHandle = void*;
// An open registry key; null means none (it could be neither opened nor created).
using RegKey = void*;
// A running thread, and a signal one thread raises and another waits for; null means none.
using ThreadHandle = void*;
using SignalHandle = void*;

// What a thread runs: the system's own calling convention for a thread's start, so the Win32
// side hands it to the system as it is.
#if MARLOWICK_FREESTANDING
#define MW_THREAD_CALL __attribute__((stdcall))
#else
#define MW_THREAD_CALL
#endif
using ThreadEntry = uint32_t(MW_THREAD_CALL*)(void* arg);

// The answers to a question: the system's button ids.
enum Answer : int32_t {
  AnswerOk = 1,
  AnswerCancel = 2,
  AnswerAbort = 3,
  AnswerRetry = 4,
  AnswerIgnore = 5,
  AnswerYes = 6,
  AnswerNo = 7,
};

// The message-box styles the installer uses (buttons | icon), as the system numbers them.
enum QuestionStyle : uint32_t {
  StyleOkStop = 16,                // MB_OK | MB_ICONHAND
  StyleAbortRetryIgnoreStop = 18,  // MB_ABORTRETRYIGNORE | MB_ICONHAND
  StyleYesNoStop = 20,             // MB_YESNO | MB_ICONHAND
  StyleRetryCancelStop = 21,       // MB_RETRYCANCEL | MB_ICONHAND
  StyleOkExclamation = 48,         // MB_OK | MB_ICONEXCLAMATION
  StyleYesNoExclamation = 52,      // MB_YESNO | MB_ICONEXCLAMATION
};

// Shell folders, numbered as the system's CSIDL values so the Win32 side passes them through.
enum ShellFolder : int32_t {
  FolderPrograms = 2,          // the current user's Programs menu
  FolderPersonal = 5,          // the user's documents
  FolderStartup = 7,           // the current user's Startup folder
  FolderStartMenu = 11,        // the current user's Start menu
  FolderDesktop = 16,          // the current user's desktop folder
  FolderCommonStartMenu = 22,  // the Start menu of all users
  FolderCommonPrograms = 23,   // the Programs menu of all users
  FolderCommonStartup = 24,    // the Startup folder of all users
  FolderCommonDesktop = 25,    // the desktop of all users
  FolderAppData = 26,          // the current user's roaming application data (Quick Launch lives below)
};

// Predefined registry roots, as the system numbers them.
enum RegistryRoot : uint32_t {
  RootClassesRoot = 0x80000000u,
  RootCurrentUser = 0x80000001u,
  RootLocalMachine = 0x80000002u,
  RootUsers = 0x80000003u,
  RootPerformanceData = 0x80000004u,
  RootCurrentConfig = 0x80000005u,
  RootDynData = 0x80000006u,
};

// The local date and time, as the system's clock shows it (no time zone applied).
struct LocalTime {
  uint16_t year;    // e.g. 2001
  uint16_t month;   // 1..12
  uint16_t day;     // 1..31
  uint16_t hour;    // 0..23
  uint16_t minute;  // 0..59
  uint16_t second;  // 0..59
};

// Room the Win32 side gives a shell-folder path or a shortcut path (MAX_PATH, NUL included).
constexpr uint32_t kShellPathSize = 260;

// The calls every implementation offers, with the signatures the worker is compiled against.
// This is a contract checked at compile time, not a base class: the engine links exactly one
// implementation and the host tests exactly one, so each build names its own (EnginePlatform,
// at the end of this file) and the worker calls it directly.
template <typename P>
concept Platform = requires {
  // ---- Memory ---------------------------------------------------------------------------
  // A zero-filled block from the process heap; null when there is none to be had.
  static_cast<void* (P::*)(uint32_t)>(&P::allocateZeroed);
  static_cast<void (P::*)(void*)>(&P::release);

  // ---- The installer's own file (opened by the start-up, open for the whole run) ----------
  // Reads up to `length` bytes at absolute `offset`; returns how many were read (less at the
  // end of the file or on an error).
  static_cast<uint32_t (P::*)(uint32_t offset, void* buffer, uint32_t length)>(&P::readInstaller);

  // ---- Files made by the installation ----------------------------------------------------
  // Creates `path`, or truncates it when it exists, open for reading and writing (the header
  // patch maps the file). Null when it cannot be made (missing folder, access denied, ...).
  static_cast<FileHandle (P::*)(const char* path)>(&P::createFile);
  // Appends at the file's position; returns the bytes actually written. Fewer than `length`
  // means the write failed part way (a full disk): the caller may retry with the rest.
  static_cast<uint32_t (P::*)(FileHandle file, const void* data, uint32_t length)>(&P::writeFile);
  // False when the close reported an error (data that could not be flushed).
  static_cast<bool (P::*)(FileHandle file)>(&P::closeFile);
  // Opens `path` for reading, reads up to `length` bytes at `offset`, closes it. Returns the
  // bytes read; 0 when the file cannot be opened. Used to look at a shortcut's target.
  static_cast<uint32_t (P::*)(const char* path, uint32_t offset, void* buffer, uint32_t length)>(
      &P::readFileAt);
  // Maps the first `length` bytes of an open file (all of them written already) for reading
  // and writing; changes reach the file by unmapFile. Null when the mapping fails.
  // (Win32: CreateFileMappingA + MapViewOfFile; host: a buffer written back on unmap.)
  static_cast<uint8_t* (P::*)(FileHandle file, uint32_t length)>(&P::mapFile);
  // Releases a view from mapFile; false when the changes could not be written through.
  static_cast<bool (P::*)(FileHandle file, uint8_t* view, uint32_t length)>(&P::unmapFile);

  // Moves the closed file `from` to `to`, replacing a file of that name, in one step where the
  // system offers it (Win32: MoveFileExA with MOVEFILE_REPLACE_EXISTING; systems outside the NT
  // family lack it and delete `to` first). False when `to` was not replaced; `from` then stays.
  static_cast<bool (P::*)(const char* from, const char* to)>(&P::replaceFile);
  // Deletes a closed file; false when there was none or it could not be deleted.
  static_cast<bool (P::*)(const char* path)>(&P::removeFile);

  // ---- Folders --------------------------------------------------------------------------
  // Creates one folder level; false when it was not made (it exists already, its parent is
  // missing, access denied). Callers that create paths level by level ignore the result.
  static_cast<bool (P::*)(const char* path)>(&P::makeFolder);
  // True when `path` is an existing folder.
  static_cast<bool (P::*)(const char* path)>(&P::folderExists);
  // Makes `path` the current folder; false when it does not exist or cannot be entered.
  static_cast<bool (P::*)(const char* path)>(&P::setCurrentFolder);
  // The current folder's full path, without a final backslash unless it is a drive's root
  // (as the system reports it). Returns its length; 0 when it does not fit `size` with its NUL.
  static_cast<uint32_t (P::*)(char* buffer, uint32_t size)>(&P::currentFolder);
  // A shell folder's full path without a final backslash. Returns its length; 0 when the
  // folder cannot be resolved or does not fit `size` with its NUL.
  static_cast<uint32_t (P::*)(ShellFolder folder, char* buffer, uint32_t size)>(&P::shellFolder);

  // ---- Shortcuts ------------------------------------------------------------------------
  // Writes the shortcut file `shortcutPath` (ending in .lnk or .pif) that starts `targetPath`,
  // with the working folder set to everything before the target's last backslash and the icon
  // taken from the target (index 0). Both are full paths. False when it was not saved.
  static_cast<bool (P::*)(const char* targetPath, const char* shortcutPath)>(&P::makeShellLink);

  // ---- Registry -------------------------------------------------------------------------
  // Opens root\subkey with full access, creating it when it does not exist. `created` tells
  // which happened (true: the key is new). Null when the key can be neither opened nor made.
  static_cast<RegKey (P::*)(uint32_t root, const char* subkey, bool& created)>(&P::openOrCreateKey);
  // Sets a value: `name` null (or empty) is the key's default value; `size` is exactly the
  // number of bytes of `data` stored (for strings the installer passes the length without NUL).
  static_cast<bool (P::*)(RegKey key, const char* name, uint32_t type, const void* data,
                          uint32_t size)>(&P::setValue);
  static_cast<void (P::*)(RegKey key)>(&P::closeKey);

  // ---- The user -------------------------------------------------------------------------
  // A modal message box; returns the Answer pressed. `ownedByWizard`: the box belongs to the
  // wizard window (the worker in wizard mode); otherwise it has no owner (silent mode, the
  // start-up's boxes).
  static_cast<int32_t (P::*)(const char* caption, const char* text, uint32_t style,
                             bool ownedByWizard)>(&P::ask);
  // Wizard mode only (the worker never calls these in silent mode): the installing page's
  // file label and progress bar (range 0 to 100).
  static_cast<void (P::*)(const char* text)>(&P::showFileLabel);
  static_cast<void (P::*)(uint32_t percent)>(&P::setProgress);
  // Wizard mode only: called by the worker between pieces of work (before each file, chunk,
  // shortcut and registry value). It returns at once unless the user is being asked whether to
  // quit; then it waits for the answer. False: the user chose to quit, and the worker stops
  // where it stands, leaving what it made so far (nothing is rolled back).
  static_cast<bool (P::*)()>(&P::pausePoint);

  // ---- Threads ------------------------------------------------------------------------
  // Starts `run(arg)` on a thread of its own; null when none could be started (the worker then
  // does that work itself).
  static_cast<ThreadHandle (P::*)(ThreadEntry run, void* arg)>(&P::startThread);
  // Waits until the thread has returned, then releases it.
  static_cast<void (P::*)(ThreadHandle thread)>(&P::joinThread);
  // A signal that wakes one wait per raise and resets itself (raised: it starts raised); null
  // when none could be made. A raise with nobody waiting is kept for the next wait; two raises
  // before a wait count as one.
  static_cast<SignalHandle (P::*)(bool raised)>(&P::makeSignal);
  static_cast<void (P::*)(SignalHandle signal)>(&P::raiseSignal);
  static_cast<void (P::*)(SignalHandle signal)>(&P::waitSignal);
  static_cast<void (P::*)(SignalHandle signal)>(&P::dropSignal);

  // ---- Resources and time ----------------------------------------------------------------
  // The installer's own manifest resource (type 24, id 1): its bytes and length, or null when
  // it has none. The bytes stay valid for the whole run.
  static_cast<const uint8_t* (P::*)(uint32_t& length)>(&P::manifest);
  static_cast<void (P::*)(LocalTime& now)>(&P::localTime);
};

}  // namespace mw

// The implementation this build's worker is compiled against: the Win32 one beside the rules
// (install/system_win32.cpp) in the engine, the tests' fake (install/fake_system.cpp) everywhere
// else. One name for both, so the worker reads the same in every build.
#if MARLOWICK_FREESTANDING
namespace mw {
class Win32Platform;
using EnginePlatform = Win32Platform;
}  // namespace mw
#include "install/system_win32.h"
#else
namespace mw {
class HostPlatform;
using EnginePlatform = HostPlatform;
}  // namespace mw
#include "install/fake_system.h"
#endif
