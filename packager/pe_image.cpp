#include "packager/pe_image.h"

#include <vector>

#include "core/bytes.h"
#include "packager/output_file.h"

namespace mw::packager {
namespace {

constexpr uint32_t kPe32Magic = 0x10B;
constexpr uint32_t kChecksumField = 64;        // in the optional header
constexpr uint32_t kDataDirectories = 96;      // PE32: the first data directory entry
constexpr uint32_t kSecurityEntry = 4;         // the certificate table's entry

}  // namespace

std::optional<PeHeaders> readPeHeaders(const ByteReader& read, uint64_t fileSize) {
  uint8_t dos[64];
  if (fileSize < sizeof dos || !read(0, dos, sizeof dos) || readU16(dos) != 0x5A4D) return std::nullopt;
  const uint32_t peAt = readU32(dos + 0x3C);
  uint8_t head[24 + kDataDirectories + 8 * (kSecurityEntry + 1)];
  if (uint64_t(peAt) + sizeof head > fileSize || !read(peAt, head, sizeof head)) return std::nullopt;
  if (readU32(head) != 0x4550) return std::nullopt;
  const uint8_t* optional = head + 24;
  const uint32_t optionalSize = readU16(head + 20);
  if (readU16(optional) != kPe32Magic || optionalSize < kDataDirectories + 8 * (kSecurityEntry + 1) ||
      readU32(optional + 92) <= kSecurityEntry)
    return std::nullopt;
  PeHeaders h;
  h.checksumOffset = peAt + 24 + kChecksumField;
  h.checksum = readU32(optional + kChecksumField);
  h.certificateOffset = readU32(optional + kDataDirectories + 8 * kSecurityEntry);
  h.certificateSize = readU32(optional + kDataDirectories + 8 * kSecurityEntry + 4);
  return h;
}

uint32_t peChecksum(const ByteReader& read, uint64_t fileSize, uint32_t checksumOffset) {
  std::vector<uint8_t> buffer(1 << 20);
  uint32_t sum = 0;
  for (uint64_t at = 0; at < fileSize; at += buffer.size()) {
    const size_t n = size_t(std::min<uint64_t>(buffer.size(), fileSize - at));
    if (!read(at, buffer.data(), n)) return 0;
    // The checksum field is counted as zero wherever it falls in the buffer.
    for (uint64_t o = checksumOffset; o < uint64_t(checksumOffset) + 4; ++o)
      if (o >= at && o < at + n) buffer[size_t(o - at)] = 0;
    // Buffers are an even number of bytes long, so words never straddle two of them.
    sum = peWordSum(sum, buffer.data(), n);
  }
  return uint32_t(sum + fileSize);
}

void finishImage(AtomicOutput& out) {
  ByteReader read = [&](uint64_t offset, uint8_t* bytes, size_t length) { return out.readAt(offset, bytes, length); };
  std::optional<PeHeaders> headers = readPeHeaders(read, out.size());
  if (!headers) return;
  uint8_t field[4];
  writeU32(field, peChecksum(read, out.size(), headers->checksumOffset));
  out.writeAt(headers->checksumOffset, field, sizeof field);
}

}  // namespace mw::packager
