// The files of the file table: each one created (with its folders when needed), filled chunk
// by chunk from the installer file, checked against its Adler-32 and logged.
#include "core/bytes.h"
#include "decompress/decompress.h"
#include "install/paths.h"
#include "install/texts.h"
#include "install/worker.h"
#include "format/chunk.h"
#include "format/payload.h"

namespace mw {

namespace {

// A full path longer than this cannot be made on the system (its ANSI calls stop at 260), and
// its partial paths must fit messageScratch; such a file is treated as one that failed to be
// created, so the user decides with the usual question.
constexpr uint32_t kMaxFilePath = kMessageScratchSize - 1;

enum Created { CreatedFile, CreatedIgnored, CreatedStop };

// Creates `name` in the current folder. On a first failure its folders are made level by level
// and the creation tried once more; then the user is asked. Retry starts over from the top.
Created createFile(Worker& w, const char* name, bool tooLong, FileHandle& file) {
  char* partial = w.arena.messageScratch;
  for (;;) {
    if (!tooLong) {
      file = w.os.createFile(name);
      if (file) return CreatedFile;
      // The name fits: installDir and it together are no longer than kMaxFilePath.
      copyBytes(partial, name, textLength(name) + 1);
      w.makeFoldersAlong(partial, 1, true);
      file = w.os.createFile(name);
      if (file) return CreatedFile;
    }
    const int32_t answer = w.askAboutFile(kTextCreateFile, name);
    if (answer == AnswerRetry) continue;
    return answer == AnswerIgnore ? CreatedIgnored : CreatedStop;
  }
}

// Reads, checks and decodes one file's chunks into `file` (null: the user chose to go on
// without the file; everything but the writes still happens). Sets `damaged` when the data
// cannot be trusted: a chunk that does not frame, cannot be read whole or does not decode.
bool extractChunks(Worker& w, const FileEntry& entry, const char* name, FileHandle& file,
                   bool& damaged, uint32_t& checksum) {
  uint8_t* buffer = w.chunkBuffer;
  uint32_t position = entry.dataOffset;
  bool framed = true;
  checksum = 1;
  for (uint32_t chunk = 0; chunk < entry.chunkCount; ++chunk) {
    if (!w.pause()) return false;
    if (framed) {
      // The chunk as format/chunk.h frames it: the body goes behind the ten framing bytes, of
      // which the six after h stay zero. The prefix is usually known already: each body is read together with the four bytes after
      // it, the next chunk's prefix when the chunks follow one another (as the packager lays
      // them out), so a chunk costs one read.
      bool haveLength = true;
      if (position == w.aheadAt) {
        writeU32(buffer, w.aheadLength);
      } else {
        haveLength = w.os.readInstaller(position, buffer, kChunkPrefix) == kChunkPrefix;
      }
      w.aheadAt = 0;
      const uint32_t h = readU32(buffer);
      if (!haveLength || h < kChunkHeaderCount || h > kMaxChunkHeader) {
        framed = false;  // the following chunks cannot be found either
      } else {
        const uint32_t body = h - kChunkHeaderCount;
        const uint32_t next = position + kChunkPrefix + body;
        uint32_t got = w.os.readInstaller(position + kChunkPrefix, buffer + kChunkHeaderCount, body + kChunkPrefix);
        if (got == body + kChunkPrefix) {
          w.aheadAt = next;
          w.aheadLength = readU32(buffer + kChunkHeaderCount + body);
        }
        if (got > body) got = body;
        checksum = adler32Update(checksum, buffer + kChunkHeaderCount, got);
        if (got != body) {
          framed = false;
        } else {
          position = next;
          uint32_t produced = 0;
          if (decodeBuffer(buffer, h, w.arena.outputRegion, kOutputRegionSize, produced) !=
              DecodeStreamEnd)
            damaged = true;
          // What was decoded is written even from a failed chunk; the integrity question
          // that follows lets the user keep or refuse the file.
          bool ignored = false;
          if (file && produced &&
              !w.writeAll(file, w.arena.outputRegion, produced, name, ignored))
            return false;
          if (ignored) {
            w.os.closeFile(file);
            file = nullptr;
          }
        }
      }
      if (!framed) damaged = true;
    }
    w.unitDone();
  }
  return true;
}

}  // namespace

bool extractFiles(Worker& w) {
  FileEntry entry;
  while (nextFileEntry(w.cursor, entry) == ReadItem) {
    if (!w.pause()) return false;
    const char* name = entry.name;

    // The full path, shortened for the label and the integrity question.
    TextBuilder path(w.arena.pathScratch, kPathScratchSize);
    path.append(w.arena.installDir);
    path.append(name);
    const bool tooLong = !path.fits() || path.length > kMaxFilePath;
    shortenDisplayPath(w.arena.pathScratch);
    if (w.wizard) w.os.showFileLabel(w.arena.pathScratch);

    FileHandle file = nullptr;
    const Created created = createFile(w, name, tooLong, file);
    if (created == CreatedStop) return false;
    // Logged even when skipped: the uninstaller's attempt on a missing file is harmless.
    if (!logString(w, name)) {
      if (file) w.os.closeFile(file);
      return false;
    }

    if (entry.dataOffset == 0) {
      w.unitDone();
    } else {
      bool damaged = false;
      uint32_t checksum = 1;
      if (!extractChunks(w, entry, name, file, damaged, checksum)) {
        if (file) w.os.closeFile(file);
        return false;
      }
      if (damaged || checksum != entry.checksum) {
        if (w.ask(kTextIntegrity, w.arena.pathScratch, "", StyleYesNoExclamation) != AnswerYes) {
          if (file) w.os.closeFile(file);
          return w.stop(InstallStopped);
        }
        w.lose();
      }
    }
    if (file && !w.os.closeFile(file)) w.lose();
  }
  return true;
}

}  // namespace mw
