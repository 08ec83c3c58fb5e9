// The installer's icon from a project's ICO or PNG file: decoded to straight RGBA pictures,
// the best one chosen and scaled for each image the engine holds, and re-encoded in exactly
// that image's layout (its size, bit depth and palette length), so the engine's icon can be
// replaced in place without moving a byte of the image around it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace mw::packager {

// One picture: rows top to bottom, four bytes per pixel (red, green, blue, alpha), straight
// (not premultiplied) alpha.
struct RgbaImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t sourceBits = 32;   // bits per pixel of what it was decoded from (a hint for choosing)
  std::vector<uint8_t> rgba;

  bool operator==(const RgbaImage&) const = default;
};

// Every picture of an ICO file (BMP-style or PNG images), or the one picture of a PNG file.
// Throws std::runtime_error with a message that names the problem (no "icon:" prefix).
std::vector<RgbaImage> decodeIcon(const std::vector<uint8_t>& bytes);
std::vector<RgbaImage> loadIcon(const std::filesystem::path& file);

// The picture to scale for a width x height image: that exact size (the deepest colours among
// several), else the smallest larger one, else the largest.
const RgbaImage& bestIconSource(const std::vector<RgbaImage>& images, uint32_t width, uint32_t height);

// `image` scaled to width x height by area averaging (weighted by alpha, so transparent pixels
// lend no colour to their neighbours). A picture of another shape is fitted whole and centred
// on a transparent ground.
RgbaImage scaleImage(const RgbaImage& image, uint32_t width, uint32_t height);

// Encodes `image` as an icon image laid out like `engineImage` (a BITMAPINFOHEADER, its
// palette, the colour rows and the transparency mask, bottom-up): same header, same bit count
// (1, 4, 8, 24 or 32), same palette length, same byte count. Palette images get a palette chosen
// for the picture (median cut), with black kept for transparent pixels, which the mask shows
// through. `image` must already have the engine image's size. Throws std::runtime_error when the
// engine image is of a kind this cannot write (a PNG image, compression, an odd header).
std::vector<uint8_t> encodeIconImage(const RgbaImage& image, const std::vector<uint8_t>& engineImage);

// The width, height and bit count an engine image holds (from its header). Throws like
// encodeIconImage.
struct IconImageShape {
  uint32_t width, height, bitCount, paletteEntries;
  size_t bytes;  // what header, palette, colour rows and mask take
};
IconImageShape iconImageShape(const std::vector<uint8_t>& engineImage);

}  // namespace mw::packager
