// Every text the installation worker shows or writes, in one place, spelled exactly as the
// installer has always shown them (the misspelt "creatig" included: deployment scripts and
// translations match on it). Inline, so each text is stored once however many files use it.
#pragma once

#include "core/text.h"

namespace mw {

// The caption of every question, "Error", is the one the start-up and the checks show.
using texts::kErrorCaption;

// The destination folder cannot be made current (Retry/Cancel). %s: installDir.
inline constexpr char kTextCreateFolder[] = "Unable to create the directory:\r\n%s";
// A file cannot be created, even after its folders were made (Abort/Retry/Ignore).
// %s%s: installDir, the file's name.
inline constexpr char kTextCreateFile[] = "Error creatig file:\r\n%s%s";
// Extracted data could not be written, a full disk for one (Abort/Retry/Ignore).
// %s%s: installDir, the file's name.
inline constexpr char kTextWriteFile[] = "Error writing file:\r\n%s%s";
// A file's data failed its checksum or could not be decoded (Yes/No). %s: the display path.
inline constexpr char kTextIntegrity[] = "%s\r\n\r\nFile integrity check has failed. Do you want to continue?";

inline constexpr char kUninstallerName[] = "Uninstall.exe";
// The new uninstaller is written under this name beside the old one and moved over it only once
// it is complete, so a stopped reinstall never leaves a registered Uninstall.exe that cannot run.
inline constexpr char kUninstallerTempName[] = "Uninstall.tmp";
inline constexpr char kSetupPathMarker[] = "<SetupPath>";
inline constexpr unsigned kSetupPathMarkerLength = sizeof(kSetupPathMarker) - 1;  // 11
// Below the roaming application-data folder.
inline constexpr char kQuickLaunchTail[] = "\\Microsoft\\Internet Explorer\\Quick Launch";
inline constexpr char kValueDisplayName[] = "DisplayName";
inline constexpr char kValueUninstallString[] = "UninstallString";

}  // namespace mw
