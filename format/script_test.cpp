#include "format/script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace mw {
namespace {

// Writes script bytes by hand, so the readers are checked against the layout rather than
// against the packager's writer.
struct Bytes {
  std::vector<uint8_t> v;
  Bytes& u8(uint8_t b) { v.push_back(b); return *this; }
  Bytes& u16(uint16_t x) { u8(uint8_t(x)); return u8(uint8_t(x >> 8)); }
  Bytes& u32(uint32_t x) { u16(uint16_t(x)); return u16(uint16_t(x >> 16)); }
  Bytes& str(const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    return u8(0);
  }
  Bytes& raw(const std::vector<uint8_t>& b) { v.insert(v.end(), b.begin(), b.end()); return *this; }
};

// A BMP file of w x h pixels at 24 bits with the 40-byte header, or the 12-byte core header.
std::vector<uint8_t> bmp(int w, int h, bool core = false) {
  uint32_t headerSize = core ? 12 : 40;
  uint32_t row = ((uint32_t(w) * 24 + 31) / 32) * 4;
  uint32_t bitsOffset = 14 + headerSize;
  uint32_t size = bitsOffset + row * uint32_t(h < 0 ? -h : h);
  Bytes b;
  b.u8('B').u8('M').u32(size).u32(0).u32(bitsOffset).u32(headerSize);
  if (core) {
    b.u16(uint16_t(w)).u16(uint16_t(h)).u16(1).u16(24);
  } else {
    b.u32(uint32_t(w)).u32(uint32_t(h)).u16(1).u16(24).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
  }
  for (uint32_t i = 0; i < size - bitsOffset; ++i) b.u8(uint8_t(i));
  return b.v;
}

// The front with no pictures and the given middle fields.
Bytes plainFront(uint8_t dotNet = 0, const std::string& installer = "") {
  Bytes b;
  b.u32(0).u32(0).u32(0);
  b.u8(7);  // minimumOs
  b.u8(dotNet);
  if (dotNet) b.str(installer);
  b.u8(1).u32(0x00112233);
  b.str("Caption").str("Product").str("Welcome").str("Licence");
  b.u8(2).str("Acme\\Tool").str("Site").str("http://example.invalid/");
  return b;
}

// Copies into a buffer of exactly the script's size, so a read past the end is caught by the
// address sanitizer as well as by the readers' own bounds.
struct Exact {
  std::unique_ptr<uint8_t[]> p;
  uint32_t n;
  explicit Exact(const std::vector<uint8_t>& v, size_t len) : p(new uint8_t[len ? len : 1]), n(uint32_t(len)) {
    std::memcpy(p.get(), v.data(), len);
  }
};

// Walks a whole script with every reader; returns false at the first corrupt report.
struct Walked {
  SetupScript front;
  std::vector<FileEntry> files;
  const char* group = nullptr;
  std::vector<ShortcutEntry> shortcuts;
  std::vector<RegistryEntry> registry;
  const char* finishText = nullptr;
  PostInstall post{};
  uint32_t endPosition = 0;
};

bool walk(const uint8_t* s, uint32_t n, Walked& w) {
  if (!parseFront(s, n, w.front)) return false;
  ScriptCursor c;
  startLists(c, s, n, w.front);
  FileEntry f;
  ReadResult r;
  while ((r = nextFileEntry(c, f)) == ReadItem) w.files.push_back(f);
  if (r != ReadEnd) return false;
  if (readProgramGroup(c, w.group) == ReadCorrupt) return false;
  ShortcutEntry sc;
  while ((r = nextShortcut(c, sc)) == ReadItem) w.shortcuts.push_back(sc);
  if (r != ReadEnd) return false;
  RegistryEntry re;
  while ((r = nextRegistryEntry(c, re)) == ReadItem) w.registry.push_back(re);
  if (r != ReadEnd) return false;
  if (readFinishText(c, w.finishText) != ReadItem) return false;
  if (readPostInstall(c, w.post) != ReadItem) return false;
  w.endPosition = c.position;
  return true;
}

// A script that uses every kind of field once.
Bytes fullScript() {
  Bytes b;
  auto splash = bmp(5, 3);
  b.u32(uint32_t(splash.size())).u8(4).raw(splash);
  auto side = bmp(2, 2, true);
  b.u32(uint32_t(side.size())).u32(0x00FFFFFF).raw(side);
  auto banner = bmp(3, -2);
  b.u32(uint32_t(banner.size())).u8(BannerRight).raw(banner);
  b.u8(4).u8(3).str("dotnet.exe").u8(0).u32(kNoTitleTexts);
  b.str("Cap").str("Prod").str("Hello\r\nthere").str("").u8(11).str("C:\\Abs").str("").str("");
  b.str("bin\\tool.exe").u32(20000).u16(2).u32(0xDEADBEEF);
  b.str("empty.txt").u32(0);
  b.str("");
  b.str("Acme\\Tool").u8(0);
  b.u8('D').str("bin\\tool.exe").u8('P').str("readme.txt").u8(0);
  b.u32(0x80000001).u8(1).str("Software\\Acme").str("Path").str("<SetupPath>\\bin");
  b.u32(0x80000002).u8(0xFC).str("Software\\Acme").raw({1, 2, 3, 4});
  b.u32(0x80000000).u8(0xFF).str(".acme").str("AcmeFile");
  b.u32(0);
  b.str("Done.");
  b.u8(1).u8(1).str("bin\\tool.exe /quiet");
  return b;
}

TEST(ScriptFront, FixedOffsetsWithoutPictures) {
  Bytes b = plainFront();
  SetupScript s;
  ASSERT_TRUE(parseFront(b.v.data(), uint32_t(b.v.size()), s));
  // Three empty picture blocks are 4 bytes each, so minimumOs is byte 12.
  EXPECT_EQ(s.minimumOs, 7);
  EXPECT_EQ(b.v[12], 7);
  EXPECT_EQ(s.splashBitmap.length, 0u);
  EXPECT_EQ(s.splashBitmap.info, nullptr);
  EXPECT_EQ(s.splashSeconds, 0);
  EXPECT_EQ(s.dotNetRequired, 0);
  EXPECT_EQ(s.dotNetInstaller, nullptr);
  // dotNetRequired 0 takes exactly one byte: requireAdmin is byte 14.
  EXPECT_EQ(s.requireAdmin, 1);
  EXPECT_EQ(s.headerTextColour, 0x00112233u);
  EXPECT_FALSE(s.noTitleTexts);
  EXPECT_STREQ(s.windowCaption, "Caption");
  EXPECT_STREQ(s.productName, "Product");
  EXPECT_STREQ(s.licenceText, "Licence");
  EXPECT_EQ(s.destinationKind, 2);
  EXPECT_STREQ(s.destinationPath, "Acme\\Tool");
  EXPECT_STREQ(s.linkTarget, "http://example.invalid/");
  EXPECT_EQ(s.fileTableOffset, b.v.size());
  // The view points into the buffer; nothing is copied.
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(s.windowCaption), b.v.data() + 19);
}

