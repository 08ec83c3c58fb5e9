#include "packager/icon.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>

#ifdef MARLOWICK_HAVE_PNG
#include <png.h>
#endif

#include "core/bytes.h"

namespace mw::packager {
namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
// A project's PNG is a picture drawn for the icon; anything larger is surely another file.
constexpr uint32_t kMaxPngSide = 1024;
constexpr uint32_t kInfoHeader = 40;

bool isPng(const uint8_t* b, size_t n) { return n >= 8 && std::memcmp(b, kPngSignature, 8) == 0; }

uint32_t stride(uint32_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

RgbaImage decodePng(const uint8_t* bytes, size_t size, uint32_t maxSide) {
#ifdef MARLOWICK_HAVE_PNG
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes, size))
    throw std::runtime_error(std::string("not a usable PNG: ") + image.message);
  if (image.width > maxSide || image.height > maxSide) {
    png_image_free(&image);
    throw std::runtime_error("the PNG is " + std::to_string(image.width) + " x " + std::to_string(image.height) +
                             " pixels; an icon picture may be at most " + std::to_string(maxSide) + " x " +
                             std::to_string(maxSide));
  }
  image.format = PNG_FORMAT_RGBA;
  RgbaImage out;
  out.width = image.width;
  out.height = image.height;
  out.rgba.resize(size_t(out.width) * out.height * 4);
  if (!png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr)) {
    std::string why = image.message;
    png_image_free(&image);
    throw std::runtime_error("not a usable PNG: " + why);
  }
  return out;
#else
  (void)bytes;
  (void)size;
  (void)maxSide;
  throw std::runtime_error("PNG icons need a packager built with libpng; give an ICO file");
#endif
}

