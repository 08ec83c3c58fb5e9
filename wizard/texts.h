// Every fixed text the wizard shows, spelled exactly as users have always seen them. A "%s" stands
// for productName.
#pragma once

#include "core/text.h"

namespace mw::wizardtext {

inline constexpr char kNext[] = "Next >";
inline constexpr char kAgree[] = "I Agree";
inline constexpr char kInstall[] = "Install";
inline constexpr char kFinish[] = "Finish";

inline constexpr char kWelcomeTitle[] = "Welcome to the %s Setup Wizard";
inline constexpr char kWelcomeSubtitle[] = "This program will install %s on your computer";
inline constexpr char kWelcomeHint[] = "Click Next to continue, or Cancel to exit Setup...";

inline constexpr char kLicenceTitle[] = "License Agreement";
inline constexpr char kLicenceSubtitle[] = "Please review the licence terms before installing %s.";
inline constexpr char kLicenceHint[] =
    "If you accept all the terms of the agreement, click 'I Agree' to continue.";

inline constexpr char kDestinationTitle[] = "Destination Location";
inline constexpr char kDestinationSubtitle[] = "Choose the folder in which to install %s.";
inline constexpr char kDestinationHint[] = "Click 'Next' to continue...";
inline constexpr char kDestinationStatus[] =
    "Setup will install %s in the following folder.\r\n"
    "To install in a different folder, click 'Browse' and select another folder.";

inline constexpr char kReadyTitle[] = "Start Installation";
inline constexpr char kReadySubtitle[] = "You are now ready to install %s.";
inline constexpr char kReadyStatus[] = "Click 'Install' to begin the installation.";
inline constexpr char kReadyHint[] =
    "Click 'Back' to reenter the installation information or 'Cancel' to exit the wizard";

inline constexpr char kInstallingTitle[] = "Installing";
inline constexpr char kInstallingSubtitle[] = "Please wait while %s Setup is being installed";
inline constexpr char kCopyingFile[] = "Copying File:";

inline constexpr char kFinishedTitle[] = "Completing setup wizard";
inline constexpr char kFinishedText[] = "%s has been successfully installed";
inline constexpr char kFinishHint[] = "Click 'Finish' to exit this installation.";

using texts::kWarningCaption;  // "Warning", shared with the checks
inline constexpr char kQuitQuestion[] =
    "Setup is not complete.\r\nAre you sure want to quit the setup?";
constexpr unsigned kQuitStyle = 0x34;  // MB_YESNO | MB_ICONWARNING

using texts::kErrorCaption;  // "Error", shared with the checks and the start-up
inline constexpr char kWorkerNotStarted[] =
    "Setup could not start the installation.\r\nNothing has been installed.";
constexpr unsigned kErrorStyle = 0x10;  // MB_OK | MB_ICONHAND

inline constexpr char kBrowseInstruction[] = "Select Destination Directory";

}  // namespace mw::wizardtext
