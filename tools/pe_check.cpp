// mw_pe_check: looks over a finished 32-bit Windows image before anybody ships it.
//
// The engine's programs are linked without a C runtime by hand-tuned link steps, so the build
// checks what a loader would refuse or what the installer format relies on:
//   - the headers and the section table are sound (signatures, machine, alignment, every
//     section's file data inside the file, addresses ascending, SizeOfImage, entry point in code);
//   - every data directory lies inside a section;
//   - the image imports only from the DLLs allowed (--allow-dll a.dll,b.dll);
//   - reserved file ranges (--reserve OFFSET:LENGTH) are zero and belong to no header, data
//     directory or section other than the reservation's own (--reserve-section, default .mwloc);
//   - named resources exist in language 1033, with an exact size when one is given
//     (--resource TYPE:ID[:SIZE]);
//   - the file's size is within --min-size / --max-size.
// Prints a short summary (size, sections, imports) and exits 1 with a message per fault.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Section {
  std::string name;
  uint32_t virtualSize, virtualAddress, rawSize, rawStart, characteristics;
};

struct Reserve {
  uint32_t offset, length;
};

struct ResourceWant {
  uint32_t type, id;
  int64_t size;  // -1: any
};

int faults = 0;

void fault(const std::string& what) {
  std::fprintf(stderr, "mw_pe_check: %s\n", what.c_str());
  ++faults;
}

class Image {
 public:
  explicit Image(std::vector<uint8_t> bytes) : b_(std::move(bytes)) {}
  size_t size() const { return b_.size(); }
  bool has(uint64_t offset, uint64_t length) const { return offset + length <= b_.size(); }
  uint32_t u16(uint64_t o) const { return has(o, 2) ? b_[o] | (b_[o + 1] << 8) : 0; }
  uint32_t u32(uint64_t o) const {
    return has(o, 4) ? uint32_t(b_[o]) | (uint32_t(b_[o + 1]) << 8) | (uint32_t(b_[o + 2]) << 16) |
                           (uint32_t(b_[o + 3]) << 24)
                     : 0;
  }
  uint8_t at(uint64_t o) const { return has(o, 1) ? b_[o] : 0; }
  std::string cstring(uint64_t o, size_t max = 256) const {
    std::string s;
    while (has(o, 1) && b_[o] && s.size() < max) s.push_back(char(b_[o++]));
    return s;
  }