// One BMP-style image of an ICO file: header, palette, colour rows, then the mask, bottom-up.
RgbaImage decodeDib(const uint8_t* b, size_t size, const std::string& which) {
  auto bad = [&](const std::string& why) { return std::runtime_error(which + ": " + why); };
  if (size < kInfoHeader) throw bad("too short for an image header");
  const uint32_t headerSize = readU32(b);
  if (headerSize < kInfoHeader || headerSize > size) throw bad("unknown image header of " + std::to_string(headerSize) + " bytes");
  const int32_t w = int32_t(readU32(b + 4)), h2 = int32_t(readU32(b + 8));
  const uint32_t bits = readU16(b + 14), compression = readU32(b + 16), used = readU32(b + 32);
  if (w <= 0 || w > 256 || h2 <= 0 || h2 > 512 || h2 % 2) throw bad("size " + std::to_string(w) + " x " + std::to_string(h2 / 2) + " is not an icon's");
  if (compression != 0) throw bad("compressed images are not read");
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) throw bad(std::to_string(bits) + " bits per pixel");
  const uint32_t width = uint32_t(w), height = uint32_t(h2 / 2);
  const uint32_t palette = bits <= 8 ? (used ? used : 1u << bits) : used;
  if (bits <= 8 && palette > (1u << bits)) throw bad("a palette of " + std::to_string(palette) + " colours");
  const uint64_t colourAt = uint64_t(headerSize) + uint64_t(palette) * 4;
  const uint64_t maskAt = colourAt + uint64_t(stride(width, bits)) * height;
  const uint64_t end = maskAt + uint64_t(stride(width, 1)) * height;
  // A 32-bit image carries its transparency in its alpha bytes; its mask may be left out.
  const bool hasMask = end <= size;
  if (maskAt > size || (!hasMask && bits != 32)) throw bad("runs past the end of the file");

  RgbaImage img;
  img.width = width;
  img.height = height;
  img.sourceBits = bits;
  img.rgba.assign(size_t(width) * height * 4, 0);
  bool anyAlpha = false;
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* line = b + colourAt + uint64_t(stride(width, bits)) * row;
    uint8_t* out = &img.rgba[size_t(height - 1 - row) * width * 4];
    for (uint32_t x = 0; x < width; ++x, out += 4) {
      if (bits <= 8) {
        const uint32_t bit = x * bits;
        const uint32_t index = (line[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
        if (index < palette) {
          const uint8_t* q = b + headerSize + index * 4;
          out[0] = q[2], out[1] = q[1], out[2] = q[0];
        }
        out[3] = 255;
      } else {
        const uint8_t* p = line + x * (bits / 8);
        out[0] = p[2], out[1] = p[1], out[2] = p[0];
        out[3] = bits == 32 ? p[3] : 255;
        anyAlpha |= bits == 32 && p[3] != 0;
      }
    }
  }
  // Old 32-bit images leave every alpha byte 0 and rely on the mask alone.
  const bool useMask = hasMask && !(bits == 32 && anyAlpha);
  if (bits == 32 && !anyAlpha && !hasMask) throw bad("has neither alpha nor a mask");
  if (useMask) {
    for (uint32_t row = 0; row < height; ++row) {
      const uint8_t* line = b + maskAt + uint64_t(stride(width, 1)) * row;
      uint8_t* out = &img.rgba[size_t(height - 1 - row) * width * 4];
      for (uint32_t x = 0; x < width; ++x) out[x * 4 + 3] = (line[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;
    }
  }
  return img;
}

struct Colour {
  uint8_t r, g, b;
  uint32_t count;
};

uint32_t distance(const uint8_t* a, const Colour& c) {
  const int dr = a[0] - c.r, dg = a[1] - c.g, db = a[2] - c.b;
  // The eye's weights, roughly: green counts most, blue least.
  return uint32_t(3 * dr * dr + 4 * dg * dg + 2 * db * db);
}

// A palette of at most `slots` colours for `colours` (median cut: the box of colours with the
// widest spread in one channel is split at its pixel-weighted median until there are enough).
std::vector<Colour> choosePalette(std::vector<Colour> colours, size_t slots) {
  if (colours.size() <= slots) return colours;
  struct Box {
    size_t begin, end;
  };
  auto spread = [&](const Box& box, int& channel) {
    uint8_t lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    for (size_t i = box.begin; i < box.end; ++i) {
      const uint8_t v[3] = {colours[i].r, colours[i].g, colours[i].b};
      for (int c = 0; c < 3; ++c) lo[c] = std::min(lo[c], v[c]), hi[c] = std::max(hi[c], v[c]);
    }
    int best = 0;
    channel = 0;
    for (int c = 0; c < 3; ++c)
      if (hi[c] - lo[c] > best) best = hi[c] - lo[c], channel = c;
    return best;
  };
  auto value = [](const Colour& c, int channel) { return channel == 0 ? c.r : channel == 1 ? c.g : c.b; };
  std::vector<Box> boxes{{0, colours.size()}};
  while (boxes.size() < slots) {
    size_t pick = boxes.size();
    int widest = 0, channel = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      int c;
      const int s = boxes[i].end - boxes[i].begin > 1 ? spread(boxes[i], c) : 0;
      if (s > widest) widest = s, pick = i, channel = c;
    }
    if (pick == boxes.size()) break;
    Box box = boxes[pick];
    std::stable_sort(colours.begin() + long(box.begin), colours.begin() + long(box.end),
                     [&](const Colour& a, const Colour& b) { return value(a, channel) < value(b, channel); });
    uint64_t total = 0, running = 0;
    for (size_t i = box.begin; i < box.end; ++i) total += colours[i].count;
    size_t cut = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
      running += colours[i].count;
      cut = i + 1;
      if (running * 2 >= total) break;
    }
    boxes[pick] = {box.begin, cut};
    boxes.push_back({cut, box.end});
  }
  std::vector<Colour> palette;
  for (const Box& box : boxes) {
    uint64_t sum[3] = {0, 0, 0}, n = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
      sum[0] += uint64_t(colours[i].r) * colours[i].count;
      sum[1] += uint64_t(colours[i].g) * colours[i].count;
      sum[2] += uint64_t(colours[i].b) * colours[i].count;
      n += colours[i].count;
    }
    palette.push_back({uint8_t((sum[0] + n / 2) / n), uint8_t((sum[1] + n / 2) / n), uint8_t((sum[2] + n / 2) / n), uint32_t(n)});
  }
  return palette;
}

bool opaque(const uint8_t* px) { return px[3] >= 128; }

}  // namespace

