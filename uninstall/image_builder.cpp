#include "uninstall/image_builder.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <stdexcept>

#include "decompress/stored_writer.h"
#include "format/log_format.h"

namespace mw {
namespace {

constexpr uint32_t kImageBase = 0x400000;
constexpr uint32_t kHeadersSize = 0x400;
constexpr uint32_t kCoffOffset = kPeHeaderOffset + 4;
constexpr uint32_t kOptionalOffset = kCoffOffset + 20;
constexpr uint32_t kOptionalSize = 0xE0;
constexpr uint32_t kSectionTable = kOptionalOffset + kOptionalSize;  // 0x1B0
constexpr uint32_t kDataDirectories = kOptionalOffset + 96;
constexpr uint32_t kResourceImageBytes = kUninstallerImageSize - kResourceSectionFileOffset;

// Section-relative places of the resource tree. The order of the five data entries follows
// from the types' ids (3, 10, 14, 24); the installer patches the second and the fifth.
constexpr uint32_t kTreeDataEntries = 0x110;
constexpr uint32_t kTreeData = 0x160;

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

uint32_t get32(const Bytes& b, size_t at) {
  if (at + 4 > b.size()) fail("read past the end at " + std::to_string(at));
  return readU32(&b[at]);
}
uint16_t get16(const Bytes& b, size_t at) {
  if (at + 2 > b.size()) fail("read past the end at " + std::to_string(at));
  return readU16(&b[at]);
}
void put32(Bytes& b, size_t at, uint32_t v) { writeU32(&b[at], v); }
void put16(Bytes& b, size_t at, uint16_t v) { writeU16(&b[at], v); }

struct Section {
  std::string name;
  uint32_t rva = 0;
  uint32_t virtualSize = 0;
  Bytes data;  // the initialised bytes, at most virtualSize of them
};

std::map<std::string, Section> readSections(const Bytes& pe) {
  if (pe.size() < 0x40 || pe[0] != 'M' || pe[1] != 'Z') fail("linked program: not an MZ file");
  const uint32_t peAt = get32(pe, 0x3C);
  if (get32(pe, peAt) != 0x4550) fail("linked program: no PE signature");
  const uint16_t count = get16(pe, peAt + 6);
  const uint32_t table = peAt + 24 + get16(pe, peAt + 20);
  std::map<std::string, Section> out;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t h = table + i * 40;
    if (h + 40 > pe.size()) fail("linked program: section table cut short");
    Section s;
    s.name.assign(reinterpret_cast<const char*>(&pe[h]), strnlen(reinterpret_cast<const char*>(&pe[h]), 8));
    s.virtualSize = get32(pe, h + 8);
    s.rva = get32(pe, h + 12);
    const uint32_t raw = get32(pe, h + 16), ptr = get32(pe, h + 20);
    const uint32_t n = std::min(raw, s.virtualSize);
    if (n && uint64_t(ptr) + n > pe.size()) fail("linked program: section " + s.name + " past the end");
    s.data.assign(pe.begin() + ptr, pe.begin() + ptr + n);
    out[s.name] = std::move(s);
  }
  return out;
}

std::string cString(const Section& s, uint32_t rva) {
  if (rva < s.rva || rva >= s.rva + s.data.size()) fail("import name outside " + s.name);
  const char* p = reinterpret_cast<const char*>(&s.data[rva - s.rva]);
  const size_t n = strnlen(p, s.data.size() - (rva - s.rva));
  return std::string(p, n);
}

// Rewrites the import tables compactly: one descriptor per library without a separate lookup
// table (the loader then reads the names through the address table itself), the hint/name
// entries, the library names. Only the loader reads these, so they go into `area` (bytes of the
// resource section, at `areaRva`) behind the resources, where the image has room; the 3 KB for
// code, strings and the address table do not. The address table stays in .rdata, where the code
// refers to it and the loader may write. Returns {directory rva, size, iat rva, iat size}.
struct ImportPlacement {
  uint32_t directory, directorySize, iat, iatSize;
};

ImportPlacement rebuildImports(Section& rdata, const Section& idata, Bytes& area, uint32_t areaRva) {
  struct Library {
    std::string name;
    uint32_t firstThunk;
    std::vector<std::pair<uint16_t, std::string>> functions;  // hint, name
  };
  std::vector<Library> libraries;
  for (uint32_t at = 0;; at += 20) {
    if (at + 20 > idata.data.size()) fail("import descriptors run past .idata");
    const uint32_t name = get32(idata.data, at + 12), thunk = get32(idata.data, at + 16);
    if (!name && !thunk) break;
    Library lib{cString(idata, name), thunk, {}};
    for (uint32_t slot = thunk;; slot += 4) {
      if (slot < rdata.rva || slot + 4 > rdata.rva + rdata.data.size())
        fail("import address table of " + lib.name + " is not in .rdata");
      const uint32_t v = get32(rdata.data, slot - rdata.rva);
      if (!v) break;
      if (v & 0x80000000u) fail("import by ordinal from " + lib.name + " is not supported");
      if (v < idata.rva || v + 2 > idata.rva + idata.data.size()) fail("hint outside .idata");
      lib.functions.push_back({get16(idata.data, v - idata.rva), cString(idata, v + 2)});
    }
    libraries.push_back(std::move(lib));
  }
  if (libraries.empty()) fail("the linked program imports nothing");

  uint32_t iatStart = UINT32_MAX, iatEnd = 0;
  for (const Library& lib : libraries) {
    iatStart = std::min(iatStart, lib.firstThunk);
    iatEnd = std::max<uint32_t>(iatEnd, lib.firstThunk + 4 * uint32_t(lib.functions.size() + 1));
  }
  Bytes d;
  const uint32_t directory = areaRva;
  d.resize(20 * (libraries.size() + 1), 0);
  for (size_t i = 0; i < libraries.size(); ++i) {
    Library& lib = libraries[i];
    for (size_t f = 0; f < lib.functions.size(); ++f) {
      const uint32_t entry = areaRva + uint32_t(d.size());
      put32(rdata.data, lib.firstThunk - rdata.rva + 4 * f, entry);
      const std::string& name = lib.functions[f].second;
      d.push_back(uint8_t(lib.functions[f].first));
      d.push_back(uint8_t(lib.functions[f].first >> 8));
      d.insert(d.end(), name.begin(), name.end());
      d.push_back(0);
      if (d.size() & 1) d.push_back(0);
    }
  }
  for (size_t i = 0; i < libraries.size(); ++i) {
    const uint32_t nameRva = areaRva + uint32_t(d.size());
    d.insert(d.end(), libraries[i].name.begin(), libraries[i].name.end());
    d.push_back(0);
    const uint32_t at = 20 * uint32_t(i);
    put32(d, at + 12, nameRva);
    put32(d, at + 16, libraries[i].firstThunk);
  }
  if (d.size() > area.size())
    fail("import tables take " + std::to_string(d.size()) + " bytes; the resource section has " +
         std::to_string(area.size()) + " left");
  std::copy(d.begin(), d.end(), area.begin());
  return {directory, 20 * uint32_t(libraries.size() + 1), iatStart, iatEnd - iatStart};
}

struct IconImage {
  uint8_t width, height, colours;
  uint16_t planes, bitCount;
  Bytes data;
};

std::vector<IconImage> readIconFile(const Bytes& ico) {
  if (get16(ico, 0) != 0 || get16(ico, 2) != 1) fail("icon file: not an .ico");
  std::vector<IconImage> images;
  for (uint16_t i = 0, n = get16(ico, 4); i < n; ++i) {
    const size_t e = 6 + 16 * i;
    const uint32_t size = get32(ico, e + 8), at = get32(ico, e + 12);
    if (uint64_t(at) + size > ico.size()) fail("icon file: image past the end");
    images.push_back({ico[e], ico[e + 1], ico[e + 2], get16(ico, e + 4), get16(ico, e + 6),
                      Bytes(ico.begin() + at, ico.begin() + at + size)});
  }
  return images;
}

// The resource section's bytes inside the image (file offsets 0x1000 to 8088): the directory
// tree for the types icon (3), raw data (10), icon group (14) and manifest (24), each with one
// language-neutral entry per id; the data entries; the icon images and the group.
Bytes buildResourceSection(const std::vector<IconImage>& icons, uint32_t* used) {
  if (icons.size() != 2) fail("icon file: icon group 1 needs exactly two images");
  Bytes r(kResourceImageBytes, 0);
  auto directory = [&](uint32_t at, std::initializer_list<std::pair<uint32_t, uint32_t>> entries) {
    put16(r, at + 14, uint16_t(entries.size()));  // id entries; no named ones
    uint32_t e = at + 16;
    for (auto [id, target] : entries) {
      put32(r, e, id);
      put32(r, e + 4, target);
      e += 8;
    }
  };
  constexpr uint32_t kSub = 0x80000000u;  // the entry points at a subdirectory
  directory(0x000, {{kRtIcon, kSub | 0x030}, {kRtRcdata, kSub | 0x050},
                    {kRtGroupIcon, kSub | 0x068}, {kRtManifest, kSub | 0x080}});
  directory(0x030, {{1, kSub | 0x098}, {2, kSub | 0x0B0}});
  directory(0x050, {{1, kSub | 0x0C8}});
  directory(0x068, {{1, kSub | 0x0E0}});
  directory(0x080, {{1, kSub | 0x0F8}});
  directory(0x098, {{0, 0x110}});
  directory(0x0B0, {{0, 0x120}});
  directory(0x0C8, {{0, 0x130}});
  directory(0x0E0, {{0, 0x140}});
  directory(0x0F8, {{0, 0x150}});
  static_assert(kLogEntryOffset - kResourceSectionFileOffset == 0x130);
  static_assert(kManifestEntryOffset - kResourceSectionFileOffset == 0x150);

  auto dataEntry = [&](uint32_t at, uint32_t rva, uint32_t size) {
    put32(r, at, rva);
    put32(r, at + 4, size);
  };
  uint32_t at = kTreeData;
  auto place = [&](const Bytes& data) {
    at = roundUp(at, 4);
    if (at + data.size() > r.size()) fail("resources do not fit in the image");
    std::copy(data.begin(), data.end(), r.begin() + at);
    const uint32_t rva = at + kResourceSectionRva;
    at += uint32_t(data.size());
    return rva;
  };
  dataEntry(0x110, place(icons[0].data), uint32_t(icons[0].data.size()));
  dataEntry(0x120, place(icons[1].data), uint32_t(icons[1].data.size()));
  Bytes group(6 + 14 * icons.size(), 0);
  put16(group, 2, 1);
  put16(group, 4, uint16_t(icons.size()));
  for (size_t i = 0; i < icons.size(); ++i) {
    const size_t e = 6 + 14 * i;
    group[e] = icons[i].width;
    group[e + 1] = icons[i].height;
    group[e + 2] = icons[i].colours;
    put16(group, e + 4, icons[i].planes);
    put16(group, e + 6, icons[i].bitCount);
    put32(group, e + 8, uint32_t(icons[i].data.size()));
    put16(group, e + 12, uint16_t(i + 1));
  }
  dataEntry(0x140, place(group), uint32_t(group.size()));
  // The log right after the image, the manifest after the first 8-byte boundary behind it:
  // placeholders until the installer writes both and patches these two entries.
  dataEntry(0x130, kImageLogRva, kImageLogSize);
  dataEntry(0x150, kImageManifestRva, kManifestSize);
  *used = at;
  return r;
}

// A DOS program that says so and ends: the usual courtesy for a PE image started in DOS.
const uint8_t kDosStub[] = {
    0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09, 0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21,
    'T', 'h', 'i', 's', ' ', 'p', 'r', 'o', 'g', 'r', 'a', 'm', ' ', 'n', 'e', 'e', 'd', 's',
    ' ', 'W', 'i', 'n', 'd', 'o', 'w', 's', '.', '\r', '\r', '\n', '$'};

}  // namespace

