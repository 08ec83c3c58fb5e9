// Every fixed text the checks show, spelled exactly as users have always seen them.
#pragma once

namespace mw::texts {

inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kWarningCaption[] = "Warning";

inline constexpr char kUnsupportedOs[] =
    "This program does not support your operating system.\r\n"
    "Please refer to the system requirements in the program's documentation.";

// %s: the version text, "4.7" .. "1.0".
inline constexpr char kDotNetRequired[] =
    "This installation requires the .NET Framework version %s and above.\r\n"
    "Please install the .NET Framework and run this setup again.";
inline constexpr char kDotNetOfferInstall[] = "\r\n\r\nWould you like to install it now?";

// %s: productName.
inline constexpr char kAdminRequired[] =
    "You must be a user with administrative rights to install %s.\r\n"
    "Please log in as an Administrator.";

inline constexpr char kRestartQuestion[] =
    "This system must be restarted to complete the installation.\r\n"
    "Press the OK button to restart this computer or No to return to Windows without restarting.";

}  // namespace mw::texts