std::vector<RgbaImage> decodeIcon(const std::vector<uint8_t>& b) {
  if (isPng(b.data(), b.size())) {
    RgbaImage img = decodePng(b.data(), b.size(), kMaxPngSide);
    return {img};
  }
  if (b.size() < 6 || readU16(&b[0]) != 0 || (readU16(&b[2]) != 1 && readU16(&b[2]) != 2))
    throw std::runtime_error("not an ICO or PNG file");
  if (readU16(&b[2]) == 2) throw std::runtime_error("a cursor file, not an icon");
  const uint32_t count = readU16(&b[4]);
  if (count == 0) throw std::runtime_error("the icon file holds no images");
  if (6 + 16 * uint64_t(count) > b.size()) throw std::runtime_error("the icon file's directory runs past its end");
  std::vector<RgbaImage> images;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = &b[6 + 16 * i];
    const uint32_t bytes = readU32(e + 8), offset = readU32(e + 12);
    const std::string which = "image " + std::to_string(i + 1);
    if (uint64_t(offset) + bytes > b.size() || bytes == 0)
      throw std::runtime_error(which + " lies outside the file");
    if (isPng(&b[offset], bytes)) {
      try {
        images.push_back(decodePng(&b[offset], bytes, 256));
      } catch (const std::runtime_error& e) {
        throw std::runtime_error(which + ": " + e.what());
      }
    } else {
      images.push_back(decodeDib(&b[offset], bytes, which));
    }
  }
  return images;
}

std::vector<RgbaImage> loadIcon(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read '" + file.string() + "'");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) throw std::runtime_error("cannot read '" + file.string() + "'");
  return decodeIcon(bytes);
}

const RgbaImage& bestIconSource(const std::vector<RgbaImage>& images, uint32_t width, uint32_t height) {
  const RgbaImage* exact = nullptr;
  const RgbaImage* larger = nullptr;
  const RgbaImage* largest = nullptr;
  auto area = [](const RgbaImage* i) { return uint64_t(i->width) * i->height; };
  for (const RgbaImage& img : images) {
    if (img.width == width && img.height == height) {
      if (!exact || img.sourceBits > exact->sourceBits) exact = &img;
    } else if (img.width >= width && img.height >= height) {
      if (!larger || area(&img) < area(larger)) larger = &img;
    }
    if (!largest || area(&img) > area(largest)) largest = &img;
  }
  if (!largest) throw std::runtime_error("no icon picture");
  return exact ? *exact : larger ? *larger : *largest;
}

RgbaImage scaleImage(const RgbaImage& src, uint32_t width, uint32_t height) {
  if (src.width == width && src.height == height) return src;
  RgbaImage out;
  out.width = width;
  out.height = height;
  out.sourceBits = src.sourceBits;
  out.rgba.assign(size_t(width) * height * 4, 0);
  // The picture fitted whole: the box it fills in the target, centred.
  const double scale = std::min(double(width) / src.width, double(height) / src.height);
  const uint32_t boxW = std::max(1u, uint32_t(std::lround(src.width * scale)));
  const uint32_t boxH = std::max(1u, uint32_t(std::lround(src.height * scale)));
  const uint32_t left = (width - boxW) / 2, top = (height - boxH) / 2;
  const double fx = double(src.width) / boxW, fy = double(src.height) / boxH;
  for (uint32_t y = 0; y < boxH; ++y) {
    const double y0 = y * fy, y1 = (y + 1) * fy;
    for (uint32_t x = 0; x < boxW; ++x) {
      const double x0 = x * fx, x1 = (x + 1) * fx;
      double sum[3] = {0, 0, 0}, alpha = 0, area = 0;
      for (uint32_t sy = uint32_t(y0); sy < src.height && sy < y1; ++sy) {
        const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
        for (uint32_t sx = uint32_t(x0); sx < src.width && sx < x1; ++sx) {
          const double w = wy * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
          if (w <= 0) continue;
          const uint8_t* p = &src.rgba[(size_t(sy) * src.width + sx) * 4];
          const double a = p[3] * w;
          sum[0] += p[0] * a, sum[1] += p[1] * a, sum[2] += p[2] * a;
          alpha += a;
          area += w;
        }
      }
      uint8_t* o = &out.rgba[(size_t(top + y) * width + left + x) * 4];
      if (alpha > 0)
        for (int c = 0; c < 3; ++c) o[c] = uint8_t(std::lround(std::min(255.0, sum[c] / alpha)));
      o[3] = area > 0 ? uint8_t(std::lround(std::min(255.0, alpha / area))) : 0;
    }
  }
  return out;
}