TEST(ScriptFront, DotNetInstallerAndTitleColour) {
  Bytes withEmpty = plainFront(3, "");
  SetupScript s;
  ASSERT_TRUE(parseFront(withEmpty.v.data(), uint32_t(withEmpty.v.size()), s));
  EXPECT_EQ(s.dotNetRequired, 3);
  EXPECT_EQ(s.dotNetInstaller, nullptr);  // empty: no installation offered
  EXPECT_EQ(s.requireAdmin, 1);           // two bytes for .NET: requireAdmin at 15
  EXPECT_EQ(withEmpty.v[15], 1);

  Bytes withPath = plainFront(5, "http://x/dotnet.exe");
  ASSERT_TRUE(parseFront(withPath.v.data(), uint32_t(withPath.v.size()), s));
  EXPECT_STREQ(s.dotNetInstaller, "http://x/dotnet.exe");

  for (uint32_t colour : {0u, kNoTitleTexts, 0xFFFFFFFEu}) {
    Bytes b = plainFront();
    std::memcpy(&b.v[15], &colour, 4);  // little-endian host
    ASSERT_TRUE(parseFront(b.v.data(), uint32_t(b.v.size()), s));
    EXPECT_EQ(s.noTitleTexts, colour == kNoTitleTexts) << colour;
    EXPECT_EQ(s.headerTextColour, colour);
  }
}

