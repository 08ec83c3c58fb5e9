// The worker's text rules, free of the platform: bounded text building, the label's shortened
// path, "<SetupPath>" expansion, shortcut naming and the look at a target's header, progress.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/text_builder.h"

namespace mw {

// Formats a message: each "%s" of `pattern` takes the next of `first`, `second` (neither may
// be null). When the result does not fit, it is cut and ends in "..." so the user still reads a
// sensible text. Returns false when it was cut.
bool formatMessage(char* out, uint32_t size, const char* pattern, const char* first,
                   const char* second = "");

// The label shows at most this many characters of a file's path.
constexpr uint32_t kDisplayPathLimit = 80;

// Shortens, in place, the full path of a file being extracted to what the label shows: paths
// of up to 80 characters stay whole; longer ones keep their head up to the first backslash
// (after a leading "\\server" pair, the third character on) followed by " ..." and the tail
// from the first backslash that leaves at most 80 characters. Without such a backslash the
// path stays whole.
void shortenDisplayPath(char* path);

// Copies `text` into `out`, putting installDir without its final backslash wherever the 11
// characters "<SetupPath>" stand (case as written; every occurrence). Returns the expanded
// length, or -1 when it does not fit `size` with its NUL (out then holds a cut text).
int32_t expandSetupPath(const char* text, const char* installDir, char* out, uint32_t size);

// What a shortcut's name ends in, decided from the target's name alone.
enum LinkExtension : uint8_t {
  LinkLnk,       // ".lnk"
  LinkPif,       // ".pif": a ".com" program
  LinkLookAtPe,  // a ".exe": ".pif" for a DOS program, ".lnk" otherwise; look at its header
};

LinkExtension linkExtensionFor(const char* target);

// The look at an ".exe": `head` is what could be read of its first 64 bytes, `signature` the
// bytes read at the offset the u32 at byte 60 names (signatureLength 0 when not read). A DOS
// program begins with "ZM", or with "MZ" and has no "PE" there.
bool isDosProgram(const uint8_t* head, uint32_t headLength, const uint8_t* signature,
                  uint32_t signatureLength);

// Appends the shortcut's file name for `target` (the part after its last separator, up to its
// last dot, then ".lnk" or ".pif").
void appendShortcutName(TextBuilder& out, const char* target, bool pif);

// The progress bar's position after `done` of `total` units, 0 to 100.
uint32_t progressPosition(uint32_t done, uint32_t total);

inline bool isSeparator(char c) { return c == '\\' || c == '/'; }

// True when a component of `path` ('\' or '/' separated) is a device name: NUL, CON, PRN, AUX,
// COM1 to COM9, LPT1 to LPT9 or CLOCK$, in any case, alone or with an extension ("nul.txt"),
// trailing blanks ignored. Windows opens the device for such a name in every folder, so a file
// of that name would write to a port or nowhere, and the uninstaller could never remove it.
// The packager refuses the same names.
bool namesDevice(const char* path);

}  // namespace mw