IconImageShape iconImageShape(const std::vector<uint8_t>& e) {
  if (isPng(e.data(), e.size())) throw std::runtime_error("the engine's icon image is a PNG, which is not re-encoded");
  if (e.size() < kInfoHeader || readU32(&e[0]) != kInfoHeader)
    throw std::runtime_error("the engine's icon image has no 40-byte image header");
  const int32_t w = int32_t(readU32(&e[4])), h2 = int32_t(readU32(&e[8]));
  const uint32_t bits = readU16(&e[14]), used = readU32(&e[32]);
  if (w <= 0 || w > 256 || h2 <= 0 || h2 > 512 || h2 % 2 || readU32(&e[16]) != 0 ||
      (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32))
    throw std::runtime_error("the engine's icon image is of a kind that is not re-encoded");
  IconImageShape s{uint32_t(w), uint32_t(h2 / 2), bits, bits <= 8 ? (used ? used : 1u << bits) : used, 0};
  if (bits <= 8 && s.paletteEntries > (1u << bits))
    throw std::runtime_error("the engine's icon image has an oversized palette");
  s.bytes = kInfoHeader + size_t(s.paletteEntries) * 4 + size_t(stride(s.width, bits) + stride(s.width, 1)) * s.height;
  if (s.bytes > e.size()) throw std::runtime_error("the engine's icon image is shorter than its header says");
  return s;
}

std::vector<uint8_t> encodeIconImage(const RgbaImage& image, const std::vector<uint8_t>& engineImage) {
  const IconImageShape s = iconImageShape(engineImage);
  if (image.width != s.width || image.height != s.height)
    throw std::logic_error("the picture is not scaled to the engine image's size");
  std::vector<uint8_t> out = engineImage;  // the header (and any bytes after the mask) stay
  const uint32_t colourAt = kInfoHeader + s.paletteEntries * 4;
  const uint32_t colourStride = stride(s.width, s.bitCount), maskStride = stride(s.width, 1);
  const uint32_t maskAt = colourAt + colourStride * s.height;
  std::fill(out.begin() + kInfoHeader, out.begin() + long(s.bytes), 0);

  // The palette: black first wherever a pixel is transparent (the mask lets the screen show
  // through only where the colour bits are 0), then the picture's own colours.
  std::vector<Colour> palette;
  if (s.bitCount <= 8) {
    std::map<uint32_t, uint32_t> histogram;
    bool transparent = false;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
      const uint8_t* p = &image.rgba[i];
      if (opaque(p)) ++histogram[uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]];
      else transparent = true;
    }
    std::vector<Colour> colours;
    for (auto& [rgb, n] : histogram) colours.push_back({uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb), n});
    const size_t slots = s.paletteEntries - (transparent ? 1 : 0);
    if (transparent) palette.push_back({0, 0, 0, 0});
    if (slots) {
      std::vector<Colour> chosen = choosePalette(colours, slots);
      palette.insert(palette.end(), chosen.begin(), chosen.end());
    }
    for (size_t i = 0; i < palette.size(); ++i) {
      uint8_t* q = &out[kInfoHeader + i * 4];
      q[0] = palette[i].b, q[1] = palette[i].g, q[2] = palette[i].r;
    }
  }

  std::map<uint32_t, uint32_t> nearest;  // rgb -> palette index, for pictures with few colours
  for (uint32_t y = 0; y < s.height; ++y) {
    const uint32_t row = s.height - 1 - y;  // bottom-up
    uint8_t* line = &out[colourAt + colourStride * row];
    uint8_t* mask = &out[maskAt + maskStride * row];
    for (uint32_t x = 0; x < s.width; ++x) {
      const uint8_t* p = &image.rgba[(size_t(y) * s.width + x) * 4];
      const bool shown = opaque(p);
      if (!shown) mask[x / 8] |= uint8_t(0x80 >> (x % 8));
      if (s.bitCount <= 8) {
        if (!shown || palette.empty()) continue;  // index 0: black
        const uint32_t rgb = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        auto it = nearest.find(rgb);
        if (it == nearest.end()) {
          uint32_t best = 0, bestDistance = UINT32_MAX;
          for (uint32_t i = 0; i < palette.size(); ++i) {
            const uint32_t d = distance(p, palette[i]);
            if (d < bestDistance) bestDistance = d, best = i;
          }
          it = nearest.emplace(rgb, best).first;
        }
        const uint32_t bit = x * s.bitCount;
        line[bit / 8] |= uint8_t(it->second << (8 - s.bitCount - bit % 8));
      } else {
        uint8_t* q = line + x * (s.bitCount / 8);
        if (s.bitCount == 32) {
          // Fully transparent pixels stay 0, for systems that draw with the mask alone.
          if (p[3]) q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = p[3];
        } else if (shown) {
          q[0] = p[2], q[1] = p[1], q[2] = p[0];
        }
      }
    }
  }
  return out;
}

}  // namespace mw::packager