TEST(ScriptFront, Pictures) {
  Bytes b = fullScript();
  Walked w;
  ASSERT_TRUE(walk(b.v.data(), uint32_t(b.v.size()), w));
  const SetupScript& s = w.front;
  EXPECT_EQ(s.splashSeconds, 4);
  EXPECT_EQ(s.splashBitmap.width, 5);
  EXPECT_EQ(s.splashBitmap.height, 3);
  EXPECT_EQ(s.splashBitmap.file, b.v.data() + 5);
  EXPECT_EQ(s.splashBitmap.info, b.v.data() + 5 + 14);
  EXPECT_EQ(s.splashBitmap.bits, b.v.data() + 5 + 54);
  EXPECT_EQ(s.splashBitmap.bitsLength, 3u * 16);
  // Core header: u16 width and height at bytes 18 and 20.
  EXPECT_EQ(s.sideTextColour, 0x00FFFFFFu);
  EXPECT_EQ(s.sideBitmap.width, 2);
  EXPECT_EQ(s.sideBitmap.height, 2);
  EXPECT_EQ(s.sideBitmap.bits - s.sideBitmap.file, 26);
  EXPECT_EQ(s.bannerAlignment, BannerRight);
  EXPECT_EQ(s.bannerBitmap.height, -2);
  EXPECT_EQ(s.minimumOs, 4);
  EXPECT_STREQ(s.dotNetInstaller, "dotnet.exe");
  EXPECT_TRUE(s.noTitleTexts);
  EXPECT_EQ(s.destinationKind, 11);
}

TEST(ScriptFront, BrokenPicturesAreCorrupt) {
  auto check = [](std::vector<uint8_t> pic, const char* what) {
    Bytes b;
    b.u32(uint32_t(pic.size())).u8(0).raw(pic);
    Bytes rest = plainFront();
    b.raw(std::vector<uint8_t>(rest.v.begin() + 4, rest.v.end()));
    SetupScript s;
    EXPECT_FALSE(parseFront(b.v.data(), uint32_t(b.v.size()), s)) << what;
  };
  auto good = bmp(4, 4);
  {
    auto p = good;
    p[10] = 200;  // bits offset past the block
    check(p, "bits offset outside");
  }
  {
    auto p = good;
    p[14] = 0xF0;  // header larger than the block
    check(p, "header outside");
  }
  {
    auto p = good;
    p.resize(p.size() - 1);  // one pixel row byte short
    check(p, "rows outside");
  }
  {
    auto p = good;
    p[10] = 20;  // bits inside the header
    check(p, "bits inside header");
  }
  check(std::vector<uint8_t>(good.begin(), good.begin() + 16), "shorter than headers");
  {
    // Rows whose byte count does not fit 32 bits (2^30 pixels of 32 bits: 2^32 bytes a row)
    // must not wrap around to a size the block seems to hold.
    auto p = good;
    for (int i = 0; i < 4; ++i) p[18 + i] = uint8_t(0x40000000u >> (8 * i));
    p[28] = 32;
    check(p, "row wider than 32 bits can count");
    for (int i = 0; i < 4; ++i) p[18 + i] = uint8_t(0x7FFFFFFFu >> (8 * i));
    check(p, "widest row");
  }
  {
    auto p = good;
    p[28] = 2;  // no such uncompressed depth
    check(p, "bit count 2");
    p[28] = 0;
    check(p, "bit count 0");
  }
}

