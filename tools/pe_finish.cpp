// mw_pe_finish IN OUT: the linked engine with its resource directory entry filled in.
//
// The engine keeps its resources at the end of its data section rather than in a section of
// their own, which would end in up to 511 bytes of file padding; with three sections the
// headers also fit in 0x200 bytes. The linker fills the resource directory entry only for a
// section named .rsrc, so the link puts the resources' address and size in the first 8 bytes of
// the first section (startup/stub_win32.ld). This step enters them in the directory, clears
// the 8 bytes and corrects the image checksum. Nothing moves.
//
// Refuses (exit 1, nothing written) anything it does not expect: no MZ/PE signature, a PE32
// optional header it cannot read, a resource entry already filled, or 8 bytes that do not give
// a place inside some section's file data.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/bytes.h"

namespace {

int refuse(const std::string& why) {
  std::fprintf(stderr, "mw_pe_finish: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mw_pe_finish IN OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return refuse(std::string("cannot read ") + argv[1]);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  if (b.size() < 0x200 || mw::readU16(&b[0]) != 0x5A4D) return refuse("not an MZ file");
  const uint32_t peAt = mw::readU32(&b[0x3C]);
  if (peAt % 4 != 0 || peAt > b.size() - 24 || mw::readU32(&b[peAt]) != 0x4550) return refuse("no PE header");
  const uint32_t sections = mw::readU16(&b[peAt + 6]);
  const uint32_t optionalSize = mw::readU16(&b[peAt + 20]);
  const uint32_t optional = peAt + 24;
  const uint32_t tableAt = optional + optionalSize;
  constexpr uint32_t kResourceEntry = 96 + 8 * 2;
  // The optional header lies before the section table, so both are in the file once it is.
  if (!sections || uint64_t(tableAt) + 40 * sections > b.size()) return refuse("no section table");
  if (optionalSize < kResourceEntry + 8 || mw::readU16(&b[optional]) != 0x10B ||
      mw::readU32(&b[optional + 92]) <= 2)
    return refuse("not a PE32 image with a resource directory entry");
  if (mw::readU32(&b[optional + kResourceEntry])) return refuse("the resource entry is already filled");

  const uint32_t first = mw::readU32(&b[tableAt + 20]);
  if (mw::readU32(&b[tableAt + 16]) < 8 || first > b.size() - 8) return refuse("no first section data");
  const uint32_t rva = mw::readU32(&b[first]), size = mw::readU32(&b[first + 4]);
  bool inside = false;
  for (uint32_t i = 0; i < sections; ++i) {
    const uint32_t entry = tableAt + 40 * i;
    const uint32_t va = mw::readU32(&b[entry + 12]);
    const uint32_t used = std::min(mw::readU32(&b[entry + 8]), mw::readU32(&b[entry + 16]));
    if (rva >= va && size <= used && rva - va <= used - size) inside = true;
  }
  if (!size || !inside) return refuse("the first section's 8 bytes give no place inside a section");
  mw::writeU32(&b[optional + kResourceEntry], rva);
  mw::writeU32(&b[optional + kResourceEntry + 4], size);
  for (uint32_t o = first; o < first + 8; ++o) b[o] = 0;

  // The image checksum: the usual one's-complement sum of 16-bit words (the checksum field
  // itself counted as zero) plus the file's length.
  const uint32_t checksumAt = optional + 64;
  mw::writeU32(&b[checksumAt], 0);
  mw::writeU32(&b[checksumAt], mw::peWordSum(0, b.data(), b.size()) + uint32_t(b.size()));

  std::ofstream os(argv[2], std::ios::binary | std::ios::trunc);
  os.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  if (!os.flush()) {
    os.close();
    std::remove(argv[2]);
    return refuse(std::string("cannot write ") + argv[2]);
  }
  return 0;
}
