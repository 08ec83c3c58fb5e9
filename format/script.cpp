#include "format/script.h"

#include "core/bytes.h"

namespace mw {
namespace {

// Bounded takes over the script, shared by the front's parser and the list readers: each checks
// the remaining length first, and a take that does not fit marks the cursor corrupt for good.
// Once corrupt, every take fails (0, "" or null), so a reader can take field after field and
// test once at its end.
const uint8_t* take(ScriptCursor& c, uint32_t n) {
  if (c.corrupt || n > c.length - c.position) {
    c.corrupt = true;
    return nullptr;
  }
  const uint8_t* p = c.script + c.position;
  c.position += n;
  return p;
}

uint8_t takeU8(ScriptCursor& c) {
  const uint8_t* p = take(c, 1);
  return p ? *p : 0;
}

uint16_t takeU16(ScriptCursor& c) {
  const uint8_t* p = take(c, 2);
  return p ? readU16(p) : 0;
}

uint32_t takeU32(ScriptCursor& c) {
  const uint8_t* p = take(c, 4);
  return p ? readU32(p) : 0;
}

// A NUL-terminated string that must end inside the script.
const char* takeString(ScriptCursor& c) {
  if (!c.corrupt) {
    for (uint32_t i = c.position; i < c.length; ++i) {
      if (c.script[i] == 0) return reinterpret_cast<const char*>(take(c, i + 1 - c.position));
    }
  }
  c.corrupt = true;
  return "";
}

constexpr uint32_t kBmpFileHeader = 14;
constexpr uint32_t kBmpCoreHeader = 12;
constexpr uint32_t kBmpInfoHeader = 40;

// Bit counts an uncompressed picture may have (1, 4, 8, 16, 24, 32), as bit (count - 1).
constexpr uint32_t kPlainBitCounts = 1u << 0 | 1u << 3 | 1u << 7 | 1u << 15 | 1u << 23 | 1u << 31;

// Takes the BMP file of a picture block apart. The painter hands `info` and `bits` straight to
// the system, so the header, the colour table it implies and the pixel rows must all lie inside
// the block; anything else is a corrupt script.
bool takePicture(const uint8_t* file, uint32_t length, Picture& out) {
  if (length < kBmpFileHeader + 4) return false;
  uint32_t bitsOffset = readU32(file + 10);
  uint32_t headerSize = readU32(file + kBmpFileHeader);
  if (headerSize != kBmpCoreHeader && headerSize < kBmpInfoHeader) return false;
  if (headerSize > length - kBmpFileHeader) return false;
  uint32_t headerEnd = kBmpFileHeader + headerSize;
  if (bitsOffset < headerEnd || bitsOffset > length) return false;

  int32_t width, height;
  uint32_t bitCount, compression = 0;
  if (headerSize == kBmpCoreHeader) {
    width = readU16(file + 18);
    height = readU16(file + 20);
    bitCount = readU16(file + 24);
  } else {
    width = int32_t(readU32(file + 18));
    height = int32_t(readU32(file + 22));
    bitCount = readU16(file + 28);
    compression = readU32(file + 30);
  }
  if (width <= 0 || height == 0 || height == INT32_MIN) return false;

  // Uncompressed rows are padded to four bytes; the painter reads |height| of them. A row takes
  // ceil(width * bitCount / 32) words, counted per 32 pixels so that no product overflows, and
  // the rows are compared with the block by division for the same reason.
  if (compression == 0) {
    if (bitCount - 1 >= 32 || !((kPlainBitCounts >> (bitCount - 1)) & 1)) return false;
    const uint32_t w = uint32_t(width);
    const uint32_t rowWords = (w / 32) * bitCount + ((w % 32) * bitCount + 31) / 32;
    const uint32_t rows = height < 0 ? 0u - uint32_t(height) : uint32_t(height);
    if (rows > (length - bitsOffset) / 4 / rowWords) return false;
  }

  out.length = length;
  out.file = file;
  out.info = file + kBmpFileHeader;
  out.bits = file + bitsOffset;
  out.bitsLength = length - bitsOffset;
  out.width = width;
  out.height = height;
  return true;
}

// A picture block: u32 L, then (when L is not 0) `extra` bytes of its own field and the L-byte
// BMP. Returns false when the block or its BMP is corrupt. `picture` is left as it was (the
// front's parser starts from an empty one) unless a picture is there.
bool takePictureBlock(ScriptCursor& r, uint32_t extra, uint32_t& field, Picture& picture) {
  field = 0;
  const uint32_t blockLength = takeU32(r);
  if (blockLength == 0) return !r.corrupt;
  field = extra == 1 ? takeU8(r) : takeU32(r);
  const uint8_t* file = take(r, blockLength);
  return file && takePicture(file, blockLength, picture);
}

// Stages of the list cursor, in script order.
enum Stage : uint8_t {
  StageFiles,
  StageProgramGroup,
  StageShortcuts,
  StageRegistry,
  StageFinishText,
  StagePostInstall,
  StageDone,
};

// A reader called out of the script's order finds the cursor corrupt from then on.
void expect(ScriptCursor& c, Stage stage) {
  if (c.stage != stage) c.corrupt = true;
}

// The end of a list or single item: the cursor moves on to the next stage unless it is corrupt.
ReadResult endStage(ScriptCursor& c, Stage next, ReadResult result) {
  if (c.corrupt) return ReadCorrupt;
  c.stage = next;
  return result;
}

bool isShortcutKind(uint8_t b) {
  return b == ShortcutDesktop || b == ShortcutStartMenu || b == ShortcutProgramGroup ||
         b == ShortcutQuickLaunch || b == ShortcutStartup;
}

}  // namespace

bool parseFront(const uint8_t* script, uint32_t length, SetupScript& out) {
  out = SetupScript{};
  ScriptCursor r{script, length, 0, StageFiles, false, 0};

  uint32_t field;
  if (!takePictureBlock(r, 1, field, out.splashBitmap)) return false;
  out.splashSeconds = uint8_t(field);
  if (!takePictureBlock(r, 4, field, out.sideBitmap)) return false;
  out.sideTextColour = field;
  if (!takePictureBlock(r, 1, field, out.bannerBitmap)) return false;
  out.bannerAlignment = uint8_t(field);

  out.minimumOs = takeU8(r);
  out.dotNetRequired = takeU8(r);
  if (out.dotNetRequired != 0) {
    const char* installer = takeString(r);
    out.dotNetInstaller = installer[0] ? installer : nullptr;
  }
  out.requireAdmin = takeU8(r);
  out.headerTextColour = takeU32(r);
  out.noTitleTexts = out.headerTextColour == kNoTitleTexts;
  out.windowCaption = takeString(r);
  out.productName = takeString(r);
  out.welcomeText = takeString(r);
  out.licenceText = takeString(r);
  out.destinationKind = takeU8(r);
  out.destinationPath = takeString(r);
  out.linkText = takeString(r);
  out.linkTarget = takeString(r);
  out.fileTableOffset = r.position;
  return !r.corrupt;
}

void startLists(ScriptCursor& cursor, const uint8_t* script, uint32_t length,
                const SetupScript& front) {
  cursor = ScriptCursor{script, length, front.fileTableOffset, StageFiles, false, 0};
  if (front.fileTableOffset > length) cursor.corrupt = true;
}

ReadResult nextFileEntry(ScriptCursor& c, FileEntry& out) {
  expect(c, StageFiles);
  out = FileEntry{};
  out.name = takeString(c);
  if (!c.corrupt && out.name[0] == 0) {
    // The table holds at least one file; an empty first name is outside the format.
    if (c.filesRead == 0) c.corrupt = true;
    return endStage(c, StageProgramGroup, ReadEnd);
  }
  out.dataOffset = takeU32(c);
  out.checksum = 1;
  if (out.dataOffset != 0) {
    out.chunkCount = takeU16(c);
    out.checksum = takeU32(c);
    if (out.chunkCount == 0) c.corrupt = true;
  }
  ++c.filesRead;
  return endStage(c, StageFiles, ReadItem);
}

ReadResult readProgramGroup(ScriptCursor& c, const char*& path) {
  expect(c, StageProgramGroup);
  path = nullptr;
  const char* first = takeString(c);
  ReadResult result = ReadEnd;
  if (first[0] != 0) {
    // A group is stored as a one-string list: the path, then an empty string. The worker
    // stops creating folders at a 0 after a '\' or after the NUL, so no trailing '\'.
    const char* terminator = takeString(c);
    if (terminator[0] != 0 || first[textLength(first) - 1] == '\\') c.corrupt = true;
    path = first;
    result = ReadItem;
  }
  result = endStage(c, StageShortcuts, result);
  if (result == ReadCorrupt) path = nullptr;
  return result;
}

ReadResult nextShortcut(ScriptCursor& c, ShortcutEntry& out) {
  expect(c, StageShortcuts);
  out = ShortcutEntry{};
  const uint8_t kind = takeU8(c);
  if (!isShortcutKind(kind)) return endStage(c, StageRegistry, ReadEnd);
  out.kind = kind;
  out.target = takeString(c);
  return endStage(c, StageShortcuts, ReadItem);
}

ReadResult nextRegistryEntry(ScriptCursor& c, RegistryEntry& out) {
  expect(c, StageRegistry);
  out = RegistryEntry{};
  const uint32_t root = takeU32(c);
  if (root - kFirstRegistryRoot > kLastRegistryRoot - kFirstRegistryRoot)
    return endStage(c, StageFinishText, ReadEnd);
  out.root = root;
  out.typeByte = int8_t(takeU8(c));
  out.valueType = out.typeByte < 0 ? uint32_t(-int32_t(out.typeByte)) : uint32_t(out.typeByte);
  out.subkey = takeString(c);
  out.valueName = out.typeByte >= 0 ? takeString(c) : nullptr;
  if (out.valueType == kRegDword) {
    out.data = take(c, 4);
    out.dataLength = 4;
    if (out.data) out.dword = readU32(out.data);
  } else {
    const char* s = takeString(c);
    out.data = reinterpret_cast<const uint8_t*>(s);
    out.dataLength = uint32_t(textLength(s));
  }
  return endStage(c, StageRegistry, ReadItem);
}

ReadResult readFinishText(ScriptCursor& c, const char*& text) {
  expect(c, StageFinishText);
  text = takeString(c);  // "" when corrupt
  return endStage(c, StagePostInstall, ReadItem);
}

ReadResult readPostInstall(ScriptCursor& c, PostInstall& out) {
  expect(c, StagePostInstall);
  out = PostInstall{};
  out.rebootMode = takeU8(c);
  out.runKind = takeU8(c);
  if (out.runKind != 0) out.runTarget = takeString(c);
  const ReadResult result = endStage(c, StageDone, ReadItem);
  if (result == ReadCorrupt) out = PostInstall{};
  return result;
}

}  // namespace mw
