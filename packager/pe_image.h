// What the packager reads and writes of the installer's own PE headers: the checksum field of
// the optional header, which the build fills in over the finished file so that `verify` can
// tell a damaged engine from an intact one, and the certificate table (the security data
// directory) that Authenticode signing appends after the payload.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

namespace mw::packager {

class AtomicOutput;

// Reads `length` bytes at `offset` into `out`; false when the range is not all there.
using ByteReader = std::function<bool(uint64_t offset, uint8_t* out, size_t length)>;

struct PeHeaders {
  uint32_t checksumOffset = 0;   // file offset of the optional header's CheckSum field
  uint32_t checksum = 0;         // its value (0: none written)
  uint32_t certificateOffset = 0;  // the security directory: a file offset, not an address
  uint32_t certificateSize = 0;    // 0: not signed
};

// The headers of a PE file of `fileSize` bytes; nullopt when it is not one (no "MZ", no
// "PE\0\0" where e_lfanew points, or an optional header too short for the security directory).
std::optional<PeHeaders> readPeHeaders(const ByteReader& read, uint64_t fileSize);

// The PE checksum of the whole file: 16-bit words summed with end-around carry, the CheckSum
// field taken as zero, plus the file's length. The same value Windows' image loader and
// signing tools compute.
uint32_t peChecksum(const ByteReader& read, uint64_t fileSize, uint32_t checksumOffset);

// Finishes the installer image: the build's last step before signing. Everything that patches
// the image (the stub's resources, the locator record, the payload) comes before it, since the
// checksum covers every byte. A stub without PE headers (a test stand-in) is left as it is.
void finishImage(AtomicOutput& out);

}  // namespace mw::packager
