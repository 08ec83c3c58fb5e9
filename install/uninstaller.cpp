// Uninstall.exe: the uninstaller image from the payload, the log appended as the installation
// goes, then the gap, the installer's manifest, the tail and the patched header. It is written
// as kUninstallerTempName and takes the place of Uninstall.exe only when it is complete.
#include "core/bytes.h"
#include "decompress/decompress.h"
#include "install/texts.h"
#include "install/worker.h"
#include "format/chunk.h"
#include "format/log_format.h"

namespace mw {

namespace {

// The blob is read behind the six zero bytes of the chunk framing (format/chunk.h): none of them
// is 0x17, which the decoder would take for the end-of-stream mark.
constexpr uint32_t kBlobLead = kChunkFiller;
// The image is decoded well behind the compressed bytes, with room for a little more than the
// image so an oversized stream is noticed rather than cut silently.
constexpr uint32_t kImageOut = 0x2000;
constexpr uint32_t kImageRoom = 0x8000;

bool writeZeros(Worker& w, uint32_t count) {
  // On the stack: a zero-filled global would be stored in the engine's file.
  uint8_t zeros[512];
  fillBytes(zeros, 0, sizeof zeros);
  while (count) {
    const uint32_t n = count < sizeof zeros ? count : uint32_t(sizeof zeros);
    if (!writeUninstaller(w, zeros, n)) return false;
    count -= n;
  }
  return true;
}

}  // namespace

bool writeUninstaller(Worker& w, const void* data, uint32_t length) {
  if (!w.log) return true;  // lost earlier at the user's choice
  bool ignored = false;
  if (!w.writeAll(w.log, data, length, kUninstallerTempName, ignored)) {
    w.logUsable = false;  // stopped part way through a write: the log cannot be finished
    return false;
  }
  if (ignored) {
    // The file can no longer become a working uninstaller; leave it as it is.
    w.os.closeFile(w.log);
    w.log = nullptr;
    w.logUsable = false;
  }
  return true;
}

bool logBytes(Worker& w, const void* data, uint32_t length) {
  w.logLength += length;
  return writeUninstaller(w, data, length);
}

bool logString(Worker& w, const char* text) {
  return logBytes(w, text, uint32_t(textLength(text)) + 1);
}

bool logByte(Worker& w, uint8_t value) { return logBytes(w, &value, 1); }

bool startUninstaller(Worker& w) {
  uint8_t* region = w.arena.outputRegion;
  fillBytes(region, 0, kBlobLead);
  const uint32_t got = w.os.readInstaller(w.job.blobOffset, region + kBlobLead, kUninstallerBlobSize);
  uint32_t h = readU32(region + kBlobLead);
  if (h < kChunkHeaderCount || h > kUninstallerBlobHeader) h = kUninstallerBlobHeader;

  uint32_t produced = 0;
  const int32_t result = decodeBuffer(region, h, region + kImageOut, kImageRoom, produced);
  // The blob is covered by the payload checksum; a damaged one reaches this point only when
  // the user chose to go on with a corrupt installer. The installation then goes on, but it
  // does not count as complete: its uninstaller cannot be trusted.
  w.logUsable = got == kUninstallerBlobSize && result == DecodeStreamEnd &&
                produced == kUninstallerImageSize;
  if (!w.logUsable) w.lose();

  for (;;) {
    w.log = w.os.createFile(kUninstallerTempName);
    if (w.log) break;
    const int32_t answer = w.askAboutFile(kTextCreateFile, kUninstallerTempName);
    if (answer == AnswerRetry) continue;
    w.logUsable = false;
    return answer == AnswerIgnore;
  }
  if (!writeUninstaller(w, region + kImageOut, kUninstallerImageSize)) return false;

  // installDir as the worker found it: the log's second entry may lack the final backslash.
  const char* product = w.job.front->productName;
  return logString(w, product) && logBytes(w, w.arena.installDir, w.installDirGiven) &&
         logByte(w, 0);
}

bool finishUninstaller(Worker& w) {
  if (!w.log) {
    // Lost at the user's choice (Ignore): whatever was written of it is no uninstaller.
    w.os.removeFile(kUninstallerTempName);
    return true;
  }
  const UninstallLayout layout = uninstallLayout(w.logLength);
  if (!writeZeros(w, layout.manifestAt - layout.logEnd)) return false;
  uint32_t length = 0;
  const uint8_t* manifest = w.os.manifest(length);
  if (!manifest) length = 0;
  if (length > kManifestSize) length = kManifestSize;
  if (length && !writeUninstaller(w, manifest, length)) return false;
  if (!writeZeros(w, kManifestSize - length + (layout.fileSize - layout.manifestAt - kManifestSize)))
    return false;
  if (!w.log) {  // a write was ignored on the way
    w.os.removeFile(kUninstallerTempName);
    return true;
  }

  LocalTime now{};
  w.os.localTime(now);
  const uint32_t stamp = localTimeStamp(now.year, now.month, now.day, now.hour, now.minute, now.second);
  bool patched = false;
  if (uint8_t* view = w.os.mapFile(w.log, layout.fileSize)) {
    patched = patchUninstallHeader(view, layout.fileSize, w.logLength, stamp);
    patched = w.os.unmapFile(w.log, view, layout.fileSize) && patched;
  }
  const bool closed = w.os.closeFile(w.log);
  w.log = nullptr;
  // Only a complete image replaces the Uninstall.exe that may be there (the one a registration
  // points at); one that failed on the way is kept from doing so.
  const bool placed =
      patched && closed && w.logUsable && w.os.replaceFile(kUninstallerTempName, kUninstallerName);
  if (!placed) {
    w.os.removeFile(kUninstallerTempName);
    w.lose();
  }
  return true;
}

void settleStoppedUninstaller(Worker& w) {
  if (!w.log) return;  // never made, or already finished or removed
  uint8_t probe[2];
  const bool earlier = w.os.readFileAt(kUninstallerName, 0, probe, sizeof probe) == sizeof probe;
  if (!earlier && w.logUsable) {
    w.settling = true;
    // The lists still open are closed empty: no program group when the files did not end, no
    // more shortcuts, and the records end at the gap.
    bool closed = true;
    if (w.logSection == LogFiles) closed = logByte(w, 0) && logByte(w, 0);
    if (closed && w.logSection != LogRecords) closed = logByte(w, 0);
    if (closed && finishUninstaller(w)) return;
  }
  if (w.log) w.os.closeFile(w.log);
  w.log = nullptr;
  w.os.removeFile(kUninstallerTempName);
}

}  // namespace mw
