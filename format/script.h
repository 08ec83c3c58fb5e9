// The setup script: the one block of per-product configuration the packager writes and the
// stub reads. Every text, picture, option and list of an installation lives in it.
//
// Layout (little-endian, unaligned, no padding; strings are 8-bit ANSI ending in one NUL):
//
//   front     splash block, side block, banner block, minimumOs, dotNetRequired
//             [dotNetInstaller], requireAdmin, headerTextColour, windowCaption, productName,
//             welcomeText, licenceText, destinationKind, destinationPath, linkText, linkTarget
//   lists     file table (>= 1 entry, ended by an empty name), programGroup, shortcuts
//             (ended by a byte that is no kind letter), registry values (ended by a u32 that is
//             no predefined root), finishText, PostInstall
//
// The parsed view points into the decompressed script; nothing is copied. Lists have no counts,
// so they are read with one forward cursor, in the order above, exactly once.
//
// The script is protected by a checksum, not by a signature, and the user may choose to go on
// with a payload whose checksum failed. So every reader here is bounded by the script's length:
// a field, string or picture that would run past the end is reported as a corrupt script and
// nothing beyond the buffer is ever read. No exceptions, no allocation: engine core.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/paths.h"

namespace mw {

// A whole BMP file embedded in a picture block. Absent pictures have length 0 and null pointers.
struct Picture {
  uint32_t length;        // bytes of the BMP file (the block's L)
  const uint8_t* file;    // the BMP file itself (its 14-byte file header)
  const uint8_t* info;    // the bitmap information header: the format for painting
  const uint8_t* bits;    // the pixel bits, painted straight from the script buffer
  uint32_t bitsLength;    // bytes from bits to the end of the block
  int32_t width;          // core header: u16 at BMP byte 18; otherwise i32 at byte 18
  int32_t height;         // core header: u16 at BMP byte 20; otherwise i32 at byte 22 (< 0: top-down)
};

// Banner alignment values.
enum BannerAlignment : uint8_t { BannerLeft = 0, BannerCentred = 1, BannerRight = 2 };

// headerTextColour with this value means the inner pages show no title texts.
constexpr uint32_t kNoTitleTexts = 0xFFFFFFFFu;

// The fixed front of the script, items 1 to 15, and where the lists begin.
struct SetupScript {
  uint8_t splashSeconds;        // how long the splash stays; 0 when there is no splash
  Picture splashBitmap;
  uint32_t sideTextColour;      // COLORREF 0x00BBGGRR of the texts on the side picture
  Picture sideBitmap;
  uint8_t bannerAlignment;      // BannerAlignment
  Picture bannerBitmap;
  uint8_t minimumOs;            // 0: no requirement; else the oldest accepted release code
  uint8_t dotNetRequired;       // 0: no requirement; else the oldest accepted framework code
  const char* dotNetInstaller;  // null when absent or empty
  uint8_t requireAdmin;         // not 0: administrator rights required
  uint32_t headerTextColour;    // COLORREF of inner-page titles, or kNoTitleTexts
  bool noTitleTexts;            // headerTextColour == kNoTitleTexts
  const char* windowCaption;
  const char* productName;
  const char* welcomeText;
  const char* licenceText;      // empty: no licence page
  uint8_t destinationKind;      // base folder of the default destination (0, 11..255: none)
  const char* destinationPath;
  const char* linkText;         // empty: no hyperlink
  const char* linkTarget;       // empty: hyperlink shown but disabled
  uint32_t fileTableOffset;     // offset in the script where the file table starts
};

// Parses items 1 to 15 of a decompressed script of `length` bytes. Returns false when the
// script is corrupt: a field, string or picture runs past the end, or a picture's header or
// pixel bits lie outside its block. `out` is only meaningful when true is returned.
bool parseFront(const uint8_t* script, uint32_t length, SetupScript& out);

// ---------------------------------------------------------------------------------------------
// The lists after the front.

// What a sequential reader found.
enum ReadResult : int32_t {
  ReadItem = 1,      // an entry was read; the cursor moved past it
  ReadEnd = 0,       // the list's terminator was read (and consumed)
  ReadCorrupt = -1,  // the script is corrupt here: the cursor stays so, every later read fails
};

struct FileEntry {
  const char* name;     // relative to installDir, '\' separated; never empty
  uint32_t dataOffset;  // absolute offset of the first chunk in the installer; 0: empty file
  uint16_t chunkCount;  // >= 1 when dataOffset != 0, else 0
  uint32_t checksum;    // Adler-32 over the chunk bodies when dataOffset != 0, else 1
};

// Shortcut places, as stored.
enum ShortcutKind : uint8_t {
  ShortcutDesktop = 'D',
  ShortcutStartMenu = 'M',
  ShortcutProgramGroup = 'P',  // the programGroup folder, or Programs when it is empty
  ShortcutQuickLaunch = 'Q',
  ShortcutStartup = 'S',
};

struct ShortcutEntry {
  uint8_t kind;          // ShortcutKind
  const char* target;    // installed file the shortcut starts, relative to installDir
};

// Predefined roots: 0x80000000 (HKEY_CLASSES_ROOT) to 0x80000006 (HKEY_DYN_DATA).
constexpr uint32_t kFirstRegistryRoot = 0x80000000u;
constexpr uint32_t kLastRegistryRoot = 0x80000006u;
constexpr uint32_t kRegDword = 4;

struct RegistryEntry {
  uint32_t root;          // a predefined key
  int8_t typeByte;        // as stored: >= 0 named value of that type, < 0 default value
  uint32_t valueType;     // the registry type: typeByte, or -typeByte for a default value
  const char* subkey;
  const char* valueName;  // null for the key's default value
  const uint8_t* data;    // DWORD: its 4 bytes; other types: the string (may hold "<SetupPath>")
  uint32_t dataLength;    // 4 for a DWORD; otherwise the string's length without its NUL
  uint32_t dword;         // the DWORD's value when valueType is kRegDword
};

struct PostInstall {
  uint8_t rebootMode;     // 0: no restart question
  uint8_t runKind;        // 0: nothing to start
  const char* runTarget;  // null when runKind is 0
};

// One forward cursor through the lists. Call the readers in the script's order: nextFileEntry
// until ReadEnd, readProgramGroup, nextShortcut until ReadEnd, nextRegistryEntry until ReadEnd,
// readFinishText, readPostInstall. A reader called out of that order reports ReadCorrupt, so a
// misuse never reads the wrong bytes as a field.
struct ScriptCursor {
  const uint8_t* script;
  uint32_t length;
  uint32_t position;  // next unread byte
  uint8_t stage;      // which list is being read (private to the readers)
  bool corrupt;       // set once; every later read returns ReadCorrupt
  uint32_t filesRead; // entries of the file table read so far
};

// Places the cursor on the file table that parseFront found.
void startLists(ScriptCursor& cursor, const uint8_t* script, uint32_t length,
                const SetupScript& front);

// The first entry of the table is always a file: an empty first name is a corrupt script.
ReadResult nextFileEntry(ScriptCursor& cursor, FileEntry& out);
// ReadItem with `path` the program group ("A\B", never ending in '\'), or ReadEnd with `path`
// null when the product has no group of its own.
ReadResult readProgramGroup(ScriptCursor& cursor, const char*& path);
ReadResult nextShortcut(ScriptCursor& cursor, ShortcutEntry& out);
ReadResult nextRegistryEntry(ScriptCursor& cursor, RegistryEntry& out);
ReadResult readFinishText(ScriptCursor& cursor, const char*& text);
// Reads the PostInstall record where readFinishText left the cursor; the cursor ends on the
// byte after the script's last field (equal to `length` for a well-formed script).
ReadResult readPostInstall(ScriptCursor& cursor, PostInstall& out);


}  // namespace mw
