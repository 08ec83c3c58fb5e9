// Splash placement, picture records, banner position, title fonts, hyperlink layout, colours.
#include "wizard/geometry.h"

#include "core/bytes.h"
#include "wizard/controls.h"

namespace mw {

namespace {

// Bytes of colour table (or bit masks) GDI reads after an information header of `headerSize`.
uint64_t colourTableBytes(uint32_t headerSize, uint32_t bitCount, uint32_t compression,
                          uint32_t coloursUsed) {
  if (headerSize == 12) return bitCount <= 8 ? 3ull << bitCount : 0;
  uint64_t entries = 0;
  if (bitCount <= 8) {
    entries = 1ull << bitCount;
    if (coloursUsed != 0 && coloursUsed < entries) entries = coloursUsed;
  } else {
    entries = coloursUsed;
  }
  uint64_t bytes = entries * 4;
  // The three masks of a bit-field picture follow a plain 40-byte header.
  if (compression == 3 && headerSize == 40) bytes += 12;
  return bytes;
}

}  // namespace

PictureRecord pictureRecord(const Picture& picture, int areaRight, int areaBottom) {
  PictureRecord r{};
  if (picture.length == 0 || !picture.info || !picture.bits || !picture.file) return r;
  r.info = picture.info;
  r.bits = picture.bits;

  const uint8_t* end = picture.file + picture.length;
  if (end - picture.info < 12) return r;
  const uint32_t headerSize = readU32(picture.info);
  const bool core = headerSize == 12;
  if (!core && (headerSize < 16 || uint64_t(end - picture.info) < headerSize)) return r;

  int32_t width, height;
  uint32_t bitCount, compression = 0, coloursUsed = 0, imageSize = 0;
  if (core) {
    width = readU16(picture.info + 4);
    height = readU16(picture.info + 6);
    bitCount = readU16(picture.info + 10);
  } else {
    width = int32_t(readU32(picture.info + 4));
    height = int32_t(readU32(picture.info + 8));
    bitCount = readU16(picture.info + 14);
    if (headerSize >= 20) compression = readU32(picture.info + 16);
    if (headerSize >= 24) imageSize = readU32(picture.info + 20);
    if (headerSize >= 36) coloursUsed = readU32(picture.info + 32);
  }
  r.width = width;
  r.topDown = height < 0;
  // A height below 1 is taken as its negation; INT32_MIN has none and is no picture.
  r.rows = height < 0 ? (height == INT32_MIN ? 0 : -height) : height;

  // The measured size applies even to a picture that cannot be drawn (the area stays white).
  r.drawWidth = width < areaRight ? width : areaRight;
  r.drawHeight = r.rows < areaBottom ? r.rows : areaBottom;

  if (width <= 0 || r.rows <= 0) return r;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32)
    return r;
  const uint64_t table = colourTableBytes(headerSize, bitCount, compression, coloursUsed);
  if (uint64_t(end - picture.info) < uint64_t(headerSize) + table) return r;

  const uint64_t available = uint64_t(end - picture.bits);
  if (compression == 0 || compression == 3) {
    const uint64_t stride = ((uint64_t(width) * bitCount + 31) / 32) * 4;
    if (stride * uint64_t(r.rows) > available) return r;
  } else if (compression == 1 || compression == 2) {
    // Run-length pictures are read up to their stated size; they are never top-down.
    if (imageSize == 0 || imageSize > available || r.topDown) return r;
  } else {
    return r;  // embedded JPEG or PNG: not something a device draw takes
  }
  r.drawable = true;
  return r;
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
