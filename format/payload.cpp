#include "format/payload.h"

#include "core/bytes.h"

namespace mw {

LocatorRecord parseLocator(const uint8_t* bytes) {
  return LocatorRecord{readU32(bytes), readU32(bytes + 4), readU32(bytes + 8)};
}

void writeLocator(uint8_t* bytes, const LocatorRecord& record) {
  writeU32(bytes, record.checksum);
  writeU32(bytes + 4, record.scriptOffset);
  writeU32(bytes + 8, record.scriptLength);
}

void instanceName(const uint8_t* locatorBytes, char* name) {
  // A mutex name may not hold a backslash, and a NUL would cut it short.
  for (int i = 0; i < 10; ++i) {
    uint8_t b = locatorBytes[i];
    if (b == 0x5C || b == 0x00) ++b;
    name[i] = char(b);
  }
  name[10] = 0;
}

bool readBufferSizes(const LocatorRecord& record, uint32_t& allocate, uint32_t& read) {
  // The script is at least its u32 prefix; the sizes must not wrap on the 32-bit target.
  constexpr uint32_t kExtra = kReadBufferLead + kBlobSize;
  if (record.scriptLength < 4 || record.scriptLength > 0xFFFFFFFFu - kExtra) return false;
  read = record.scriptLength + kBlobSize;
  allocate = record.scriptLength + kExtra;
  return true;
}

bool payloadInsideFile(const LocatorRecord& record, uint32_t fileSize) {
  // Compared as the room left after scriptOffset, so no sum can wrap on the 32-bit target.
  if (record.scriptOffset > fileSize) return false;
  const uint32_t room = fileSize - record.scriptOffset;
  return room >= kBlobSize && record.scriptLength <= room - kBlobSize;
}

uint32_t adler32Update(uint32_t previous, const uint8_t* bytes, uint32_t length) {
  // Both sums are reduced once per run of at most 5552 bytes: the longest run after which s2
  // still fits 32 bits, whatever 16-bit values the sums start from. A plain loop: zlib's
  // unrolled one costs the engine 1.9 KB of its 32 KB, and the checksum is never what an
  // installation waits for (decoding is a hundred times slower).
  uint32_t s1 = previous & 0xFFFF, s2 = previous >> 16;
  do {
    uint32_t run = length < 5552 ? length : 5552;
    length -= run;
    for (; run; --run) {
      s1 += *bytes++;
      s2 += s1;
    }
    s1 %= 65521;
    s2 %= 65521;
  } while (length);
  return (s2 << 16) | s1;
}

bool payloadIntact(const uint8_t* readBuffer, const LocatorRecord& record) {
  // Script and blob lie back to back in the buffer, so one run covers both (readBufferSizes
  // made sure their length does not wrap).
  return adler32Update(1, readBuffer + kReadBufferLead, record.scriptLength + kBlobSize) ==
         record.checksum;
}

uint32_t scriptDecodedLength(const uint8_t* readBuffer) {
  return readU32(readBuffer + kReadBufferLead);
}

bool arenaSizeFor(uint32_t scriptLength, uint32_t& size) {
  uint32_t fixed = arenaFixedSize();
  if (scriptLength > 0xFFFFFFFFu - fixed) return false;
  size = scriptLength + fixed;
  return true;
}

LoadResult loadScript(const uint8_t* readBuffer, const LocatorRecord& record, const Arena& arena) {
  // Input: the six zeros in front of the script, its u32 U and the compressed body. The
  // decoder takes those first ten bytes for its headers and decodes the body after them.
  uint32_t produced = 0;
  const int32_t result = decodeBuffer(readBuffer, record.scriptLength + kReadBufferLead, arena.base,
                                      arena.scriptLength, produced);
  if (result != DecodeStreamEnd || produced != arena.scriptLength) return LoadCorrupt;
  return LoadOk;
}

}  // namespace mw
