#include "startup/script.h"

#include "core/bytes.h"

namespace mw {
namespace {

// A bounded reader over the script: every take checks the remaining length first and, once
// anything failed, keeps failing, so a parse can read field after field and test once.
struct Reader {
  const uint8_t* data;
  uint32_t length;
  uint32_t position;
  bool failed;

  bool has(uint32_t n) const { return !failed && n <= length - position; }

  uint8_t u8() {
    if (!has(1)) { failed = true; return 0; }
    return data[position++];
  }
  uint32_t u32() {
    if (!has(4)) { failed = true; return 0; }
    uint32_t v = readU32(data + position);
    position += 4;
    return v;
  }
  uint16_t u16() {
    if (!has(2)) { failed = true; return 0; }
    uint16_t v = readU16(data + position);
    position += 2;
    return v;
  }
  // A NUL-terminated string that must end inside the script.
  const char* string() {
    if (failed) return "";
    for (uint32_t i = position; i < length; ++i) {
      if (data[i] == 0) {
        const char* s = reinterpret_cast<const char*>(data + position);
        position = i + 1;
        return s;
      }
    }
    failed = true;
    return "";
  }
  const uint8_t* bytes(uint32_t n) {
    if (!has(n)) { failed = true; return nullptr; }
    const uint8_t* p = data + position;
    position += n;
    return p;
  }
};

constexpr uint32_t kBmpFileHeader = 14;
constexpr uint32_t kBmpCoreHeader = 12;
constexpr uint32_t kBmpInfoHeader = 40;

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

