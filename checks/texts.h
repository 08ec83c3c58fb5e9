// Every fixed text the checks show, spelled exactly as users have always seen them. Each file
// that shows one has its own copy (constexpr, not inline): inline texts are shared sections
// that the Windows build's link-time optimiser warns about, and all but the captions are used
// by one file only. The two captions, which the checks, the start-up, the worker and the wizard
// share, are defined once in core/text.cpp.
#pragma once

#include "core/text.h"

namespace mw::texts {


constexpr char kUnsupportedOs[] =
    "This program does not support your operating system.\r\n"
    "Please refer to the system requirements in the program's documentation.";

// %s: the version text, "4.7" .. "1.0".
constexpr char kDotNetRequired[] =
    "This installation requires the .NET Framework version %s and above.\r\n"
    "Please install the .NET Framework and run this setup again.";
constexpr char kDotNetOfferInstall[] = "\r\n\r\nWould you like to install it now?";

// %s: productName.
constexpr char kAdminRequired[] =
    "You must be a user with administrative rights to install %s.\r\n"
    "Please log in as an Administrator.";

constexpr char kRestartQuestion[] =
    "This system must be restarted to complete the installation.\r\n"
    "Press the OK button to restart this computer or No to return to Windows without restarting.";

}  // namespace mw::texts
