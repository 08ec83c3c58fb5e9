#include "packager/bitmap.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#ifdef MARLOWICK_HAVE_PNG
#include <png.h>
#endif

#include "core/bytes.h"

namespace mw::packager {
namespace {

constexpr uint32_t kFileHeader = 14;

std::runtime_error bad(const std::string& why) { return std::runtime_error("not a usable BMP: " + why); }

std::vector<uint8_t> checkBmp(std::vector<uint8_t> b) {
  if (b.size() < kFileHeader + 12) throw bad("file too short");
  if (b.size() > 0x7FFFFFFF) throw bad("file too large");
  uint32_t size = uint32_t(b.size());
  uint32_t bitsOffset = readU32(&b[10]);
  uint32_t headerSize = readU32(&b[14]);
  if (headerSize != 12 && headerSize != 40 && headerSize != 52 && headerSize != 56 &&
      headerSize != 108 && headerSize != 124)
    throw bad("unknown information header size " + std::to_string(headerSize));
  if (kFileHeader + headerSize > size) throw bad("information header runs past the end of the file");
  if (bitsOffset < kFileHeader + headerSize || bitsOffset > size)
    throw bad("pixel offset " + std::to_string(bitsOffset) + " lies outside the file");

  int64_t width, height;
  uint32_t bitCount, compression = 0;
  if (headerSize == 12) {
    width = readU16(&b[18]);
    height = readU16(&b[20]);
    bitCount = readU16(&b[24]);
  } else {
    width = int32_t(readU32(&b[18]));
    height = int32_t(readU32(&b[22]));
    bitCount = readU16(&b[28]);
    compression = readU32(&b[30]);
  }
  if (width <= 0 || height == 0 || width > 32767 || height > 32767 || height < -32767)
    throw bad("size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range");
  if (compression == 4 || compression == 5) throw bad("JPEG or PNG inside a BMP cannot be painted");
  if (compression > 5) throw bad("unknown compression " + std::to_string(compression));
  if (compression == 1 && bitCount != 8) throw bad("RLE8 needs 8 bits per pixel");
  if (compression == 2 && bitCount != 4) throw bad("RLE4 needs 4 bits per pixel");
  if (compression == 3 && bitCount != 16 && bitCount != 32) throw bad("bit fields need 16 or 32 bits per pixel");
  if (compression == 0 && bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 &&
      bitCount != 24 && bitCount != 32)
    throw bad(std::to_string(bitCount) + " bits per pixel");

  uint64_t rowBytes = ((uint64_t(width) * bitCount + 31) / 32) * 4;
  uint64_t rows = uint64_t(height < 0 ? -height : height);
  if (compression == 0 || compression == 3) {
    if (rowBytes * rows > size - bitsOffset) throw bad("pixel rows run past the end of the file");
  }

  if (height < 0) {
    // Top-down: reverse the rows and store the height as positive.
    if (compression != 0 && compression != 3) throw bad("a top-down picture must be uncompressed");
    std::vector<uint8_t> row(rowBytes);
    for (uint64_t top = 0, bottom = rows - 1; top < bottom; ++top, --bottom) {
      uint8_t* a = &b[bitsOffset + top * rowBytes];
      uint8_t* c = &b[bitsOffset + bottom * rowBytes];
      std::memcpy(row.data(), a, rowBytes);
      std::memcpy(a, c, rowBytes);
      std::memcpy(c, row.data(), rowBytes);
    }
    writeU32(&b[22], uint32_t(-height));
  }
  writeU32(&b[2], size);  // keep the file header honest
  return b;
}

#ifdef MARLOWICK_HAVE_PNG
std::vector<uint8_t> pngToBmp(const std::vector<uint8_t>& bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    throw std::runtime_error(std::string("not a usable PNG: ") + image.message);
  image.format = PNG_FORMAT_BGR;  // BMP's byte order
  if (image.width > 32767 || image.height > 32767) {
    png_image_free(&image);
    throw std::runtime_error("PNG is larger than 32767 pixels");
  }
  uint32_t width = image.width, height = image.height;
  uint32_t rowBytes = ((width * 24 + 31) / 32) * 4;
  uint32_t bitsOffset = kFileHeader + 40;
  std::vector<uint8_t> bmp(bitsOffset + size_t(rowBytes) * height, 0);
  // Transparent pixels are laid over white.
  png_color background{255, 255, 255};
  // A negative row stride makes libpng write the rows bottom-up, the bottom row first in the
  // buffer, as a BMP keeps them.
  if (!png_image_finish_read(&image, &background, &bmp[bitsOffset], -int32_t(rowBytes), nullptr)) {
    std::string why = image.message;
    png_image_free(&image);
    throw std::runtime_error("not a usable PNG: " + why);
  }
  bmp[0] = 'B';
  bmp[1] = 'M';
  writeU32(&bmp[2], uint32_t(bmp.size()));
  writeU32(&bmp[10], bitsOffset);
  writeU32(&bmp[14], 40);
  writeU32(&bmp[18], width);
  writeU32(&bmp[22], height);
  writeU16(&bmp[26], 1);
  writeU16(&bmp[28], 24);
  writeU32(&bmp[34], uint32_t(size_t(rowBytes) * height));
  writeU32(&bmp[38], 2835);  // 72 dots per inch
  writeU32(&bmp[42], 2835);
  return bmp;
}
#endif

}  // namespace

bool pngSupported() {
#ifdef MARLOWICK_HAVE_PNG
  return true;
#else
  return false;
#endif
}

std::vector<uint8_t> normalisePicture(const std::vector<uint8_t>& bytes) {
  if (bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M') return checkBmp(bytes);
  static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), pngSignature, 8) == 0) {
#ifdef MARLOWICK_HAVE_PNG
    return checkBmp(pngToBmp(bytes));
#else
    throw std::runtime_error("PNG pictures need a packager built with libpng; convert the picture to BMP");
#endif
  }
  throw std::runtime_error(pngSupported() ? "not a BMP or PNG file" : "not a BMP file");
}

std::vector<uint8_t> loadPicture(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + file.string() + "'");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read '" + file.string() + "'");
  return normalisePicture(bytes);
}

}  // namespace mw::packager
