// The files of the file table: each one created (with its folders when needed), filled chunk
// by chunk from the installer file, checked against its Adler-32 and logged. The chunks are
// read and decoded on a second thread while this one creates and writes the files.
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

// One decoded chunk on its way from the decoding side to the writing side.
struct DecodedChunk {
  uint8_t* bytes;     // kOutputRegionSize bytes of room
  uint32_t produced;  // bytes decoded into it
  uint32_t checksum;  // the file's Adler-32 over its stored bytes up to this chunk's end
  bool damaged;       // this chunk or an earlier one of its file cannot be trusted: it does
                      // not frame, cannot be read whole or does not decode
};

// The decoding side. It walks its own copy of the file table and turns every chunk of every
// file with data, in order, into a DecodedChunk, so the writing side only creates and writes.
// On a thread of its own it works up to two chunks ahead, in two slots that alternate: the
// system's file calls then overlap with the decoding. Without a thread (the system gave none)
// the writing side decodes each chunk itself when it needs it.
struct ChunkSource {
  EnginePlatform* os;
  ScriptCursor cursor;
  uint8_t* buffer;       // the chunk read buffer
  uint32_t position;     // where the file's next chunk starts
  uint32_t chunksLeft;   // chunks of the file still to decode
  uint32_t checksum;
  bool framed;           // false once a chunk of the file did not frame: the rest cannot be found
  bool damaged;
  // The prefix read after the last body, and where it sits (0: none): the next chunk's h when
  // the chunks follow one another, as the packager lays them out, so a chunk costs one read.
  uint32_t aheadAt;
  uint32_t aheadLength;

  DecodedChunk slots[2];
  ThreadHandle thread;       // null: no thread, the writing side decodes
  SignalHandle decoded[2];   // raised when slot k holds its next chunk
  SignalHandle written[2];   // raised when slot k may be filled again
  bool quit;                 // the writing side has stopped: decode no more
  uint32_t taken;            // chunks the writing side has taken
};

// Reads, checks and decodes the next chunk into `out`; false when the file table has no more.
bool decodeNext(ChunkSource& s, DecodedChunk& out) {
  while (!s.chunksLeft) {
    FileEntry entry;
    if (nextFileEntry(s.cursor, entry) != ReadItem) return false;
    s.position = entry.dataOffset;
    s.chunksLeft = entry.dataOffset ? entry.chunkCount : 0;
    s.checksum = 1;
    s.framed = true;
    s.damaged = false;
  }
  --s.chunksLeft;
  out.produced = 0;
  uint8_t* buffer = s.buffer;
  if (s.framed) {
    // The chunk as format/chunk.h frames it: the body goes behind the ten framing bytes, of
    // which the six after h stay zero.
    bool haveLength = true;
    if (s.position == s.aheadAt) {
      writeU32(buffer, s.aheadLength);
    } else {
      haveLength = s.os->readInstaller(s.position, buffer, kChunkPrefix) == kChunkPrefix;
    }
    s.aheadAt = 0;
    const uint32_t h = readU32(buffer);
    if (!haveLength || h < kChunkHeaderCount || h > kMaxChunkHeader) {
      s.framed = false;
    } else {
      const uint32_t body = h - kChunkHeaderCount;
      const uint32_t next = s.position + kChunkPrefix + body;
      uint32_t got = s.os->readInstaller(s.position + kChunkPrefix, buffer + kChunkHeaderCount,
                                         body + kChunkPrefix);
      if (got == body + kChunkPrefix) {
        s.aheadAt = next;
        s.aheadLength = readU32(buffer + kChunkHeaderCount + body);
      }
      if (got > body) got = body;
      s.checksum = adler32Update(s.checksum, buffer + kChunkHeaderCount, got);
      if (got != body) {
        s.framed = false;
      } else {
        s.position = next;
        // What was decoded is written even from a failed chunk; the integrity question that
        // follows the file lets the user keep or refuse it.
        if (decodeBuffer(buffer, h, out.bytes, kOutputRegionSize, out.produced) != DecodeStreamEnd)
          s.damaged = true;
      }
    }
  }
  if (!s.framed) s.damaged = true;
  out.checksum = s.checksum;
  out.damaged = s.damaged;
  return true;
}

uint32_t MW_THREAD_CALL decodeAhead(void* arg) {
  ChunkSource& s = *static_cast<ChunkSource*>(arg);
  for (uint32_t k = 0;; k ^= 1) {
    s.os->waitSignal(s.written[k]);
    if (__atomic_load_n(&s.quit, __ATOMIC_ACQUIRE) || !decodeNext(s, s.slots[k])) return 0;
    s.os->raiseSignal(s.decoded[k]);
  }
}

// Starts the decoding thread when the system gives one and its four signals.
void startDecoding(ChunkSource& s) {
  bool made = true;
  for (uint32_t k = 0; k < 2; ++k) {
    s.decoded[k] = s.os->makeSignal(false);
    s.written[k] = s.os->makeSignal(true);
    made = made && s.decoded[k] && s.written[k];
  }
  if (made) s.thread = s.os->startThread(decodeAhead, &s);
}

// Ends the decoding thread wherever it stands (the writing side may have stopped early): the
// decoder's regions and the output region are free again once this returns.
void stopDecoding(ChunkSource& s) {
  if (s.thread) {
    __atomic_store_n(&s.quit, true, __ATOMIC_RELEASE);
    s.os->raiseSignal(s.written[0]);
    s.os->raiseSignal(s.written[1]);
    s.os->joinThread(s.thread);
  }
  for (uint32_t k = 0; k < 2; ++k) {
    if (s.decoded[k]) s.os->dropSignal(s.decoded[k]);
    if (s.written[k]) s.os->dropSignal(s.written[k]);
  }
}

// Writes one file's decoded chunks into `file` (null: the user chose to go on without the file;
// everything but the writes still happens) and hands back its checksum and whether it is damaged.
bool writeChunks(Worker& w, ChunkSource& s, const FileEntry& entry, const char* name,
                 FileHandle& file, bool& damaged, uint32_t& checksum) {
  for (uint32_t chunk = 0; chunk < entry.chunkCount; ++chunk) {
    if (!w.pause()) return false;
    const uint32_t k = s.taken++ & 1;
    DecodedChunk& c = s.slots[k];
    if (s.thread)
      w.os.waitSignal(s.decoded[k]);
    else
      decodeNext(s, c);
    damaged = c.damaged;
    checksum = c.checksum;
    bool ignored = false;
    const bool going = !file || !c.produced || w.writeAll(file, c.bytes, c.produced, name, ignored);
    if (s.thread) w.os.raiseSignal(s.written[k]);
    if (!going) return false;
    if (ignored) {
      w.os.closeFile(file);
      file = nullptr;
    }
    w.unitDone();
  }
  return true;
}

bool extractEach(Worker& w, ChunkSource& s) {
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
      if (!writeChunks(w, s, entry, name, file, damaged, checksum)) {
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

}  // namespace

bool extractFiles(Worker& w) {
  ChunkSource s{};
  s.os = &w.os;
  s.cursor = w.cursor;
  s.buffer = w.chunkBuffer;
  s.slots[0].bytes = w.arena.outputRegion;
  s.slots[1].bytes = w.chunkBuffer + kChunkBufferSize;
  startDecoding(s);
  const bool going = extractEach(w, s);
  stopDecoding(s);
  return going;
}

}  // namespace mw
