// mw_pe_compact IN OUT: the linked engine with its headers in one file-alignment unit.
//
// The linker always writes a 64-byte real-mode program after the 64-byte MZ header and puts the
// PE headers at 0x80; with four section headers that takes 536 bytes, so the headers fill two
// units of 512 and the first section starts at 0x400. Nothing runs real-mode programs any more.
// This step moves the PE headers to 0x40 (e_lfanew), right after the MZ header, so the headers
// end by 0x200; the file's sections move 0x200 down and SizeOfHeaders and every section's
// PointerToRawData follow. Addresses in memory do not change, so code, imports and resources
// are untouched. The engine's link leaves its reserved locator bytes 0x200 further in for this.
//
// Refuses (exit 1, nothing written) anything it does not expect: no MZ/PE signature, a PE32
// optional header it cannot read, file data or a directory it would have to move that is
// addressed by file offset (certificates, debug data), or header bytes it would drop that are
// not zero.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

uint32_t get16(const std::vector<uint8_t>& b, size_t o) { return b[o] | (b[o + 1] << 8); }
uint32_t get32(const std::vector<uint8_t>& b, size_t o) {
  return uint32_t(b[o]) | (uint32_t(b[o + 1]) << 8) | (uint32_t(b[o + 2]) << 16) |
         (uint32_t(b[o + 3]) << 24);
}
void put32(std::vector<uint8_t>& b, size_t o, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[o + i] = uint8_t(v >> (8 * i));
}

int refuse(const std::string& why) {
  std::fprintf(stderr, "mw_pe_compact: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mw_pe_compact IN OUT\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return refuse(std::string("cannot read ") + argv[1]);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

  constexpr uint32_t kNewPeAt = 0x40;
  if (b.size() < 0x200 || get16(b, 0) != 0x5A4D) return refuse("not an MZ file");
  const uint32_t peAt = get32(b, 0x3C);
  if (peAt < kNewPeAt || peAt % 4 != 0 || peAt + 24 > b.size() || get32(b, peAt) != 0x4550)
    return refuse("no PE header");
  const uint32_t sections = get16(b, peAt + 6);
  const uint32_t optionalSize = get16(b, peAt + 20);
  const uint32_t optional = peAt + 24;
  if (optionalSize < 96 || get16(b, optional) != 0x10B) return refuse("not a PE32 image");
  const uint32_t fileAlignment = get32(b, optional + 36);
  const uint32_t headersSize = get32(b, optional + 60);
  const uint32_t directories = get32(b, optional + 92);
  // Certificates (4) and debug data (6) carry file offsets of their own.
  for (uint32_t d : {4u, 6u}) {
    if (d < directories && 96 + 8 * d + 8 <= optionalSize && get32(b, optional + 96 + 8 * d + 4))
      return refuse("a directory addressed by file offset would move");
  }
  const uint32_t tableAt = optional + optionalSize;
  const uint32_t headersEnd = tableAt + 40 * sections;
  if (headersEnd > headersSize || headersSize > b.size()) return refuse("headers do not fit");

  const uint32_t newEnd = headersEnd - (peAt - kNewPeAt);
  const uint32_t newHeadersSize = (newEnd + fileAlignment - 1) / fileAlignment * fileAlignment;
  if (newHeadersSize >= headersSize) return refuse("the headers would not shrink");
  const uint32_t shift = headersSize - newHeadersSize;
  // What the move drops must be the real-mode program (before the PE header) or padding.
  for (uint32_t o = headersEnd; o < headersSize; ++o)
    if (b[o]) return refuse("non-zero bytes after the section table");
  for (uint32_t i = 0; i < sections; ++i) {
    const uint32_t entry = tableAt + 40 * i;
    const uint32_t raw = get32(b, entry + 20);
    if (get32(b, entry + 16) && raw < headersSize) return refuse("a section's data lies in the headers");
  }

  std::vector<uint8_t> out(b.begin(), b.begin() + 0x40);
  put32(out, 0x3C, kNewPeAt);
  out.insert(out.end(), b.begin() + peAt, b.begin() + headersEnd);
  out.resize(newHeadersSize, 0);
  put32(out, kNewPeAt + 24 + 60, newHeadersSize);
  for (uint32_t i = 0; i < sections; ++i) {
    const uint32_t entry = kNewPeAt + 24 + optionalSize + 40 * i;
    if (get32(out, entry + 16)) put32(out, entry + 20, get32(out, entry + 20) - shift);
  }
  out.insert(out.end(), b.begin() + headersSize, b.end());

  // The image checksum the linker wrote covers the old bytes: the usual one's-complement sum of
  // 16-bit words (the checksum field itself counted as zero) plus the file's length.
  const uint32_t checksumAt = kNewPeAt + 24 + 64;
  put32(out, checksumAt, 0);
  uint64_t sum = 0;
  for (size_t o = 0; o < out.size(); o += 2) {
    sum += out[o] | (o + 1 < out.size() ? out[o + 1] << 8 : 0);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  put32(out, checksumAt, uint32_t(sum + out.size()));

  std::ofstream os(argv[2], std::ios::binary | std::ios::trunc);
  os.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
  if (!os.flush()) {
    os.close();
    std::remove(argv[2]);
    return refuse(std::string("cannot write ") + argv[2]);
  }
  return 0;
}
