// The destination page's rules without the platform: when the destination edit's text lets the
// user go on, and what the folder browser's choice turns into.
#pragma once

#include <stdint.h>

namespace mw {

// The system's drive types that let a destination pass: 2 removable, 3 fixed, 4 remote,
// 5 CD-ROM, 6 RAM disk. 0 (unknown) and 1 (no such root) refuse.
constexpr uint32_t kFirstUsableDriveType = 2;

// The longest destination accepted. Install copies the edit's text into installDir whole; a
// longer text would have to be cut there and name another folder than the one on screen.
constexpr uint32_t kMaxDestinationChars = 259;

// The characters no destination may hold: " * / < > ? |. The colon is not among them.
bool isRefusedDestinationChar(char c);

// Answers the drive type for a root such as "C:\" (the drive letter, a colon, a backslash).
using DriveTypeQuery = uint32_t (*)(const char* root, void* context);

// Whether `text` (length characters) may be installed to: at least 3 and at most
// kMaxDestinationChars characters; absolute (isAbsoluteFolder, core/paths.h), a drive's root
// being a usable drive; and no refused character anywhere. The drive
// is asked about only when everything before it passed the shape test.
bool destinationAcceptable(const char* text, uint32_t length, DriveTypeQuery driveType,
                           void* context);

// The browser's choice made into a destination: the chosen folder, a backslash unless it ends in
// one, then destinationPath (the product's own subfolder). Written into out (room bytes, NUL
// included), cut if it must be; returns the length written. A cut result is longer than any
// accepted destination, so the edit then shows it with Next disabled.
uint32_t composeBrowseResult(const char* chosen, const char* destinationPath, char* out,
                             uint32_t room);

// The part of destinationPath the browser appends. For the destination kinds with a base
// folder (1 to 10) it is the whole subfolder. For the other kinds destinationPath is a complete
// destination such as C:\Tools\Acme: appending all of it would give D:\Apps\C:\Tools\Acme,
// so only its last folder name is taken (Acme).
const char* browseSubfolder(uint8_t destinationKind, const char* destinationPath);

}  // namespace mw