TEST(ScriptFront, RowsOfEveryDepthFitExactly) {
  // 33 pixels wide, 3 rows: the last word of each row is partly padding. The block holds the
  // rows exactly, then one byte less.
  for (uint16_t bits : {1, 4, 8, 16, 24, 32}) {
    const uint32_t row = ((33u * bits + 31) / 32) * 4;
    for (uint32_t cut : {0u, 1u}) {
      Bytes pic;
      const uint32_t size = 54 + 3 * row - cut;
      pic.u8('B').u8('M').u32(size).u32(0).u32(54).u32(40);
      pic.u32(33).u32(uint32_t(-3)).u16(1).u16(bits).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0);
      pic.raw(std::vector<uint8_t>(size - 54, 0));
      Bytes b;
      b.u32(size).u8(0).raw(pic.v);
      Bytes rest = plainFront();
      b.raw(std::vector<uint8_t>(rest.v.begin() + 4, rest.v.end()));
      SetupScript s;
      EXPECT_EQ(parseFront(b.v.data(), uint32_t(b.v.size()), s), cut == 0) << bits << " " << cut;
    }
  }
}

TEST(ScriptLists, EveryReaderInOrder) {
  Bytes b = fullScript();
  Walked w;
  ASSERT_TRUE(walk(b.v.data(), uint32_t(b.v.size()), w));
  ASSERT_EQ(w.files.size(), 2u);
  EXPECT_STREQ(w.files[0].name, "bin\\tool.exe");
  EXPECT_EQ(w.files[0].dataOffset, 20000u);
  EXPECT_EQ(w.files[0].chunkCount, 2);
  EXPECT_EQ(w.files[0].checksum, 0xDEADBEEFu);
  EXPECT_STREQ(w.files[1].name, "empty.txt");
  EXPECT_EQ(w.files[1].dataOffset, 0u);
  EXPECT_EQ(w.files[1].chunkCount, 0);
  // An empty file is its name plus 4 bytes: the terminator follows right after.
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(w.files[1].name) + 10 + 4,
            reinterpret_cast<const uint8_t*>(w.group) - 1);
  EXPECT_STREQ(w.group, "Acme\\Tool");
  ASSERT_EQ(w.shortcuts.size(), 2u);
  EXPECT_EQ(w.shortcuts[0].kind, 'D');
  EXPECT_STREQ(w.shortcuts[1].target, "readme.txt");
  ASSERT_EQ(w.registry.size(), 3u);
  EXPECT_EQ(w.registry[0].root, 0x80000001u);
  EXPECT_STREQ(w.registry[0].valueName, "Path");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(w.registry[0].data), w.registry[0].dataLength),
            "<SetupPath>\\bin");
  // 0xFC: default value of type 4 with exactly four data bytes.
  EXPECT_EQ(w.registry[1].typeByte, -4);
  EXPECT_EQ(w.registry[1].valueType, 4u);
  EXPECT_EQ(w.registry[1].valueName, nullptr);
  EXPECT_EQ(w.registry[1].dataLength, 4u);
  EXPECT_EQ(w.registry[1].dword, 0x04030201u);
  // 0xFF: default value of type 1.
  EXPECT_EQ(w.registry[2].valueType, 1u);
  EXPECT_EQ(w.registry[2].valueName, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char*>(w.registry[2].data), "AcmeFile");
  EXPECT_STREQ(w.finishText, "Done.");
  EXPECT_EQ(w.post.rebootMode, 1);
  EXPECT_EQ(w.post.runKind, 1);
  EXPECT_STREQ(w.post.runTarget, "bin\\tool.exe /quiet");
  EXPECT_EQ(w.endPosition, b.v.size());
}