Bytes composeUninstallerImage(const Bytes& linked, const Bytes& iconFile) {
  auto sections = readSections(linked);
  for (const auto& [name, s] : sections)
    if (name != ".text" && name != ".rdata" && name != ".data" && name != ".idata")
      fail("linked program: unexpected section " + name);
  for (const char* name : {".text", ".rdata", ".idata"})
    if (!sections.count(name)) fail(std::string("linked program: no ") + name + " section");
  Section& text = sections[".text"];
  Section& rdata = sections[".rdata"];
  Section data = sections.count(".data") ? sections[".data"] : Section{".data", 0x3000, 0, {}};
  if (text.rva != 0x1000 || rdata.rva != 0x2000 || data.rva != 0x3000)
    fail("linked program: sections not at 0x1000, 0x2000, 0x3000");
  const uint32_t peAt = get32(linked, 0x3C);
  const uint32_t entry = get32(linked, peAt + 24 + 16);
  if (get32(linked, peAt + 24 + 28) != kImageBase) fail("linked program: image base is not 0x400000");

  uint32_t resourcesUsed = 0;
  Bytes resources = buildResourceSection(readIconFile(iconFile), &resourcesUsed);
  const uint32_t importsAt = roundUp(resourcesUsed, 4);
  Bytes importArea(resources.size() - importsAt, 0);
  const ImportPlacement imports =
      rebuildImports(rdata, sections[".idata"], importArea, kResourceSectionRva + importsAt);
  std::copy(importArea.begin(), importArea.end(), resources.begin() + importsAt);
  // Zero bytes at the end of the data are left to the loader's zero fill.
  while (!data.data.empty() && data.data.back() == 0) data.data.pop_back();
  if (text.data.size() < text.virtualSize || rdata.data.size() < rdata.virtualSize)
    fail("linked program: code or read-only data has uninitialised bytes");

  struct Placed {
    const Section* s;
    const char* name;
    uint32_t characteristics;
    uint32_t rawAt, rawSize;
  };
  Placed placed[3] = {{&text, ".text", 0x60000020, 0, 0},
                      {&rdata, ".rdata", 0x40000040, 0, 0},
                      {&data, ".data", 0xC0000040, 0, 0}};
  if (data.data.empty()) placed[2].characteristics = 0xC0000080;  // uninitialised data only
  uint32_t fileAt = kHeadersSize;
  for (Placed& p : placed) {
    p.rawSize = roundUp(uint32_t(p.s->data.size()), kFileAlignment);
    p.rawAt = p.rawSize ? fileAt : 0;
    fileAt += p.rawSize;
  }
  if (fileAt > kResourceSectionFileOffset)
    fail("code, read-only data and data take " + std::to_string(fileAt - kHeadersSize) +
         " bytes; the image has room for " +
         std::to_string(kResourceSectionFileOffset - kHeadersSize) + " (.text " +
         std::to_string(text.data.size()) + ", .rdata " + std::to_string(rdata.data.size()) +
         ", .data " + std::to_string(data.data.size()) + ")");
  // The last section with file data reaches up to the resources, so no byte is unowned.
  for (int i = 2; i >= 0; --i)
    if (placed[i].rawSize) {
      placed[i].rawSize += kResourceSectionFileOffset - fileAt;
      break;
    }

  Bytes img(kUninstallerImageSize, 0);
  // DOS header and stub.
  img[0] = 'M';
  img[1] = 'Z';
  put16(img, 2, 0x90);
  put16(img, 4, 3);
  put16(img, 8, 4);
  put16(img, 0x0C, 0xFFFF);
  put16(img, 0x10, 0xB8);
  put16(img, 0x18, 0x40);
  put32(img, kLfanewOffset, kPeHeaderOffset);
  std::copy(std::begin(kDosStub), std::end(kDosStub), img.begin() + 0x40);

  // COFF header.
  put32(img, kPeHeaderOffset, 0x4550);
  put16(img, kCoffOffset, 0x14C);
  put16(img, kCoffOffset + 2, 4);
  put32(img, kCoffOffset + 4, kImageTimeDateStamp);
  put16(img, kCoffOffset + 16, kOptionalSize);
  put16(img, kCoffOffset + 18, 0x010F);  // executable, 32-bit, relocations/lines/symbols stripped

  // Optional header.
  const uint32_t o = kOptionalOffset;
  put16(img, o, 0x10B);
  put32(img, o + 4, placed[0].rawSize);                                         // SizeOfCode
  put32(img, o + 8, placed[1].rawSize + placed[2].rawSize + kImageResourceRawSize);
  put32(img, o + 16, entry);
  put32(img, o + 20, 0x1000);                                                   // BaseOfCode
  put32(img, o + 24, 0x2000);                                                   // BaseOfData
  put32(img, o + 28, kImageBase);
  put32(img, o + 32, kSectionAlignment);
  put32(img, o + 36, kFileAlignment);
  put16(img, o + 40, 4);                                                        // OS 4.0
  put16(img, o + 48, 4);                                                        // subsystem 4.0
  put32(img, o + 56, kImageSizeOfImage);
  put32(img, o + 60, kHeadersSize);
  put16(img, o + 68, 2);                                                        // GUI
  put32(img, o + 72, 0x100000);                                                 // stack reserve
  put32(img, o + 76, 0x1000);
  put32(img, o + 80, 0x100000);                                                 // heap reserve
  put32(img, o + 84, 0x1000);
  put32(img, o + 92, 16);
  put32(img, kDataDirectories + 8, imports.directory);
  put32(img, kDataDirectories + 12, imports.directorySize);
  put32(img, kResourceDirRvaOffset, kResourceSectionRva);
  put32(img, kResourceDirSizeOffset, kImageResourceSize);
  put32(img, kDataDirectories + 12 * 8, imports.iat);
  put32(img, kDataDirectories + 12 * 8 + 4, imports.iatSize);

  // Section table and section data.
  for (int i = 0; i < 3; ++i) {
    const uint32_t h = kSectionTable + 40 * i;
    std::memcpy(&img[h], placed[i].name, std::strlen(placed[i].name));
    put32(img, h + 8, std::max<uint32_t>(placed[i].s->virtualSize, uint32_t(placed[i].s->data.size())));
    put32(img, h + 12, placed[i].s->rva);
    put32(img, h + 16, placed[i].rawSize);
    put32(img, h + 20, placed[i].rawAt);
    put32(img, h + 36, placed[i].characteristics);
    std::copy(placed[i].s->data.begin(), placed[i].s->data.end(), img.begin() + placed[i].rawAt);
  }
  static_assert(kSectionTable + 3 * 40 == kResourceSectionHeader);
  std::memcpy(&img[kResourceSectionHeader], ".rsrc", 5);
  put32(img, kResourceVirtualSizeOffset, kImageResourceSize);
  put32(img, kResourceVirtualAddressOffset, kResourceSectionRva);
  put32(img, kResourceRawSizeOffset, kImageResourceRawSize);
  put32(img, kResourceRawPointerOffset, kResourceSectionFileOffset);
  put32(img, kResourceSectionHeader + 36, 0xC0000040);  // initialised data, read, write

  std::copy(resources.begin(), resources.end(), img.begin() + kResourceSectionFileOffset);
  return img;
}