  // Uncompressed rows are padded to four bytes; the painter reads |height| of them.
  if (compression == 0) {
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
      return false;
    uint64_t rowBytes = ((uint64_t(uint32_t(width)) * bitCount + 31) / 32) * 4;
    uint64_t rows = height < 0 ? uint64_t(-int64_t(height)) : uint64_t(height);
    if (rowBytes * rows > length - bitsOffset) return false;
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
// BMP. Returns false when the block or its BMP is corrupt.
bool takePictureBlock(Reader& r, uint32_t extra, uint32_t& field, Picture& picture) {
  picture = Picture{};
  field = 0;
  uint32_t blockLength = r.u32();
  if (r.failed) return false;
  if (blockLength == 0) return true;
  if (!r.has(extra)) return false;
  field = extra == 1 ? r.u8() : r.u32();
  const uint8_t* file = r.bytes(blockLength);
  if (!file) return false;
  return takePicture(file, blockLength, picture);
}

Reader readerAt(const ScriptCursor& c) { return Reader{c.script, c.length, c.position, false}; }

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

// Common ending of every reader: commit the position or mark the cursor corrupt for good.
ReadResult finish(ScriptCursor& c, const Reader& r, ReadResult result) {
  if (r.failed) {
    c.corrupt = true;
    return ReadCorrupt;
  }
  c.position = r.position;
  return result;
}

bool ready(ScriptCursor& c, Stage stage) {
  if (c.corrupt) return false;
  if (c.stage != stage) {
    c.corrupt = true;
    return false;
  }
  return true;
}

bool isShortcutKind(uint8_t b) {
  return b == ShortcutDesktop || b == ShortcutStartMenu || b == ShortcutProgramGroup ||
         b == ShortcutQuickLaunch || b == ShortcutStartup;
}

}  // namespace

bool parseFront(const uint8_t* script, uint32_t length, SetupScript& out) {
  out = SetupScript{};
  Reader r{script, length, 0, false};

  uint32_t field;
  if (!takePictureBlock(r, 1, field, out.splashBitmap)) return false;
  out.splashSeconds = uint8_t(field);
  if (!takePictureBlock(r, 4, field, out.sideBitmap)) return false;
  out.sideTextColour = field;
  if (!takePictureBlock(r, 1, field, out.bannerBitmap)) return false;
  out.bannerAlignment = uint8_t(field);

  out.minimumOs = r.u8();
  out.dotNetRequired = r.u8();
  if (out.dotNetRequired != 0) {
    const char* installer = r.string();
    out.dotNetInstaller = installer[0] ? installer : nullptr;
  }
  out.requireAdmin = r.u8();
  out.headerTextColour = r.u32();
  out.noTitleTexts = out.headerTextColour == kNoTitleTexts;
  out.windowCaption = r.string();
  out.productName = r.string();
  out.welcomeText = r.string();
  out.licenceText = r.string();
  out.destinationKind = r.u8();
  out.destinationPath = r.string();
  out.linkText = r.string();
  out.linkTarget = r.string();
  out.fileTableOffset = r.position;
  return !r.failed;
}

void startLists(ScriptCursor& cursor, const uint8_t* script, uint32_t length,
                const SetupScript& front) {
  cursor = ScriptCursor{script, length, front.fileTableOffset, StageFiles, false, 0};
  if (front.fileTableOffset > length) cursor.corrupt = true;
}

ReadResult nextFileEntry(ScriptCursor& c, FileEntry& out) {
  if (!ready(c, StageFiles)) return ReadCorrupt;
  Reader r = readerAt(c);
  out = FileEntry{};
  out.name = r.string();
  if (r.failed) return finish(c, r, ReadCorrupt);
  if (out.name[0] == 0) {
    // The table holds at least one file; an empty first name is outside the format.
    if (c.filesRead == 0) r.failed = true;
    ReadResult result = finish(c, r, ReadEnd);
    if (result == ReadEnd) c.stage = StageProgramGroup;
    return result;
  }
  out.dataOffset = r.u32();
  out.checksum = 1;
  if (out.dataOffset != 0) {
    out.chunkCount = r.u16();
    out.checksum = r.u32();
    if (out.chunkCount == 0) r.failed = true;
  }
  ReadResult result = finish(c, r, ReadItem);
  if (result == ReadItem) ++c.filesRead;
  return result;
}

ReadResult readProgramGroup(ScriptCursor& c, const char*& path) {
  path = nullptr;
  if (!ready(c, StageProgramGroup)) return ReadCorrupt;
  Reader r = readerAt(c);
  const char* first = r.string();
  ReadResult result = ReadEnd;
  if (!r.failed && first[0] != 0) {
    // A group is stored as a one-string list: the path, then an empty string. The worker
    // stops creating folders at a 0 after a '\' or after the NUL, so no trailing '\'.
    const char* terminator = r.string();
    size_t n = textLength(first);
    if (terminator[0] != 0 || first[n - 1] == '\\') r.failed = true;
    path = first;
    result = ReadItem;
  }
  result = finish(c, r, result);
  if (result == ReadCorrupt) path = nullptr;
  else c.stage = StageShortcuts;
  return result;
}

ReadResult nextShortcut(ScriptCursor& c, ShortcutEntry& out) {
  if (!ready(c, StageShortcuts)) return ReadCorrupt;
  Reader r = readerAt(c);
  out = ShortcutEntry{};
  uint8_t kind = r.u8();
  if (!r.failed && !isShortcutKind(kind)) {
    ReadResult result = finish(c, r, ReadEnd);
    c.stage = StageRegistry;
    return result;
  }
  out.kind = kind;
  out.target = r.string();
  return finish(c, r, ReadItem);
}

ReadResult nextRegistryEntry(ScriptCursor& c, RegistryEntry& out) {
  if (!ready(c, StageRegistry)) return ReadCorrupt;
  Reader r = readerAt(c);
  out = RegistryEntry{};
  uint32_t root = r.u32();
  if (!r.failed && (root < kFirstRegistryRoot || root > kLastRegistryRoot)) {
    ReadResult result = finish(c, r, ReadEnd);
    c.stage = StageFinishText;
    return result;
  }
  out.root = root;
  out.typeByte = int8_t(r.u8());
  out.valueType = out.typeByte < 0 ? uint32_t(-int32_t(out.typeByte)) : uint32_t(out.typeByte);
  out.subkey = r.string();
  out.valueName = out.typeByte >= 0 ? r.string() : nullptr;
  if (out.valueType == kRegDword) {
    out.data = r.bytes(4);
    out.dataLength = 4;
    if (out.data) out.dword = readU32(out.data);
  } else {
    const char* s = r.string();
    out.data = reinterpret_cast<const uint8_t*>(s);
    out.dataLength = uint32_t(textLength(s));
  }
  return finish(c, r, ReadItem);
}

ReadResult readFinishText(ScriptCursor& c, const char*& text) {
  text = "";
  if (!ready(c, StageFinishText)) return ReadCorrupt;
  Reader r = readerAt(c);
  const char* s = r.string();
  ReadResult result = finish(c, r, ReadItem);
  if (result == ReadItem) {
    text = s;
    c.stage = StagePostInstall;
  }
  return result;
}

ReadResult readPostInstall(ScriptCursor& c, PostInstall& out) {
  out = PostInstall{};
  if (!ready(c, StagePostInstall)) return ReadCorrupt;
  Reader r = readerAt(c);
  out.rebootMode = r.u8();
  out.runKind = r.u8();
  if (out.runKind != 0) out.runTarget = r.string();
  ReadResult result = finish(c, r, ReadItem);
  if (result == ReadItem) c.stage = StageDone;
  else out = PostInstall{};
  return result;
}

}  // namespace mw