TEST(ScriptLists, ProgramGroupBytesAndMinimalTail) {
  // A\B is stored as A, \, B, 0, 0 and the shortcut list starts right after.
  Bytes b = plainFront();
  b.str("f").u32(0).str("");
  size_t groupAt = b.v.size();
  b.str("A\\B").u8(0);
  EXPECT_EQ(std::vector<uint8_t>(b.v.begin() + long(groupAt), b.v.end()),
            (std::vector<uint8_t>{'A', '\\', 'B', 0, 0}));
  b.u8(0).u32(0).str("").u8(0).u8(0);
  Walked w;
  ASSERT_TRUE(walk(b.v.data(), uint32_t(b.v.size()), w));
  EXPECT_STREQ(w.group, "A\\B");
  EXPECT_TRUE(w.shortcuts.empty());

  // Empty group, no shortcuts, no registry, runKind 0: the last byte is runKind.
  Bytes m = plainFront();
  m.str("f").u32(0).str("").u8(0).u8(0).u32(0).str("").u8(1).u8(0);
  Walked w2;
  ASSERT_TRUE(walk(m.v.data(), uint32_t(m.v.size()), w2));
  EXPECT_EQ(w2.group, nullptr);
  EXPECT_EQ(w2.post.rebootMode, 1);
  EXPECT_EQ(w2.post.runKind, 0);
  EXPECT_EQ(w2.post.runTarget, nullptr);
  EXPECT_EQ(w2.endPosition, m.v.size());
}

TEST(ScriptLists, OutsideTheFormat) {
  auto corrupt = [](Bytes tail, const char* what) {
    Bytes b = plainFront();
    b.raw(tail.v);
    Walked w;
    EXPECT_FALSE(walk(b.v.data(), uint32_t(b.v.size()), w)) << what;
  };
  corrupt(Bytes().str("").u8(0).u8(0).u32(0).str("").u8(0).u8(0), "empty first file name");
  corrupt(Bytes().str("f").u32(9).u16(0).u32(1).str("").u8(0).u8(0).u32(0).str("").u8(0).u8(0),
          "zero chunks");
  corrupt(Bytes().str("f").u32(0).str("").str("A\\").u8(0).u8(0).u32(0).str("").u8(0).u8(0),
          "group ending in backslash");
  corrupt(Bytes().str("f").u32(0).str("").str("A").u8(7).u8(0).u32(0).str("").u8(0).u8(0),
          "group without its extra zero");
  corrupt(Bytes().str("f").u32(0).str("").u8(0).u8(0).u32(0x80000001).u8(4).str("K").str("V").u8(1),
          "dword cut short");

  // Reading out of order is refused and sticks.
  Bytes b = plainFront();
  b.str("f").u32(0).str("").u8(0).u8(0).u32(0).str("").u8(0).u8(0);
  SetupScript s;
  ASSERT_TRUE(parseFront(b.v.data(), uint32_t(b.v.size()), s));
  ScriptCursor c;
  startLists(c, b.v.data(), uint32_t(b.v.size()), s);
  ShortcutEntry sc;
  EXPECT_EQ(nextShortcut(c, sc), ReadCorrupt);
  FileEntry f;
  EXPECT_EQ(nextFileEntry(c, f), ReadCorrupt);
}

TEST(ScriptLists, EveryTruncationIsReportedNotOverread) {
  Bytes b = fullScript();
  for (size_t len = 0; len < b.v.size(); ++len) {
    Exact e(b.v, len);
    Walked w;
    EXPECT_FALSE(walk(e.p.get(), e.n, w)) << "length " << len;
  }
  // A script whose tail after the last field is junk still walks; the end position shows it.
  Bytes longer = fullScript();
  longer.u8(9);
  Walked w;
  ASSERT_TRUE(walk(longer.v.data(), uint32_t(longer.v.size()), w));
  EXPECT_EQ(w.endPosition, longer.v.size() - 1);
}

TEST(ScriptPaths, Containment) {
  for (const char* ok : {"a", "bin\\tool.exe", "a/b", "..a\\b..", "a.\\.b"})
    EXPECT_TRUE(isContainedPath(ok)) << ok;
  // Windows drops a component's trailing dots and blanks: "..." and ". ." are ".." to it.
  for (const char* bad : {"", "\\a", "/a", "C:\\a", "c:a", "a\\..\\..\\b", "..", ".", "a\\.\\b",
                          "a\\", "a\\\\b", "a:b", "...\\evil.exe", "a\\. .\\..\\x", " \\a"})
    EXPECT_FALSE(isContainedPath(bad)) << bad;
}

}  // namespace
}  // namespace mw
