// The uninstall log and the uninstaller image it is appended to: one definition for the
// installer, which writes both, and the uninstaller, which reads them back. Engine core:
// builds freestanding and on the host; no C library, every writer bounded by its buffer.
//
// Uninstall.exe, from offset 0:
//
//   [image: 8088 bytes][log: n bytes][zeros up to a][manifest: 1154 bytes][zeros up to f]
//
//   a = the smallest multiple of 8 greater than 8088 + n (so the log is always followed by at
//       least one zero byte: the reader's last terminator)
//   f = a + 1154 raised to a multiple of 512; the file ends there
//
// The log, in order (strings are ANSI with one NUL; numbers little-endian):
//
//   productName                 string
//   installDir                  string (as the installer got it; may lack the final backslash)
//   file names                  string each, relative to installDir
//   end of files                0
//   programGroup                string, relative to the Programs folder (empty: just the NUL)
//   shortcuts                   string each, full path
//   end of shortcuts            0
//   registry records            kind u8, root u32, subkey string, value (0xFF or string)
//   uninstall key's record      'C', HKLM, kUninstallKeyPrefix + productName, "" (one 0 byte)
//   (end of records)            the 0 kind byte is the first byte of the gap, not part of n
//
// The image is shipped with a resource section that already describes a 1-byte log at the end
// of the image and the manifest at 8096. The installer only patches the fixed fields below,
// so the image must keep every one of these offsets; the uninstaller's build checks them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/bytes.h"

