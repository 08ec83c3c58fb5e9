// The payload an installer carries after its stub, and how the stub finds and checks it.
//
// Installer file, from offset 0:
//
//   stub            the engine; holds the 12-byte locator record at kLocatorOffset
//   file data       each file's chunks back to back, at the offsets its FileEntry names
//   setup script    at scriptOffset: [u32 U = decompressed length][compressed body]
//   uninstaller     the last kBlobSize bytes: one chunk [u32 4278][4268-byte body]
//
// The locator record sits at a fixed offset inside the stub so the stub can find its payload
// without parsing its own headers; the packager overwrites the 12 reserved bytes there.
//
// The script and the blob are framed as every chunk is (format/chunk.h).
//
// Everything here is engine core: pure functions over bytes. Opening and reading the installer
// file and allocating memory belong to the platform's start-up.
#pragma once

#include <stdint.h>

#include "format/arena.h"
#include "format/chunk.h"
#include "format/log_format.h"

namespace mw {

constexpr uint32_t kLocatorOffset = 15856;  // 0x3DF0, inside the stub image
constexpr uint32_t kLocatorSize = 12;
constexpr uint32_t kMinimumStubSize = kLocatorOffset + kLocatorSize;  // 15868

// The uninstaller blob; its sizes and the image's are defined once, beside the image's layout.
constexpr uint32_t kBlobSize = kUninstallerBlobSize;      // the blob on disk: 4272
constexpr uint32_t kBlobHeader = kUninstallerBlobHeader;  // its h: 4278
constexpr uint32_t kBlobBodySize = kUninstallerBlobBody;  // its compressed body: 4268

// Read buffer: six zero bytes, the script as stored, the blob. The six zeros and the script's
// u32 prefix are the ten bytes the decoder takes for its headers.
constexpr uint32_t kReadBufferLead = kChunkFiller;

struct LocatorRecord {
  uint32_t checksum;      // Adler-32 of the script as stored and then the blob, started at 1
  uint32_t scriptOffset;  // absolute offset of the script's u32 prefix
  uint32_t scriptLength;  // bytes of the script on disk, prefix included
};

// The record from the 12 bytes read at kLocatorOffset, and back.
LocatorRecord parseLocator(const uint8_t* bytes);
void writeLocator(uint8_t* bytes, const LocatorRecord& record);

// The single-instance name: the first ten of the 12 bytes read at kLocatorOffset with every
// 0x5C and 0x00 raised by one, so the name is exactly ten characters and holds no backslash.
// `name` gets 11 bytes, the last a NUL.
void instanceName(const uint8_t* locatorBytes, char* name);

// Sizes of the read buffer for a record: how much to allocate (zero-filled) and how much to
// read from the file at scriptOffset into position kReadBufferLead. False when the record's
// scriptLength is too small to hold the u32 prefix or so large that the sizes overflow.
bool readBufferSizes(const LocatorRecord& record, uint32_t& allocate, uint32_t& read);

// True when the record's script and the blob after it lie inside an installer file of
// `fileSize` bytes. A record that says otherwise is a damaged payload: the engine tells it
// apart before any memory is asked for its sizes, and asks the corrupt-payload question.
bool payloadInsideFile(const LocatorRecord& record, uint32_t fileSize);

// True when the Adler-32 over the script and then the blob in the read buffer equals the
// record's checksum. For a record whose sizes readBufferSizes accepted.
bool payloadIntact(const uint8_t* readBuffer, const LocatorRecord& record);

// The script's decompressed length U, the u32 at position kReadBufferLead of the read buffer.
uint32_t scriptDecodedLength(const uint8_t* readBuffer);

// Arena size for a script of U bytes: U + arenaFixedSize(). False when that overflows.
bool arenaSizeFor(uint32_t scriptLength, uint32_t& size);

// What loadScript found.
enum LoadResult : int32_t {
  LoadOk = 0,          // the whole script decoded: U bytes, stream ended with its check
  LoadCorrupt = 1,     // the stream failed or produced a different length than U
};

// Decompresses the script from the read buffer into the arena's script region (the arena laid
// out for U = scriptDecodedLength). The caller releases the read buffer afterwards. The decoder
// is never handed more input than the read buffer holds or more room than the region has.
LoadResult loadScript(const uint8_t* readBuffer, const LocatorRecord& record, const Arena& arena);

// Running Adler-32 (RFC 1950), started at 1 for a fresh checksum: the values of zlib's adler32
// for every buffer (tests compare the two).
uint32_t adler32Update(uint32_t previous, const uint8_t* bytes, uint32_t length);

}  // namespace mw
