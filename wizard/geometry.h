// The arithmetic behind the splash screen and the wizard's painting: where the splash sits, how
// much of a picture is drawn and from where, where the banner goes, how big the title fonts
// are, where the hyperlink reacts, and which colour a static text gets. Plain numbers in and out;
// the Windows side (splash_win32.cpp, dialog_win32.cpp) feeds them to GDI.
#pragma once

#include <stdint.h>

#include "format/script.h"

namespace mw {

struct Rect {
  int left, top, right, bottom;
};

// Any rectangle with left, top, right and bottom: ours, or the system's RECT.
template <class Box>
inline bool insideRect(const Box& r, int x, int y) {
  return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// ---- Pictures --------------------------------------------------------------------------------

// A picture from the setup script made ready for drawing straight from the script's bytes.
struct PictureRecord {
  bool drawable;          // false: absent, or a header/bit count the drawing would read past
  const uint8_t* info;    // the information header: the format handed to GDI
  const uint8_t* bits;    // the pixel bits
  int32_t width;          // as stored (core header: the u16)
  int32_t rows;           // number of scan lines stored (the height without its sign)
  bool topDown;           // a negative stored height: the first scan line is the top row
  int32_t drawWidth;      // the part drawn: at most the area's right edge
  int32_t drawHeight;     // and at most the area's bottom
};

// Fills `record` (every field, whatever it held) for `picture` against an area whose right and bottom edges are given in
// client pixels (the side area, the banner band, or the screen for the splash). A picture whose
// colour table or pixel bits would run past its block is not drawn at all: the script may be
// one the user chose to use although its checksum failed. `picture` comes from the script's
// parser, which has already checked its header's size and place and its width and height.
void pictureRecord(const Picture& picture, int areaRight, int areaBottom, PictureRecord& record);

// Arguments of one SetDIBitsToDevice call that puts the picture's top-left drawWidth x
// drawHeight pixels at (x, 0), reading all stored scan lines from the first.
struct DibDraw {
  int destX, destY, width, height;
  int srcX, srcY;  // srcY counts from the bottom row of a bottom-up picture
  uint32_t startScan, lines;
};
DibDraw pictureDraw(const PictureRecord& picture, int x);

// ---- Splash ----------------------------------------------------------------------------------

// The splash window: the picture's size, centred on the screen and 12 pixels above the centre;
// each half is taken with an arithmetic shift, so an odd size loses its half pixel.
struct SplashPlacement {
  int x, y, width, height;
};
SplashPlacement splashPlacement(int pictureWidth, int pictureRows, int screenWidth,
                                int screenHeight);
// How long the splash stays: splashSeconds + 1 seconds.
inline uint32_t splashMilliseconds(uint8_t splashSeconds) {
  return (uint32_t(splashSeconds) + 1) * 1000;
}

// ---- The wizard's painting -------------------------------------------------------------------

// x of the banner in a band `bandWidth` pixels wide: 1 centred, 2 flush right less one pixel,
// anything else left.
int bannerX(uint8_t alignment, int bandWidth, int drawWidth);

// The width the header subtitle keeps when a banner starts at bannerLeft on its right: it ends
// 6 pixels before the banner, so a long subtitle wraps instead of running under the picture.
// A control that would be left narrower than kMinHeaderTextWidth keeps its width.
constexpr int kMinHeaderTextWidth = 160;
int headerTextWidth(const Rect& control, int bannerLeft);

// The white rectangle of a page: the side area in the side layout, the banner band otherwise.
// The rest of the client area below it is button face.
inline const Rect& whiteArea(bool sideLayout, const Rect& sideArea, const Rect& bannerBand) {
  return sideLayout ? sideArea : bannerBand;
}

// Title fonts from the dialog font's LOGFONT height h: h is taken as at most -11 (so small or
// positive heights give the 96-dpi sizes), the big title is h - 4 and the header title h - 2.
struct TitleFontHeights {
  int title;
  int headerTitle;
};
TitleFontHeights titleFontHeights(int dialogFontHeight);

// The hyperlink, from its template rectangle in client pixels and its text's width in the
// dialog font: the rectangle that reacts to the pointer, the left end of the footer line, and
// the control's new size (it keeps its position).
struct HyperlinkLayout {
  Rect hot;
  int lineX;
  int width, height;
};
HyperlinkLayout hyperlinkLayout(const Rect& control, int textWidth);

// What a pointer move or a button release does to the hover state.
enum class HoverChange { none, enter, leave };
HoverChange hoverOnMove(bool& hovering, bool inside);

constexpr uint32_t kHyperlinkColour = 0x00FF2F2F;  // COLORREF: red 47, green 47, blue 255

// The text colour of a static control, or false to leave it in the system's colours:
// the hyperlink its own blue, the header title and subtitle headerTextColour, every other static
// text sideTextColour in the side layout and the system's colours otherwise.
bool staticTextColour(int controlId, bool sideLayout, uint32_t headerTextColour,
                      uint32_t sideTextColour, uint32_t& colour);

}  // namespace mw
