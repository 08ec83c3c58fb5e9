#include "wizard/geometry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/bytes.h"
#include "wizard/controls.h"

namespace mw {
namespace {

// A BMP file in memory with the Picture view the script parser would give for it.
struct Bmp {
  std::vector<uint8_t> bytes;
  Picture picture{};

  // headerSize 12 (core) or 40; bitCount 24 unless said otherwise; `bitsBytes` < 0 means
  // exactly what the size needs.
  Bmp(uint32_t headerSize, int32_t width, int32_t height, uint16_t bitCount = 24,
      long bitsBytes = -1, uint32_t compression = 0, uint32_t imageSize = 0) {
    const uint32_t rows = uint32_t(height < 0 ? -int64_t(height) : height);
    const uint32_t stride = ((uint32_t(width) * bitCount + 31) / 32) * 4;
    const uint32_t palette = bitCount <= 8 ? (headerSize == 12 ? 3u : 4u) << bitCount : 0;
    const uint32_t offBits = 14 + headerSize + palette;
    const uint32_t bitsSize = bitsBytes < 0 ? stride * rows : uint32_t(bitsBytes);
    bytes.assign(offBits + bitsSize, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    writeU32(&bytes[2], uint32_t(bytes.size()));
    writeU32(&bytes[10], offBits);
    uint8_t* info = &bytes[14];
    writeU32(info, headerSize);
    if (headerSize == 12) {
      writeU16(info + 4, uint16_t(width));
      writeU16(info + 6, uint16_t(height));
      writeU16(info + 8, 1);
      writeU16(info + 10, bitCount);
    } else {
      writeU32(info + 4, uint32_t(width));
      writeU32(info + 8, uint32_t(height));
      writeU16(info + 12, 1);
      writeU16(info + 14, bitCount);
      writeU32(info + 16, compression);
      writeU32(info + 20, imageSize);
    }
    picture.length = uint32_t(bytes.size());
    picture.file = bytes.data();
    picture.info = info;
    picture.bits = bytes.data() + offBits;
    picture.bitsLength = bitsSize;
    picture.width = width;
    picture.height = height;
  }
};

TEST(Splash, PlacementAndTime) {
  SplashPlacement s = splashPlacement(400, 300, 1920, 1080);
  EXPECT_EQ(s.x, 760);
  EXPECT_EQ(s.y, 378);
  EXPECT_EQ(s.width, 400);
  EXPECT_EQ(s.height, 300);
  EXPECT_EQ(splashPlacement(401, 300, 1024, 768).x, 312);  // 512 - 200
  EXPECT_EQ(splashPlacement(401, 301, 1024, 767).y, 383 - 150 - 12);
  // Larger than the screen: placed off the top-left, never clamped.
  EXPECT_EQ(splashPlacement(2000, 1000, 1024, 768).x, 512 - 1000);
  EXPECT_EQ(splashMilliseconds(0), 1000u);
  EXPECT_EQ(splashMilliseconds(4), 5000u);
  EXPECT_EQ(splashMilliseconds(255), 256000u);
}

// The record pictureRecord fills in, starting from one full of stale values: every field must
// be set, whether the picture is drawable or not.
PictureRecord recordOf(const Picture& picture, int areaRight, int areaBottom) {
  PictureRecord r;
  std::memset(&r, 0xA5, sizeof r);
  pictureRecord(picture, areaRight, areaBottom, r);
  return r;
}

TEST(Pictures, DrawSizeIsCutToTheArea) {
  Bmp side(40, 200, 400);
  PictureRecord r = recordOf(side.picture, 498, 304);
  ASSERT_TRUE(r.drawable);
  EXPECT_EQ(r.drawWidth, 200);
  EXPECT_EQ(r.drawHeight, 304);
  EXPECT_EQ(r.rows, 400);
  EXPECT_FALSE(r.topDown);
  EXPECT_EQ(r.bits, side.picture.bits);
  EXPECT_EQ(r.info, side.bytes.data() + 14);
  // The top 304 rows of a bottom-up picture start 96 rows up from its bottom row.
  DibDraw d = pictureDraw(r, 0);
  EXPECT_EQ(d.destX, 0);
  EXPECT_EQ(d.destY, 0);
  EXPECT_EQ(d.width, 200);
  EXPECT_EQ(d.height, 304);
  EXPECT_EQ(d.srcX, 0);
  EXPECT_EQ(d.srcY, 96);
  EXPECT_EQ(d.startScan, 0u);
  EXPECT_EQ(d.lines, 400u);

  Bmp wide(40, 700, 50);
  r = recordOf(wide.picture, 498, 63);
  EXPECT_EQ(r.drawWidth, 498);
  EXPECT_EQ(r.drawHeight, 50);
  EXPECT_EQ(pictureDraw(r, -1).srcY, 0);
  EXPECT_EQ(pictureDraw(r, -1).destX, -1);
}

TEST(Pictures, CoreHeaderAndTopDown) {
  Bmp core(12, 90, 60, 8);
  PictureRecord r = recordOf(core.picture, 498, 304);
  ASSERT_TRUE(r.drawable);
  EXPECT_EQ(r.width, 90);
  EXPECT_EQ(r.rows, 60);
  EXPECT_EQ(r.drawHeight, 60);
  EXPECT_EQ(pictureDraw(r, 0).lines, 60u);

  Bmp topDown(40, 120, -80);
  r = recordOf(topDown.picture, 498, 63);
  ASSERT_TRUE(r.drawable);
  EXPECT_TRUE(r.topDown);
  EXPECT_EQ(r.rows, 80);
  EXPECT_EQ(r.drawHeight, 63);
  DibDraw d = pictureDraw(r, 5);
  EXPECT_EQ(d.srcY, 17);  // addressed from the bottom row, as for a bottom-up picture
  EXPECT_EQ(d.lines, 80u);
  EXPECT_EQ(d.height, 63);
}

TEST(Pictures, ShortOrStrangeDataIsNotDrawn) {
  EXPECT_FALSE(recordOf(Picture{}, 498, 304).drawable);
  // One byte short of the last scan line.
  Bmp shortBits(40, 10, 10, 24, 10 * 32 - 1);
  EXPECT_FALSE(recordOf(shortBits.picture, 498, 304).drawable);
  Bmp exact(40, 10, 10, 24, 10 * 32);
  EXPECT_TRUE(recordOf(exact.picture, 498, 304).drawable);
  // Rows of a 1-bit picture are padded to four bytes.
  Bmp mono(40, 33, 2, 1, 16);
  EXPECT_TRUE(recordOf(mono.picture, 498, 304).drawable);
  Bmp monoShort(40, 33, 2, 1, 15);
  EXPECT_FALSE(recordOf(monoShort.picture, 498, 304).drawable);
  // Huge sizes must not wrap around.
  Bmp huge(40, 0x7FFFFFFF, 0x7FFFFFFF, 32, 64);
  EXPECT_FALSE(recordOf(huge.picture, 498, 304).drawable);
  Bmp oddDepth(40, 10, 10, 7, 1000);
  EXPECT_FALSE(recordOf(oddDepth.picture, 498, 304).drawable);
  Bmp jpeg(40, 10, 10, 24, 400, 4, 400);
  EXPECT_FALSE(recordOf(jpeg.picture, 498, 304).drawable);
  Bmp rle(40, 10, 10, 8, 50, 1, 50);
  EXPECT_TRUE(recordOf(rle.picture, 498, 304).drawable);
  Bmp rleLong(40, 10, 10, 8, 50, 1, 51);
  EXPECT_FALSE(recordOf(rleLong.picture, 498, 304).drawable);
  Bmp zeroWide(40, 0, 10, 24, 0);
  EXPECT_FALSE(recordOf(zeroWide.picture, 498, 304).drawable);
  // A colour table that claims more than its block holds.
  Bmp palette(40, 4, 4, 8, 16);
  palette.picture.length = 14 + 40 + 1000;
  EXPECT_FALSE(recordOf(palette.picture, 498, 304).drawable);
}

TEST(Painting, BannerPosition) {
  EXPECT_EQ(bannerX(0, 498, 300), 0);
  EXPECT_EQ(bannerX(1, 498, 300), 99);
  EXPECT_EQ(bannerX(1, 498, 301), 98);  // 197 / 2 rounded down
  EXPECT_EQ(bannerX(2, 498, 300), 197);
  EXPECT_EQ(bannerX(3, 498, 300), 0);
  EXPECT_EQ(bannerX(255, 498, 300), 0);
  // Cut to the band: right alignment starts one pixel off the left edge.
  EXPECT_EQ(bannerX(2, 498, 498), -1);
  EXPECT_EQ(bannerX(1, 498, 498), 0);
}

TEST(Painting, HeaderTextsStopBeforeARightBanner) {
  const Rect subtitle{35, 26, 554, 52};
  EXPECT_EQ(headerTextWidth(subtitle, 432), 432 - 6 - 35);
  EXPECT_EQ(headerTextWidth(subtitle, 600), 519);  // the banner starts beyond the text
  EXPECT_EQ(headerTextWidth(subtitle, 35 + 6 + 159), 519);  // too little room left: unchanged
  EXPECT_EQ(headerTextWidth(subtitle, 35 + 6 + 160), 160);
}

TEST(Painting, WhiteArea) {
  const Rect side{0, 0, 498, 304}, band{0, 0, 498, 62};
  EXPECT_EQ(whiteArea(true, side, band).bottom, 304);
  EXPECT_EQ(whiteArea(false, side, band).bottom, 62);
}

TEST(Painting, TitleFonts) {
  EXPECT_EQ(titleFontHeights(-11).title, -15);
  EXPECT_EQ(titleFontHeights(-11).headerTitle, -13);
  EXPECT_EQ(titleFontHeights(-8).title, -15);
  EXPECT_EQ(titleFontHeights(-8).headerTitle, -13);
  EXPECT_EQ(titleFontHeights(13).title, -15);
  EXPECT_EQ(titleFontHeights(-13).title, -17);
  EXPECT_EQ(titleFontHeights(-13).headerTitle, -15);
}

TEST(Painting, HyperlinkLayoutAndHover) {
  const Rect link{6, 296, 70, 309};
  HyperlinkLayout l = hyperlinkLayout(link, 52);
  EXPECT_EQ(l.hot.left, 4);
  EXPECT_EQ(l.hot.top, 294);
  EXPECT_EQ(l.hot.right, 60);
  EXPECT_EQ(l.hot.bottom, 311);
  EXPECT_EQ(l.lineX, 64);
  EXPECT_EQ(l.width, 53);
  EXPECT_EQ(l.height, 13);
  EXPECT_TRUE(insideRect(l.hot, 4, 294));
  EXPECT_FALSE(insideRect(l.hot, 60, 300));
  EXPECT_FALSE(insideRect(Rect{0, 0, 0, 0}, 0, 0));  // no hyperlink: nothing is hot

  bool hovering = false;
  EXPECT_EQ(hoverOnMove(hovering, true), HoverChange::enter);
  EXPECT_EQ(hoverOnMove(hovering, true), HoverChange::none);
  EXPECT_TRUE(hovering);
  EXPECT_EQ(hoverOnMove(hovering, false), HoverChange::leave);
  EXPECT_EQ(hoverOnMove(hovering, false), HoverChange::none);
  EXPECT_FALSE(hovering);
}

TEST(Painting, StaticColours) {
  uint32_t c = 0;
  EXPECT_TRUE(staticTextColour(kHyperlink, true, 0x123456, 0xABCDEF, c));
  EXPECT_EQ(c, 0x00FF2F2Fu);
  EXPECT_TRUE(staticTextColour(kHyperlink, false, 0x123456, 0xABCDEF, c));
  EXPECT_EQ(c, 0x00FF2F2Fu);
  EXPECT_TRUE(staticTextColour(kHeaderTitle, false, 0, 0xABCDEF, c));
  EXPECT_EQ(c, 0u);  // black is a colour
  EXPECT_TRUE(staticTextColour(kHeaderSubtitle, true, 0x123456, 0xABCDEF, c));
  EXPECT_EQ(c, 0x123456u);
  for (int id : {kBigTitle, kSideBodyText, kSideHint, kFooterHint, kStatusText, kFileLabel,
                 kDestinationGroup, kLicencePrompt}) {
    SCOPED_TRACE(id);
    EXPECT_TRUE(staticTextColour(id, true, 0x123456, 0xABCDEF, c));
    EXPECT_EQ(c, 0xABCDEFu);
    EXPECT_FALSE(staticTextColour(id, false, 0x123456, 0xABCDEF, c));
  }
}

}  // namespace
}  // namespace mw
