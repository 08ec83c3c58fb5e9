// Pictures for the splash, the side of the welcome and finished pages, and the banner.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mw::packager {

// Reads a picture and returns the whole BMP file to embed. The stub paints the bits straight
// from the script with the file's own header as the format, so the file is checked the way
// the engine needs it: a 12-byte core header or a 40-byte (or larger) header, uncompressed,
// RLE or bit-field pixels, every row inside the file. A top-down BMP is turned bottom-up,
// since the splash takes its window height from the header as stored. A PNG is converted to
// a bottom-up 24-bit BMP when the packager was built with libpng (transparent pixels become
// white). Throws std::runtime_error with a message that names the problem.
std::vector<uint8_t> loadPicture(const std::filesystem::path& file);

// The same checks and conversions over bytes already read.
std::vector<uint8_t> normalisePicture(const std::vector<uint8_t>& bytes);

// Whether PNG input is available in this build.
bool pngSupported();

}  // namespace mw::packager