 private:
  std::vector<uint8_t> b_;
};

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(sep, start);
    if (end == std::string::npos) end = s.size();
    out.push_back(s.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

int usage() {
  std::fprintf(stderr,
               "usage: mw_pe_check [--gui] [--min-size N] [--max-size N] [--reserve OFFSET:LENGTH]...\n"
               "                   [--reserve-section NAME] [--allow-dll a.dll,b.dll]\n"
               "                   [--resource TYPE:ID[:SIZE]]... IMAGE\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool gui = false;
  uint64_t minSize = 0, maxSize = UINT64_MAX;
  std::vector<Reserve> reserves;
  std::string reserveSection = ".mwloc";
  std::vector<std::string> allowed;
  std::vector<ResourceWant> resources;
  std::string path;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "mw_pe_check: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--gui") {
      gui = true;
    } else if (a == "--min-size") {
      minSize = std::stoull(value());
    } else if (a == "--max-size") {
      maxSize = std::stoull(value());
    } else if (a == "--reserve") {
      auto parts = split(value(), ':');
      if (parts.size() != 2) return usage();
      reserves.push_back({uint32_t(std::stoul(parts[0], nullptr, 0)), uint32_t(std::stoul(parts[1], nullptr, 0))});
    } else if (a == "--reserve-section") {
      reserveSection = value();
    } else if (a == "--allow-dll") {
      for (auto& d : split(value(), ',')) allowed.push_back(lower(d));
    } else if (a == "--resource") {
      auto parts = split(value(), ':');
      if (parts.size() < 2 || parts.size() > 3) return usage();
      resources.push_back({uint32_t(std::stoul(parts[0])), uint32_t(std::stoul(parts[1])),
                           parts.size() == 3 ? int64_t(std::stoll(parts[2])) : -1});
    } else if (!a.empty() && a[0] == '-') {
      return usage();
    } else {
      path = a;
    }
  }
  if (path.empty()) return usage();

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "mw_pe_check: cannot open %s\n", path.c_str());
    return 1;
  }
  Image img(std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  const std::string where = path + ": ";

  if (img.size() < minSize) fault(where + "file is " + std::to_string(img.size()) + " bytes, at least " + std::to_string(minSize) + " needed");
  if (img.size() > maxSize) fault(where + "file is " + std::to_string(img.size()) + " bytes, more than " + std::to_string(maxSize));

  // Headers.
  if (img.u16(0) != 0x5A4D) {
    fault(where + "no MZ signature");
    return 1;
  }
  const uint32_t pe = img.u32(0x3C);
  if (!img.has(pe, 24) || img.u32(pe) != 0x00004550) {
    fault(where + "no PE signature at e_lfanew");
    return 1;
  }
  if (img.u16(pe + 4) != 0x14C) fault(where + "machine is not i386");
  const uint32_t sectionCount = img.u16(pe + 6);
  const uint32_t optionalSize = img.u16(pe + 20);
  const uint32_t opt = pe + 24;
  if (img.u16(opt) != 0x10B) fault(where + "optional header is not PE32");
  const uint32_t entry = img.u32(opt + 16);
  const uint32_t sectionAlignment = img.u32(opt + 32);
  const uint32_t fileAlignment = img.u32(opt + 36);
  const uint32_t sizeOfImage = img.u32(opt + 56);
  const uint32_t sizeOfHeaders = img.u32(opt + 60);
  const uint32_t subsystem = img.u16(opt + 68);
  const uint32_t directoryCount = img.u32(opt + 92);
  if (gui && subsystem != 2) fault(where + "subsystem is " + std::to_string(subsystem) + ", not GUI (2)");
  if (fileAlignment == 0 || sectionAlignment == 0 || (fileAlignment & (fileAlignment - 1)) ||
      (sectionAlignment & (sectionAlignment - 1)) || sectionAlignment < fileAlignment) {
    fault(where + "bad alignment values");
    return 1;
  }
  const uint32_t table = opt + optionalSize;
  if (!img.has(table, 40ull * sectionCount) || table + 40 * sectionCount > sizeOfHeaders)
    fault(where + "section table does not fit the headers");
  if (sizeOfHeaders > img.size()) fault(where + "SizeOfHeaders beyond the file");

  std::vector<Section> sections;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    const uint32_t s = table + 40 * i;
    Section sec;
    for (int k = 0; k < 8 && img.at(s + k); ++k) sec.name.push_back(char(img.at(s + k)));
    sec.virtualSize = img.u32(s + 8);
    sec.virtualAddress = img.u32(s + 12);
    sec.rawSize = img.u32(s + 16);
    sec.rawStart = img.u32(s + 20);
    sec.characteristics = img.u32(s + 36);
    sections.push_back(sec);
  }

  uint32_t expectedVa = (sizeOfHeaders + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
  for (const Section& s : sections) {
    const std::string n = where + "section " + s.name + ": ";
    if (s.virtualAddress != expectedVa) fault(n + "virtual address not contiguous with the one before");
    const uint32_t span = std::max(s.virtualSize, s.rawSize);
    expectedVa = s.virtualAddress + (span + sectionAlignment - 1) / sectionAlignment * sectionAlignment;
    if (s.rawSize) {
      if (s.rawStart % fileAlignment || s.rawSize % fileAlignment) fault(n + "raw data not file-aligned");
      if (uint64_t(s.rawStart) + s.rawSize > img.size()) fault(n + "raw data runs past the end of the file");
      if (s.rawStart < sizeOfHeaders) fault(n + "raw data overlaps the headers");
    }
  }
  if (sizeOfImage != expectedVa) fault(where + "SizeOfImage " + std::to_string(sizeOfImage) + " does not match the sections (" + std::to_string(expectedVa) + ")");
  for (size_t i = 0; i < sections.size(); ++i)
    for (size_t j = i + 1; j < sections.size(); ++j) {
      const Section &a = sections[i], &b = sections[j];
      if (a.rawSize && b.rawSize && a.rawStart < b.rawStart + b.rawSize && b.rawStart < a.rawStart + a.rawSize)
        fault(where + "sections " + a.name + " and " + b.name + " share file bytes");
    }

  auto sectionOf = [&](uint32_t rva) -> const Section* {
    for (const Section& s : sections)
      if (rva >= s.virtualAddress && rva < s.virtualAddress + std::max(s.virtualSize, s.rawSize)) return &s;
    return nullptr;
  };
  auto fileOffset = [&](uint32_t rva) -> int64_t {
    const Section* s = sectionOf(rva);
    if (!s || rva - s->virtualAddress >= s->rawSize) return -1;
    return int64_t(s->rawStart) + (rva - s->virtualAddress);
  };

  const Section* entrySection = sectionOf(entry);
  if (!entrySection || !(entrySection->characteristics & 0x20000000))
    fault(where + "entry point is not in an executable section");

  // Data directories.
  struct Range { uint32_t rva, size; };
  std::vector<Range> directories;
  for (uint32_t d = 0; d < std::min<uint32_t>(directoryCount, 16); ++d) {
    const uint32_t rva = img.u32(opt + 96 + 8 * d), size = img.u32(opt + 100 + 8 * d);
    if (!rva && !size) continue;
    directories.push_back({rva, size});
    const Section* s = sectionOf(rva);
    if (!s || rva + size > s->virtualAddress + std::max(s->virtualSize, s->rawSize))
      fault(where + "data directory " + std::to_string(d) + " lies outside the sections");
  }

  // Imports.
  std::vector<std::string> dlls;
  const uint32_t importRva = img.u32(opt + 96 + 8);
  if (importRva) {
    for (uint32_t k = 0;; ++k) {
      const int64_t desc = fileOffset(importRva + 20 * k);
      if (desc < 0 || !img.has(desc, 20)) {
        fault(where + "import directory runs off its section");
        break;
      }
      const uint32_t nameRva = img.u32(desc + 12), lookup = img.u32(desc), iat = img.u32(desc + 16);
      if (!nameRva && !lookup && !iat) break;
      const int64_t nameAt = fileOffset(nameRva);
      std::string dll = nameAt < 0 ? std::string("?") : img.cstring(nameAt);
      uint32_t functions = 0;
      int64_t thunk = fileOffset(lookup ? lookup : iat);
      while (thunk >= 0 && img.has(thunk, 4) && img.u32(thunk)) {
        ++functions;
        thunk += 4;
      }
      dlls.push_back(dll + " (" + std::to_string(functions) + ")");
      if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), lower(dll)) == allowed.end())
        fault(where + "imports from " + dll + ", which is not an allowed system DLL");
    }
  }

  // Reserved ranges.
  for (const Reserve& r : reserves) {
    const std::string n = where + "reserved bytes " + std::to_string(r.offset) + ".." + std::to_string(r.offset + r.length - 1) + ": ";
    if (!img.has(r.offset, r.length)) {
      fault(n + "beyond the end of the file");
      continue;
    }
    for (uint32_t k = 0; k < r.length; ++k)
      if (img.at(r.offset + k)) {
        fault(n + "not zero in the image as built");
        break;
      }
    if (r.offset < sizeOfHeaders) fault(n + "inside the headers");
    for (const Section& s : sections) {
      const uint32_t used = std::min(s.virtualSize, s.rawSize);
      if (!used || s.name == reserveSection) continue;
      if (r.offset < s.rawStart + used && s.rawStart < r.offset + r.length)
        fault(n + "inside the data of section " + s.name);
    }
    for (const Range& d : directories) {
      const int64_t start = fileOffset(d.rva);
      if (start >= 0 && r.offset < start + d.size && start < r.offset + r.length)
        fault(n + "inside a data directory");
    }
  }

  // Resources: type -> id -> language, each level a directory of 16-byte header + 8-byte entries.
  const uint32_t resourceRva = img.u32(opt + 96 + 8 * 2);
  const int64_t root = resourceRva ? fileOffset(resourceRva) : -1;
  auto findEntry = [&](int64_t dir, uint32_t id, bool& isDir) -> int64_t {
    if (dir < 0 || !img.has(dir, 16)) return -1;
    const uint32_t named = img.u16(dir + 12), ids = img.u16(dir + 14);
    for (uint32_t k = 0; k < named + ids; ++k) {
      const int64_t e = dir + 16 + 8 * k;
      if (img.u32(e) != id) continue;
      const uint32_t off = img.u32(e + 4);
      isDir = off & 0x80000000u;
      return root + (off & 0x7FFFFFFFu);
    }
    return -1;
  };
  for (const ResourceWant& want : resources) {
    const std::string n = where + "resource type " + std::to_string(want.type) + " id " + std::to_string(want.id) + ": ";
    bool isDir = false;
    const int64_t typeDir = findEntry(root, want.type, isDir);
    if (typeDir < 0 || !isDir) {
      fault(n + "missing");
      continue;
    }
    const int64_t idDir = findEntry(typeDir, want.id, isDir);
    if (idDir < 0 || !isDir) {
      fault(n + "missing");
      continue;
    }
    const int64_t data = findEntry(idDir, 1033, isDir);
    if (data < 0 || isDir) {
      fault(n + "not in language 1033");
      continue;
    }
    const uint32_t size = img.u32(data + 4);
    if (fileOffset(img.u32(data)) < 0) fault(n + "data outside the file");
    if (want.size >= 0 && size != uint64_t(want.size))
      fault(n + "is " + std::to_string(size) + " bytes, " + std::to_string(want.size) + " expected");
  }

  std::printf("%s: %zu bytes;", path.c_str(), img.size());
  for (const Section& s : sections) std::printf(" %s@%u+%u", s.name.c_str(), s.rawStart, s.rawSize);
  std::printf("; imports:");
  for (const std::string& d : dlls) std::printf(" %s", d.c_str());
  std::printf("\n");
  return faults ? 1 : 0;
}