namespace mw {

// ---- The image -------------------------------------------------------------------------

constexpr uint32_t kUninstallerImageSize = 8088;  // the log starts right after it
constexpr uint32_t kUninstallerBlobSize = 4272;   // the compressed image in the payload
constexpr uint32_t kUninstallerBlobHeader = 4278; // its u32 h: ten header bytes + body
constexpr uint32_t kUninstallerBlobBody = 4268;   // room for the compressed stream

constexpr uint32_t kManifestSize = 1154;          // copied byte for byte from the installer
constexpr uint32_t kLogAlignment = 8;
constexpr uint32_t kFileAlignment = 512;
constexpr uint32_t kSectionAlignment = 4096;

// Fixed header fields (file offsets, all u32 unless noted).
constexpr uint32_t kPeHeaderOffset = 0xB8;          // e_lfanew; "PE\0\0" lies here
constexpr uint32_t kLfanewOffset = 0x3C;            // where the DOS header keeps e_lfanew
constexpr uint32_t kTimeDateStampOffset = 0xC0;     // COFF TimeDateStamp
constexpr uint32_t kSizeOfImageOffset = 0x108;      // optional header SizeOfImage
constexpr uint32_t kResourceDirRvaOffset = 0x140;   // data directory 2 (resources): address
constexpr uint32_t kResourceDirSizeOffset = 0x144;  //   and size
constexpr uint32_t kResourceSectionHeader = 0x228;  // fourth section header (name at +0)
constexpr uint32_t kResourceVirtualSizeOffset = 0x230;
constexpr uint32_t kResourceVirtualAddressOffset = 0x234;
constexpr uint32_t kResourceRawSizeOffset = 0x238;
constexpr uint32_t kResourceRawPointerOffset = 0x23C;

// Resource data entries the installer re-points (OffsetToData, then Size).
constexpr uint32_t kLogEntryOffset = 0x1130;        // RT_RCDATA id 1: the log
constexpr uint32_t kLogSizeOffset = 0x1134;
constexpr uint32_t kManifestEntryOffset = 0x1150;   // RT_MANIFEST id 1
constexpr uint32_t kManifestSizeOffset = 0x1154;

// Values as the image is shipped.
constexpr uint32_t kImageTimeDateStamp = 0;
constexpr uint32_t kImageSizeOfImage = 0x6000;
constexpr uint32_t kResourceSectionFileOffset = 0x1000;
constexpr uint32_t kResourceSectionRva = 0x4000;
constexpr uint32_t kImageResourceSize = 0x1428;     // data directory Size and VirtualSize
constexpr uint32_t kImageResourceRawSize = 0x1600;  // more than the image holds, on purpose
constexpr uint32_t kImageLogRva = 0x4F98;           // file offset 8088
constexpr uint32_t kImageLogSize = 1;
constexpr uint32_t kImageManifestRva = 0x4FA0;      // file offset 8096

// Inside the resource section, file offset x lies at address x + this.
constexpr uint32_t kResourceRvaDelta = kResourceSectionRva - kResourceSectionFileOffset;

constexpr uint16_t kRtIcon = 3;
constexpr uint16_t kRtGroupIcon = 14;
constexpr uint16_t kRtRcdata = 10;
constexpr uint16_t kRtManifest = 24;

// ---- The log ---------------------------------------------------------------------------

constexpr uint8_t kRecordCreated = 'C';   // the installation created the key: delete it
constexpr uint8_t kRecordOpened = 'O';    // the key existed: delete only the value
constexpr uint8_t kRecordEnd = 0;         // no more records (first byte of the gap)
constexpr uint8_t kDefaultValueMarker = 0xFF;

constexpr uint32_t kRootFirst = 0x80000000;  // HKEY_CLASSES_ROOT
constexpr uint32_t kRootLast = 0x80000006;   // HKEY_DYN_DATA
constexpr uint32_t kRootLocalMachine = 0x80000002;

// The uninstall registration lives under HKLM at this prefix followed by productName.
constexpr char kUninstallKeyPrefix[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr uint32_t kUninstallKeyPrefixLength = sizeof(kUninstallKeyPrefix) - 1;  // 52

// Where the pieces after the log go, for a log of `logLength` bytes.
struct UninstallLayout {
  uint32_t logEnd;        // t = 8088 + n
  uint32_t manifestAt;    // a: smallest multiple of 8 greater than t
  uint32_t fileSize;      // f: a + 1154 raised to a multiple of 512
  uint32_t virtualSize;   // VS': the resource section's new VirtualSize and directory Size
  uint32_t rawSize;       // VS' raised to a multiple of 512
  uint32_t sizeOfImage;   // VS' + 0x4000 raised to a multiple of 4096
  uint32_t manifestRva;   // the manifest entry's new OffsetToData
};

constexpr uint32_t roundUp(uint32_t v, uint32_t to) { return (v + to - 1) / to * to; }

constexpr UninstallLayout uninstallLayout(uint32_t logLength) {
  UninstallLayout l{};
  l.logEnd = kUninstallerImageSize + logLength;
  l.manifestAt = (l.logEnd / kLogAlignment + 1) * kLogAlignment;
  l.fileSize = roundUp(l.manifestAt + kManifestSize, kFileAlignment);
  l.virtualSize = kImageResourceSize + l.manifestAt - (kUninstallerImageSize + 9);
  l.rawSize = roundUp(l.virtualSize, kFileAlignment);
  l.sizeOfImage = roundUp(l.virtualSize + kResourceSectionRva, kSectionAlignment);
  l.manifestRva = kImageManifestRva + l.manifestAt - (kUninstallerImageSize + 8);
  return l;
}

// One u32 field of the header in memory. The file is little-endian like every machine the
// installer and its tools run on, so the field is read and stored whole, in place.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the header is patched in place");
inline void setHeaderU32(uint8_t* field, uint32_t value) { copyBytes(field, &value, 4); }
inline void addHeaderU32(uint8_t* field, uint32_t add) { setHeaderU32(field, readU32(field) + add); }

// Patches the header of a finished Uninstall.exe held in memory (the installer maps the file;
// tests hold it in a buffer). Adds to the fields as they stand rather than assuming the shipped
// values, the same sums the installer's mapping applies. Returns false, touching nothing, when
// `file` is too short to be a finished file for this log length.
inline bool patchUninstallHeader(uint8_t* file, uint32_t fileLength, uint32_t logLength,
                                 uint32_t timeStamp) {
  const UninstallLayout l = uninstallLayout(logLength);
  if (logLength > 0x10000000u || fileLength < l.fileSize) return false;
  setHeaderU32(file + kTimeDateStampOffset, timeStamp);
  setHeaderU32(file + kLogSizeOffset, logLength);
  addHeaderU32(file + kManifestEntryOffset, l.manifestAt - (kUninstallerImageSize + 8));
  const uint32_t grow = l.manifestAt - (kUninstallerImageSize + 9);
  addHeaderU32(file + kResourceVirtualSizeOffset, grow);
  const uint32_t vs = readU32(file + kResourceVirtualSizeOffset);
  addHeaderU32(file + kResourceDirSizeOffset, grow);
  setHeaderU32(file + kResourceRawSizeOffset, roundUp(vs, kFileAlignment));
  setHeaderU32(file + kSizeOfImageOffset,
               roundUp(vs + readU32(file + kResourceVirtualAddressOffset), kSectionAlignment));
  return true;
}

// Seconds from 1970-01-01 00:00:00 to a local date and time, both read as local (no zone).
// The installer stamps the image with it; 2001-09-09 01:46:40 gives 1000000000.
constexpr uint32_t localTimeStamp(uint32_t year, uint32_t month, uint32_t day, uint32_t hour,
                                  uint32_t minute, uint32_t second) {
  // Days from the civil date, counting years from March so the leap day comes last; the
  // leap days before year y are y/4 - y/100 + y/400, and 719468 days lie from 0000-03-01 to 1970.
  const uint32_t y = month <= 2 ? year - 1 : year;
  const uint32_t mp = month > 2 ? month - 3 : month + 9;
  const uint32_t days = y * 365 + y / 4 - y / 100 + y / 400 + (153 * mp + 2) / 5 + day - 1 - 719468;
  return days * 86400u + hour * 3600u + minute * 60u + second;
}

// A bounded appender for building a log (or a piece of one) in a caller's buffer. Every append
// either fits whole or sets `overflow` and writes nothing, so a caller can build a record in a
// scratch buffer, check `overflow` once, and write `length` bytes to the file.
struct LogAppender {
  uint8_t* buffer;
  uint32_t capacity;
  uint32_t length;
  bool overflow;

  LogAppender(uint8_t* buf, uint32_t cap) : buffer(buf), capacity(cap), length(0), overflow(false) {}

  bool appendBytes(const void* p, uint32_t n) {
    if (overflow || n > capacity - length) {
      overflow = true;
      return false;
    }
    copyBytes(buffer + length, p, n);
    length += n;
    return true;
  }
  bool appendByte(uint8_t b) { return appendBytes(&b, 1); }
  // The string with its NUL.
  bool appendString(const char* s) { return appendBytes(s, uint32_t(textLength(s)) + 1); }
  // Ends the file list or the shortcut list.
  bool appendListEnd() { return appendByte(0); }

  // One registry record. A null or empty `valueName` names the default value: `useMarker`
  // chooses the 0xFF marker (script entries) or the empty string (the uninstall key's record).
  bool appendRegistryRecord(uint8_t kind, uint32_t root, const char* subkey, const char* valueName,
                            bool useMarker) {
    const uint32_t subLen = uint32_t(textLength(subkey)) + 1;
    const bool isDefault = !valueName || !valueName[0];
    const uint32_t valueLen = isDefault ? 1 : uint32_t(textLength(valueName)) + 1;
    if (overflow || 5 + subLen + valueLen > capacity - length) {
      overflow = true;
      return false;
    }
    uint8_t head[5] = {kind, 0, 0, 0, 0};
    writeU32(head + 1, root);
    appendBytes(head, 5);
    appendBytes(subkey, subLen);
    if (isDefault) return appendByte(useMarker ? kDefaultValueMarker : 0);
    return appendBytes(valueName, valueLen);
  }

  // The uninstall registration's record: always 'C', HKLM, prefix + productName, "".
  bool appendUninstallKeyRecord(const char* productName) {
    const uint32_t nameLen = uint32_t(textLength(productName));
    if (overflow || 5 + kUninstallKeyPrefixLength + nameLen + 2 > capacity - length) {
      overflow = true;
      return false;
    }
    uint8_t head[5] = {kRecordCreated, 0, 0, 0, 0};
    writeU32(head + 1, kRootLocalMachine);
    appendBytes(head, 5);
    appendBytes(kUninstallKeyPrefix, kUninstallKeyPrefixLength);
    appendString(productName);
    return appendByte(0);
  }
};

}  // namespace mw
