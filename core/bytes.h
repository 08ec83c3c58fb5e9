// Little helpers shared by every piece of engine core. Engine core builds freestanding for the
// Windows programs and as ordinary C++ for the host, so nothing here touches the C library.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace mw {

// Payload and log numbers are little-endian and unaligned.
[[gnu::always_inline]] inline uint16_t readU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
[[gnu::always_inline]] inline uint32_t readU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
[[gnu::always_inline]] inline void writeU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
[[gnu::always_inline]] inline void writeU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

inline void copyBytes(void* dst, const void* src, size_t n) { __builtin_memcpy(dst, src, n); }
inline void fillBytes(void* dst, int value, size_t n) { __builtin_memset(dst, value, n); }

// The PE image checksum's running part: `sum` plus the little-endian 16-bit words of `n` bytes,
// folded with end-around carry (a last odd byte counts as a word of its own). Callers that sum a
// file in pieces give it pieces of even length, so no word straddles two of them; the checksum
// is the final sum plus the file's length, with the checksum field counted as zero.
inline uint32_t peWordSum(uint32_t sum, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i += 2) {
    sum += uint32_t(p[i]) | (i + 1 < n ? uint32_t(p[i + 1]) << 8 : 0u);
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return sum;
}

inline size_t textLength(const char* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

}  // namespace mw