size_t storedStreamSize(const Bytes& image) {
  return writeStoredStream(image.data(), image.size()).size();
}

std::vector<std::string> checkUninstallerImage(const Bytes& img) {
  std::vector<std::string> problems;
  auto expect = [&](const char* what, uint64_t actual, uint64_t wanted) {
    if (actual != wanted) {
      char line[160];
      std::snprintf(line, sizeof line, "%s is 0x%llX, must be 0x%llX", what,
                    static_cast<unsigned long long>(actual), static_cast<unsigned long long>(wanted));
      problems.push_back(line);
    }
  };
  expect("file size", img.size(), kUninstallerImageSize);
  if (img.size() != kUninstallerImageSize) return problems;

  expect("MZ signature", get16(img, 0), 0x5A4D);
  expect("e_lfanew", get32(img, kLfanewOffset), kPeHeaderOffset);
  expect("PE signature", get32(img, kPeHeaderOffset), 0x4550);
  expect("Machine", get16(img, kCoffOffset), 0x14C);
  expect("NumberOfSections", get16(img, kCoffOffset + 2), 4);
  expect("TimeDateStamp", get32(img, kTimeDateStampOffset), kImageTimeDateStamp);
  expect("SizeOfOptionalHeader", get16(img, kCoffOffset + 16), kOptionalSize);
  expect("relocations stripped", get16(img, kCoffOffset + 18) & 1, 1);
  expect("optional header magic", get16(img, kOptionalOffset), 0x10B);
  expect("ImageBase", get32(img, kOptionalOffset + 28), kImageBase);
  expect("FileAlignment", get32(img, kOptionalOffset + 36), kFileAlignment);
  expect("SizeOfImage", get32(img, kSizeOfImageOffset), kImageSizeOfImage);
  expect("SizeOfHeaders", get32(img, kOptionalOffset + 60), kHeadersSize);
  expect("Subsystem (GUI)", get16(img, kOptionalOffset + 68), 2);
  expect("CheckSum", get32(img, kOptionalOffset + 64), 0);
  expect("resource directory address", get32(img, kResourceDirRvaOffset), kResourceSectionRva);
  expect("resource directory Size", get32(img, kResourceDirSizeOffset), kImageResourceSize);
  expect("relocation directory", get32(img, kDataDirectories + 5 * 8), 0);

  // Sections 1 to 3 between the headers and the resources; the fourth is the resources.
  for (int i = 0; i < 3; ++i) {
    const uint32_t h = kSectionTable + 40 * i, raw = get32(img, h + 16), at = get32(img, h + 20);
    if (raw && (at < kHeadersSize || at + raw > kResourceSectionFileOffset))
      problems.push_back("section " + std::to_string(i + 1) + " has file data outside 0x400..0x1000");
    if (get32(img, h + 12) + get32(img, h + 8) > kResourceSectionRva)
      problems.push_back("section " + std::to_string(i + 1) + " reaches into the resources' addresses");
  }
  expect("resource section name", get32(img, kResourceSectionHeader), 0x7273722E);  // ".rsr"
  expect("resource VirtualSize", get32(img, kResourceVirtualSizeOffset), kImageResourceSize);
  expect("resource VirtualAddress", get32(img, kResourceVirtualAddressOffset), kResourceSectionRva);
  expect("resource SizeOfRawData", get32(img, kResourceRawSizeOffset), kImageResourceRawSize);
  expect("resource PointerToRawData", get32(img, kResourceRawPointerOffset), kResourceSectionFileOffset);
  expect("resource section readable and writable",
         get32(img, kResourceSectionHeader + 36) & 0xC0000000u, 0xC0000000u);

  // The resource tree: find type/id, first language, and the file offset of its data entry.
  const uint32_t base = kResourceSectionFileOffset;
  auto find = [&](uint32_t dir, uint32_t id) -> uint32_t {
    const uint32_t named = get16(img, base + dir + 12), ids = get16(img, base + dir + 14);
    for (uint32_t e = 0; e < named + ids; ++e) {
      const uint32_t at = base + dir + 16 + 8 * e;
      if (get32(img, at) == id) return get32(img, at + 4);
    }
    return UINT32_MAX;
  };
  auto dataEntryOf = [&](uint32_t type, uint32_t id) -> uint32_t {
    const uint32_t t = find(0, type);
    if (!(t & 0x80000000u) || t == UINT32_MAX) return 0;
    const uint32_t n = find(t & 0x7FFFFFFF, id);
    if (!(n & 0x80000000u) || n == UINT32_MAX) return 0;
    const uint32_t langDir = n & 0x7FFFFFFF;
    if (get16(img, base + langDir + 12) + get16(img, base + langDir + 14) == 0) return 0;
    const uint32_t leaf = get32(img, base + langDir + 20);
    return leaf & 0x80000000u ? 0 : base + leaf;
  };
  expect("raw-data resource 1: entry offset", dataEntryOf(kRtRcdata, 1), kLogEntryOffset);
  expect("raw-data resource 1: OffsetToData", get32(img, kLogEntryOffset), kImageLogRva);
  expect("raw-data resource 1: Size", get32(img, kLogSizeOffset), kImageLogSize);
  expect("manifest resource 1: entry offset", dataEntryOf(kRtManifest, 1), kManifestEntryOffset);
  expect("manifest resource 1: OffsetToData", get32(img, kManifestEntryOffset), kImageManifestRva);
  expect("manifest resource 1: Size", get32(img, kManifestSizeOffset), kManifestSize);

  const uint32_t groupEntry = dataEntryOf(kRtGroupIcon, 1);
  if (!groupEntry) {
    problems.push_back("no icon group 1");
  } else {
    const uint32_t g = get32(img, groupEntry) - kResourceRvaDelta;
    if (g + 6 > img.size()) {
      problems.push_back("icon group 1 lies outside the image");
    } else {
      expect("icon group 1: image count", get16(img, g + 4), 2);
      const uint32_t sizes[2] = {48, 32};
      for (uint32_t i = 0; i < 2 && i < get16(img, g + 4); ++i) {
        const uint32_t e = g + 6 + 14 * i;
        const uint32_t iconEntry = dataEntryOf(kRtIcon, get16(img, e + 12));
        if (!iconEntry) {
          problems.push_back("icon group 1: image " + std::to_string(i + 1) + " missing");
          continue;
        }
        const uint32_t at = get32(img, iconEntry) - kResourceRvaDelta;
        expect("icon image size matches its group entry", get32(img, iconEntry + 4), get32(img, e + 8));
        expect("icon image width", get32(img, at + 4), sizes[i]);
        expect("icon image height (colour and mask)", get32(img, at + 8), 2 * sizes[i]);
        expect("icon image bits per pixel", get16(img, at + 14), 4);
      }
    }
  }

  const size_t stored = storedStreamSize(img);
  if (stored > kUninstallerBlobBody)
    problems.push_back("stored stream is " + std::to_string(stored) + " bytes; the blob body holds " +
                       std::to_string(kUninstallerBlobBody));
  return problems;
}

Bytes makeUninstallFile(const Bytes& image, const Bytes& log, const Bytes& manifest,
                        uint32_t timeStamp) {
  if (image.size() != kUninstallerImageSize || manifest.size() < kManifestSize)
    fail("makeUninstallFile: image or manifest has the wrong size");
  const UninstallLayout l = uninstallLayout(uint32_t(log.size()));
  Bytes file(image);
  file.insert(file.end(), log.begin(), log.end());
  file.resize(l.manifestAt, 0);
  file.insert(file.end(), manifest.begin(), manifest.begin() + kManifestSize);
  file.resize(l.fileSize, 0);
  patchUninstallHeader(file.data(), uint32_t(file.size()), uint32_t(log.size()), timeStamp);
  return file;
}

}  // namespace mw
