#include "packager/pe_resources.h"

#include <set>
#include <stdexcept>

#include "core/bytes.h"
#include "packager/icon.h"

namespace mw::packager {
namespace {

std::runtime_error bad(const std::string& why) { return std::runtime_error("the engine's resources: " + why); }

struct Section {
  uint32_t address, virtualSize, rawAt, rawSize;
};

struct Image {
  const std::vector<uint8_t>& b;
  std::vector<Section> sections;
  uint32_t resourceAddress = 0, resourceSize = 0;

  // The file offset of `length` bytes at `address`, when they lie in one section's file data.
  bool at(uint32_t address, uint32_t length, uint32_t& offset) const {
    for (const Section& s : sections) {
      const uint32_t span = s.virtualSize ? std::min(s.virtualSize, s.rawSize) : s.rawSize;
      if (address < s.address || address - s.address > span || length > span - (address - s.address)) continue;
      offset = s.rawAt + (address - s.address);
      return uint64_t(offset) + length <= b.size();
    }
    return false;
  }
};

// The headers of a PE32 image, or false when the bytes are no PE image at all.
bool readHeaders(Image& img) {
  const std::vector<uint8_t>& b = img.b;
  if (b.size() < 0x40 || readU16(&b[0]) != 0x5A4D) return false;
  const uint32_t pe = readU32(&b[0x3C]);
  if (pe < 0x40 || uint64_t(pe) + 24 > b.size() || readU32(&b[pe]) != 0x4550) return false;
  const uint32_t count = readU16(&b[pe + 6]), optionalSize = readU16(&b[pe + 20]);
  const uint32_t optional = pe + 24, table = optional + optionalSize;
  if (optionalSize < 96 + 8 * 3 || uint64_t(table) + 40ull * count > b.size() || readU16(&b[optional]) != 0x10B)
    throw bad("not a PE32 image this packager can read");
  if (readU32(&b[optional + 92]) > 2) {
    img.resourceAddress = readU32(&b[optional + 96 + 16]);
    img.resourceSize = readU32(&b[optional + 96 + 20]);
  }
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* s = &b[table + 40 * i];
    img.sections.push_back({readU32(s + 12), readU32(s + 8), readU32(s + 20), readU32(s + 16)});
  }
  return true;
}

// An entry's name or id: ids only (named entries are skipped by the caller).
bool isNamed(uint32_t name) { return name & 0x80000000u; }

std::string utf8ToUtf16(const std::string& s) {
  std::string out;  // little-endian UTF-16 code units as bytes
  auto unit = [&](uint32_t u) {
    out.push_back(char(u & 0xFF));
    out.push_back(char(u >> 8));
  };
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = uint8_t(s[i]);
    uint32_t cp = c, extra = 0;
    if (c >= 0xF0) cp = c & 0x07, extra = 3;
    else if (c >= 0xE0) cp = c & 0x0F, extra = 2;
    else if (c >= 0xC0) cp = c & 0x1F, extra = 1;
    ++i;
    for (uint32_t k = 0; k < extra && i < s.size(); ++k, ++i) cp = cp << 6 | (uint8_t(s[i]) & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(0xD800 | (cp >> 10));
      unit(0xDC00 | (cp & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// One node of a version resource: [u16 length][u16 value length][u16 type][key, UTF-16,
// NUL][padding to 4][value][padding to 4][children]. The value length counts UTF-16 units
// for texts (the NUL included) and bytes for binary values.
struct VersionNode {
  std::string key;
  std::vector<uint8_t> value;
  bool text = false;
  std::vector<VersionNode> children;
};

void pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

void writeNode(const VersionNode& n, std::vector<uint8_t>& out) {
  pad4(out);
  const size_t start = out.size();
  out.resize(start + 6, 0);
  const std::string key = utf8ToUtf16(n.key);
  out.insert(out.end(), key.begin(), key.end());
  out.push_back(0), out.push_back(0);
  pad4(out);
  out.insert(out.end(), n.value.begin(), n.value.end());
  for (const VersionNode& c : n.children) writeNode(c, out);
  writeU16(&out[start], uint16_t(out.size() - start));
  writeU16(&out[start + 2], uint16_t(n.text ? n.value.size() / 2 : n.value.size()));
  writeU16(&out[start + 4], n.text ? 1 : 0);
}

VersionNode textValue(const std::string& key, const std::string& value) {
  VersionNode n{key, {}, true, {}};
  const std::string units = utf8ToUtf16(value);
  n.value.assign(units.begin(), units.end());
  n.value.push_back(0), n.value.push_back(0);
  return n;
}

}  // namespace

std::vector<ResourceEntry> readResources(const std::vector<uint8_t>& b) {
  Image img{b, {}, 0, 0};
  if (!readHeaders(img) || !img.resourceAddress || !img.resourceSize) return {};
  uint32_t root;
  if (!img.at(img.resourceAddress, img.resourceSize, root)) throw bad("the resource directory lies outside the file");
  const uint32_t size = img.resourceSize;
  std::vector<ResourceEntry> out;
  std::set<uint32_t> seen;  // directories already read: a directory pointing back is refused

  // Reads the directory at `offset` (from the resource section's start) at `level` 0 (types),
  // 1 (ids) or 2 (languages).
  auto directory = [&](auto& self, uint32_t offset, int level, ResourceEntry path) -> void {
    if (uint64_t(offset) + 16 > size || !seen.insert(offset).second) throw bad("a directory lies outside it or loops");
    const uint32_t entries = uint32_t(readU16(&b[root + offset + 12])) + readU16(&b[root + offset + 14]);
    if (uint64_t(offset) + 16 + 8ull * entries > size) throw bad("a directory's entries run past its end");
    for (uint32_t i = 0; i < entries; ++i) {
      const uint8_t* e = &b[root + offset + 16 + 8 * i];
      const uint32_t name = readU32(e), target = readU32(e + 4);
      if (isNamed(name)) continue;
      ResourceEntry here = path;
      (level == 0 ? here.type : level == 1 ? here.id : here.language) = name;
      const bool isDirectory = target & 0x80000000u;
      if (level < 2) {
        if (!isDirectory) throw bad("a leaf where a directory belongs");
        self(self, target & 0x7FFFFFFFu, level + 1, here);
        continue;
      }
      if (isDirectory || uint64_t(target) + 16 > size) throw bad("a data entry lies outside it");
      here.entryAt = root + target;
      here.size = readU32(&b[here.entryAt + 4]);
      if (!img.at(readU32(&b[here.entryAt]), here.size, here.dataAt)) throw bad("a resource's data lies outside the file");
      out.push_back(here);
    }
  };
  directory(directory, 0, 0, ResourceEntry{});
  return out;
}

std::vector<uint8_t> versionResource(const ProductIdentity& id) {
  std::vector<uint8_t> fixed(52, 0);
  writeU32(&fixed[0], 0xFEEF04BD);  // the fixed part's signature
  writeU32(&fixed[4], 0x00010000);  // its layout's version
  const uint32_t ms = uint32_t(id.fileVersion[0]) << 16 | id.fileVersion[1];
  const uint32_t ls = uint32_t(id.fileVersion[2]) << 16 | id.fileVersion[3];
  writeU32(&fixed[8], ms), writeU32(&fixed[12], ls);   // file version
  writeU32(&fixed[16], ms), writeU32(&fixed[20], ls);  // product version
  writeU32(&fixed[24], 0x3F);                          // every flag is meaningful: none is set
  writeU32(&fixed[32], 0x00040004);                    // for 32-bit Windows
  writeU32(&fixed[36], 1);                             // an application

  VersionNode table{"040904B0", {}, true, {}};  // US English, Unicode
  auto add = [&](const char* key, const std::string& value, bool always) {
    if (always || !value.empty()) table.children.push_back(textValue(key, value));
  };
  add("CompanyName", id.publisher, false);
  add("FileDescription", id.description, true);
  add("FileVersion", id.version, false);
  add("LegalCopyright", id.copyright, false);
  add("ProductName", id.name, true);
  add("ProductVersion", id.version, false);

  VersionNode translation{"Translation", {0x09, 0x04, 0xB0, 0x04}, false, {}};
  VersionNode root{"VS_VERSION_INFO", fixed, false,
                   {VersionNode{"StringFileInfo", {}, true, {table}},
                    VersionNode{"VarFileInfo", {}, true, {translation}}}};
  std::vector<uint8_t> out;
  writeNode(root, out);
  return out;
}

void applyProductIdentity(std::vector<uint8_t>& stub, const ProductIdentity& id) {
  const std::vector<ResourceEntry> resources = readResources(stub);
  auto find = [&](uint32_t type, uint32_t number) -> const ResourceEntry* {
    for (const ResourceEntry& r : resources)
      if (r.type == type && r.id == number) return &r;
    return nullptr;
  };
  const bool asksForTexts = !id.version.empty() || !id.publisher.empty() || !id.copyright.empty();

  const ResourceEntry* version = find(kResourceVersion, 1);
  if (version) {
    const std::vector<uint8_t> block = versionResource(id);
    if (block.size() > version->size)
      throw std::runtime_error("the version texts (product name, version, publisher, description, copyright) take " +
                               std::to_string(block.size()) + " bytes in the version resource; the engine holds " +
                               std::to_string(version->size) + ": shorten them");
    std::copy(block.begin(), block.end(), stub.begin() + version->dataAt);
    std::fill(stub.begin() + version->dataAt + long(block.size()), stub.begin() + version->dataAt + version->size, 0);
    writeU32(&stub[version->entryAt + 4], uint32_t(block.size()));
  } else if (asksForTexts) {
    throw std::runtime_error("the engine holds no version resource to fill");
  }

  if (id.icon.empty()) return;
  const ResourceEntry* group = find(kResourceIconGroup, 1);
  if (!group) throw std::runtime_error("the engine holds no icon group 1 to replace");
  const uint8_t* g = &stub[group->dataAt];
  if (group->size < 6 || 6 + 14ull * readU16(g + 4) > group->size) throw bad("icon group 1 is damaged");
  for (uint32_t i = 0, n = readU16(g + 4); i < n; ++i) {
    const uint32_t number = readU16(g + 6 + 14 * i + 12);
    const ResourceEntry* icon = find(kResourceIcon, number);
    if (!icon) throw bad("icon group 1 names icon " + std::to_string(number) + ", which is missing");
    std::vector<uint8_t> engineImage(stub.begin() + icon->dataAt, stub.begin() + icon->dataAt + icon->size);
    const IconImageShape shape = iconImageShape(engineImage);
    const RgbaImage picture = scaleImage(bestIconSource(id.icon, shape.width, shape.height), shape.width, shape.height);
    const std::vector<uint8_t> encoded = encodeIconImage(picture, engineImage);
    std::copy(encoded.begin(), encoded.end(), stub.begin() + icon->dataAt);
  }
}

}  // namespace mw::packager
