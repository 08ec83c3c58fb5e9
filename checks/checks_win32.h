// The Win32 side of the environment checks: helpers of the system views the rules in checks.h
// ask (the views themselves are declared in views_win32.h), and the few steps the start-up runs
// with them (show a refusal, fill the default destination, ask for a restart and start the
// run-after action). Library mw_checks_win32; the engine links it.
#pragma once

#include <windows.h>

#include "checks/checks.h"

namespace mw {

// The version query of the start-up: osInfo with its size field set to 156, filled once. Its
// result is not examined; on failure the fields stay zero (and osGate lets the system pass).
void fillOsInfo(OSVERSIONINFOEXA& osInfo);
OsVersion osVersionOf(const OSVERSIONINFOEXA& osInfo);

// A key of HKEY_LOCAL_MACHINE opened for reading (no more: full access would fail for every user
// who is not an administrator), or null when it does not open.
HKEY openMachineKey(const char* path);

// Reads value `name` of the machine key `path` into `out`: `size` holds the room on entry and
// the bytes read on return. Returns the value's type, or REG_NONE when the key does not open or
// the value cannot be read.
DWORD readMachineValue(const char* path, const char* name, void* out, DWORD& size);

// Shows a refusal (no owner window) and, when the outcome offers it and the user answers Yes,
// opens dotNetInstaller. The caller ends the process afterwards.
void showRefusal(const CheckOutcome& outcome, const char* dotNetInstaller);

// The three checks of the start-up in their order: operating system, .NET, administrator.
// Returns true when all pass; false after a refusal has been shown (and the installer opened if
// accepted): the caller then ends the process with exit code 0.
bool runEnvironmentChecks(uint8_t minimumOs, uint8_t dotNetRequired, const char* dotNetInstaller,
                          uint8_t requireAdmin, const char* productName,
                          const OSVERSIONINFOEXA& osInfo, char* textBuffer, uint32_t size);

// Fills installDir (kInstallDirRoom bytes) with the default destination. Returns false, with
// installDir empty, when the composed folder does not fit.
bool fillDefaultDestination(uint8_t destinationKind, const char* destinationPath, char* installDir,
                            uint32_t size);

// The end of a wizard run: the restart question, then (unless a restart was asked for) the
// run-after action built in installDir. Returns true when a restart was requested: the caller
// ends the process at once. Otherwise the caller releases the arena and ends the process.
bool postInstall(uint8_t rebootMode, uint8_t runKind, const char* runTarget,
                 const char* windowCaption, const OSVERSIONINFOEXA& osInfo, char* installDir,
                 uint32_t size);

}  // namespace mw
