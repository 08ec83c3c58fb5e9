// The compiled dialog template 1, read back from the resource compiler's output: the resource
// compiler adds styles of its own unless told not to, so the bytes are checked, not the source.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "wizard/controls.h"

namespace {

struct Reader {
  const std::vector<uint8_t>& b;
  size_t at;
  uint16_t u16() {
    uint16_t v = uint16_t(b.at(at) | (b.at(at + 1) << 8));
    at += 2;
    return v;
  }
  uint32_t u32() {
    uint32_t lo = u16();
    return lo | (uint32_t(u16()) << 16);
  }
  // A name or ordinal: 0xFFFF then the ordinal, or a NUL-terminated UTF-16 string (ASCII here).
  std::string nameOrOrdinal() {
    if (b.at(at) == 0xFF && b.at(at + 1) == 0xFF) {
      at += 2;
      return "#" + std::to_string(u16());
    }
    std::string s;
    for (uint16_t c; (c = u16()) != 0;) s += char(c);
    return s;
  }
  void alignTo4(size_t base) {
    while ((at - base) % 4) ++at;
  }
};

struct Item {
  uint32_t style;
  uint32_t exStyle;
  int16_t x, y, cx, cy;
  uint16_t id;
  std::string cls, text;
};

TEST(DialogTemplate, MatchesTheControlTable) {
  std::ifstream in(MW_DIALOG_RES, std::ios::binary);
  ASSERT_TRUE(in) << MW_DIALOG_RES;
  std::vector<uint8_t> res((std::istreambuf_iterator<char>(in)), {});

  // Walk the .res entries to type 5 (dialog), name 1.
  size_t at = 0;
  bool found = false;
  Reader r{res, 0};
  uint16_t language = 0;
  while (at + 8 <= res.size()) {
    r.at = at;
    const uint32_t dataSize = r.u32(), headerSize = r.u32();
    const std::string type = r.nameOrOrdinal(), name = r.nameOrOrdinal();
    r.alignTo4(at);
    r.u32();  // data version
    r.u16();  // memory flags
    language = r.u16();
    if (type == "#5" && name == "#1") {
      r.at = at + headerSize;
      found = true;
      break;
    }
    at += headerSize + dataSize;
    at = (at + 3) & ~size_t(3);
  }
  ASSERT_TRUE(found);
  EXPECT_EQ(language, 1033);

  const size_t base = r.at;
  EXPECT_EQ(r.u32(), 0x90C808C0u);  // style
  EXPECT_EQ(r.u32(), 0u);           // extended style
  const uint16_t count = r.u16();
  ASSERT_EQ(count, mw::kWizardControlCount);
  EXPECT_EQ(r.u16(), 0);
  EXPECT_EQ(r.u16(), 0);
  EXPECT_EQ(r.u16(), 331);
  EXPECT_EQ(r.u16(), 219);
  EXPECT_EQ(r.nameOrOrdinal(), "");  // no menu
  EXPECT_EQ(r.nameOrOrdinal(), "");  // the standard dialog class
  EXPECT_EQ(r.nameOrOrdinal(), "");  // empty caption
  EXPECT_EQ(r.u16(), 8);             // point size
  EXPECT_EQ(r.nameOrOrdinal(), "MS Sans Serif");

  const Item expected[] = {
      {0x40000010, 0, 0, 37, 332, 1, 1, "#130", ""},
      {0x50000010, 0, 0, 187, 332, 1, 2, "#130", ""},
      {0x40000000, 0, 121, 20, 203, 30, 3, "#130", ""},
      {0x40000000, 0, 121, 51, 203, 105, 4, "#130", ""},
      {0x40000000, 0, 14, 169, 303, 11, 5, "#130", ""},
      {0x40000000, 0, 121, 169, 203, 11, 6, "#130", ""},
      {0x40000000, 0, 12, 4, 302, 12, 7, "#130", ""},
      {0x40000000, 0, 20, 16, 294, 16, 8, "#130", ""},
      {0x40000000, 0, 14, 52, 303, 100, 9, "#130", ""},
      {0x48000000, 0, 4, 182, 43, 8, 10, "#130", ""},
      {0x40000000, 0, 14, 47, 303, 14, 11, "#130", "Press Page Down to see the rest of the agreement."},
      {0x40A10004, 0, 14, 62, 304, 99, 12, "#129", ""},
      {0x40000000, 0, 14, 52, 303, 20, 13, "#130", ""},
      {0x40000001, 0, 14, 76, 303, 13, 14, "MSCTLS_PROGRESS32", ""},
      {0x4000000C, 0, 14, 62, 303, 10, 141, "#130", ""},
      {0x50010300, 0, 267, 196, 50, 14, 15, "#128", "Cancel"},
      {0x50010300, 0, 202, 196, 50, 14, 16, "#128", ""},
      {0x40010300, 0, 151, 196, 50, 14, 17, "#128", "< Back"},
      {0x40000007, 0, 8, 111, 315, 32, 18, "#128", "Destination Folder"},
      {0x40010300, 0, 261, 122, 50, 14, 19, "#128", "Browse..."},
      {0x40810080, 0, 18, 123, 232, 12, 20, "#129", ""},
  };
  for (const Item& e : expected) {
    SCOPED_TRACE(e.id);
    r.alignTo4(base);
    Item got;
    got.style = r.u32();
    got.exStyle = r.u32();
    got.x = int16_t(r.u16());
    got.y = int16_t(r.u16());
    got.cx = int16_t(r.u16());
    got.cy = int16_t(r.u16());
    got.id = r.u16();
    got.cls = r.nameOrOrdinal();
    got.text = r.nameOrOrdinal();
    EXPECT_EQ(r.u16(), 0);  // no creation data
    EXPECT_EQ(got.style, e.style);
    EXPECT_EQ(got.exStyle, 0u);
    EXPECT_EQ(got.x, e.x);
    EXPECT_EQ(got.y, e.y);
    EXPECT_EQ(got.cx, e.cx);
    EXPECT_EQ(got.cy, e.cy);
    EXPECT_EQ(got.id, e.id);
    // Class names are compared without case, as the system does.
    std::string cls = got.cls;
    for (char& c : cls) c = char(toupper(c));
    EXPECT_EQ(cls, e.cls);
    EXPECT_EQ(got.text, e.text);
  }
}

}  // namespace
