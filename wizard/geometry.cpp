// Splash placement, picture records, banner position, title fonts, hyperlink layout, colours.
#include "wizard/geometry.h"

#include "core/bytes.h"
#include "wizard/controls.h"

namespace mw {

namespace {

// Bit counts a drawn picture may have (1, 4, 8, 16, 24, 32), as bit (count - 1).
constexpr uint32_t kDrawnBitCounts = 1u << 0 | 1u << 3 | 1u << 7 | 1u << 15 | 1u << 23 | 1u << 31;

}  // namespace

// `picture` is as the script's parser took it apart: when present, its header is a core one or
// at least 40 bytes long and lies inside the block, and its width and height are the header's.
// What the parser leaves open is checked here. Every size below is compared by subtraction and
// division, never by a product that could overflow 32 bits.
void pictureRecord(const Picture& picture, int areaRight, int areaBottom, PictureRecord& r) {
  r = PictureRecord{};
  if (picture.length == 0) return;
  const uint8_t* info = picture.info;
  r.info = info;
  r.bits = picture.bits;

  const uint8_t* end = picture.file + picture.length;
  const uint32_t headerSize = readU32(info);
  const bool core = headerSize == 12;
  uint32_t bitCount, compression = 0, coloursUsed = 0, imageSize = 0;
  if (core) {
    bitCount = readU16(info + 10);
  } else {
    bitCount = readU16(info + 14);
    compression = readU32(info + 16);
    imageSize = readU32(info + 20);
    coloursUsed = readU32(info + 32);
  }
  const int32_t width = picture.width;
  const int32_t height = picture.height;
  r.width = width;
  r.topDown = height < 0;
  // A height below 1 is taken as its negation (the parser refuses INT32_MIN, which has none).
  r.rows = height < 0 ? -height : height;

  // The measured size applies even to a picture that cannot be drawn (the area stays white).
  r.drawWidth = width < areaRight ? width : areaRight;
  r.drawHeight = r.rows < areaBottom ? r.rows : areaBottom;

  if (width <= 0 || r.rows <= 0) return;
  if (bitCount - 1 >= 32 || !((kDrawnBitCounts >> (bitCount - 1)) & 1)) return;

  // The colour table GDI reads after the header: 3-byte entries after a core header, 4-byte
  // ones otherwise, as many as the bit count allows (fewer when coloursUsed says so) or
  // coloursUsed above 8 bits; a bit-field picture's three masks follow a plain 40-byte header.
  uint32_t left = uint32_t(end - info) - headerSize;
  if (compression == 3 && headerSize == 40) {
    if (left < 12) return;
    left -= 12;
  }
  uint32_t entries = bitCount <= 8 ? 1u << bitCount : 0;
  if (!core && (bitCount > 8 || (coloursUsed != 0 && coloursUsed < entries)))
    entries = coloursUsed;
  if (entries > left / (core ? 3 : 4)) return;

  const uint32_t available = uint32_t(end - picture.bits);
  if (compression == 0 || compression == 3) {
    // Rows padded to four bytes: ceil(width * bitCount / 32) words, counted per 32 pixels.
    const uint32_t w = uint32_t(width);
    const uint32_t rowWords = (w / 32) * bitCount + ((w % 32) * bitCount + 31) / 32;
    if (uint32_t(r.rows) > available / 4 / rowWords) return;
  } else if (compression == 1 || compression == 2) {
    // Run-length pictures are read up to their stated size; they are never top-down.
    if (imageSize == 0 || imageSize > available || r.topDown) return;
  } else {
    return;  // embedded JPEG or PNG: not something a device draw takes
  }
  r.drawable = true;
}

DibDraw pictureDraw(const PictureRecord& p, int x) {
  DibDraw d{};
  d.destX = x;
  d.destY = 0;
  d.width = p.drawWidth;
  d.height = p.drawHeight;
  d.srcX = 0;
  // The source rectangle is addressed from the picture's bottom row whichever way its rows are
  // stored, so its top drawHeight rows start rows - drawHeight up from the bottom. (Taking 0
  // for a top-down picture shows its bottom part instead; seen on wine.)
  d.srcY = p.rows - p.drawHeight;
  d.startScan = 0;
  d.lines = uint32_t(p.rows);
  return d;
}

SplashPlacement splashPlacement(int pictureWidth, int pictureRows, int screenWidth,
                                int screenHeight) {
  SplashPlacement s;
  s.width = pictureWidth;
  s.height = pictureRows;
  s.x = (screenWidth >> 1) - (pictureWidth >> 1);
  s.y = (screenHeight >> 1) - (pictureRows >> 1) - 12;
  return s;
}

int bannerX(uint8_t alignment, int bandWidth, int drawWidth) {
  switch (alignment) {
    case 1: return (bandWidth - drawWidth) >> 1;
    case 2: return bandWidth - drawWidth - 1;
    default: return 0;
  }
}

int headerTextWidth(const Rect& control, int bannerLeft) {
  const int width = control.right - control.left;
  const int room = bannerLeft - 6 - control.left;
  if (room >= width || room < kMinHeaderTextWidth) return width;
  return room;
}

TitleFontHeights titleFontHeights(int dialogFontHeight) {
  const int h = dialogFontHeight > -11 ? -11 : dialogFontHeight;
  return TitleFontHeights{h - 4, h - 2};
}

HyperlinkLayout hyperlinkLayout(const Rect& control, int textWidth) {
  HyperlinkLayout l;
  l.hot = Rect{control.left - 2, control.top - 2, control.left + textWidth + 2, control.bottom + 2};
  l.lineX = 2 * control.left + textWidth;
  l.width = textWidth + 1;
  l.height = control.bottom - control.top;
  return l;
}

HoverChange hoverOnMove(bool& hovering, bool inside) {
  if (inside == hovering) return HoverChange::none;
  hovering = inside;
  return inside ? HoverChange::enter : HoverChange::leave;
}

bool staticTextColour(int controlId, bool sideLayout, uint32_t headerTextColour,
                      uint32_t sideTextColour, uint32_t& colour) {
  if (controlId == kHyperlink) {
    colour = kHyperlinkColour;
  } else if (controlId == kHeaderTitle || controlId == kHeaderSubtitle) {
    colour = headerTextColour;
  } else if (sideLayout) {
    colour = sideTextColour;
  } else {
    return false;
  }
  return true;
}

}  // namespace mw
