// decode_chunks.exe INSTALLER LIST RESULT: the engine's decoder alone, in its Windows build,
// over the chunks of an installer. LIST holds one "dataOffset chunkCount" line per file with
// data; every chunk is read as the worker reads it (ten header bytes, then the body) and decoded
// into a 1 MiB output buffer. Only the decoding is timed. RESULT receives "seconds bytes".
// install_bench runs it under wine beside the installer itself, so that both figures come from
// the same machine, emulated or not.
#include <windows.h>

#include "core/command_line.h"
#include "core/bytes.h"
#include "decompress/decompress.h"
#include "format/arena.h"
#include "format/chunk.h"

namespace {

char* nextWord(char*& p) {
  while (*p == ' ' || *p == '\r' || *p == '\n') ++p;
  if (!*p) return nullptr;
  char* word = p;
  while (*p && *p != ' ' && *p != '\r' && *p != '\n') ++p;
  if (*p) *p++ = 0;
  return word;
}

uint32_t number(const char* s) {
  uint32_t v = 0;
  while (*s >= '0' && *s <= '9') v = v * 10 + uint32_t(*s++ - '0');
  return v;
}

// Decimal text of v, with `decimals` digits after a point when v is given in millionths.
char* format(char* out, uint64_t v, int decimals) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = char('0' + v % 10);
    v /= 10;
  } while (v || n <= decimals);
  while (n) {
    *out++ = digits[--n];
    if (n == decimals && decimals) *out++ = '.';
  }
  return out;
}

bool readAt(HANDLE f, uint32_t offset, void* buffer, uint32_t length) {
  SetFilePointer(f, LONG(offset), nullptr, FILE_BEGIN);
  DWORD got = 0;
  return ReadFile(f, buffer, length, &got, nullptr) && got == length;
}

void* allocate(uint32_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

}  // namespace

extern "C" void __stdcall entryPoint() {
  char* line = mw::skipProgramPath(GetCommandLineA());
  char* installerPath = nextWord(line);
  char* listPath = nextWord(line);
  char* resultPath = nextWord(line);
  if (!resultPath) ExitProcess(2);

  HANDLE installer = CreateFileA(installerPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  HANDLE list = CreateFileA(listPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (installer == INVALID_HANDLE_VALUE || list == INVALID_HANDLE_VALUE) ExitProcess(3);
  const DWORD listSize = GetFileSize(list, nullptr);
  char* text = static_cast<char*>(allocate(listSize + 1));
  DWORD got = 0;
  if (!ReadFile(list, text, listSize, &got, nullptr) || got != listSize) ExitProcess(3);
  text[listSize] = 0;

  uint8_t* chunk = static_cast<uint8_t*>(allocate(mw::kMaxChunkHeader));
  // The regions as the engine lays them out: one block, the output region behind the setup
  // script (a typical length here), the decoder's state and tables right after it.
  constexpr uint32_t kScriptLength = 3000;
  mw::Arena arena;
  mw::layOutArena(arena, static_cast<uint8_t*>(allocate(kScriptLength + mw::arenaFixedSize())), kScriptLength);
  uint8_t* output = arena.outputRegion;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  uint64_t ticks = 0, produced = 0;
  char* p = text;
  for (char* word; (word = nextWord(p));) {
    uint32_t offset = number(word);
    char* countWord = nextWord(p);
    if (!countWord) break;
    for (uint32_t c = number(countWord); c; --c) {
      mw::fillBytes(chunk, 0, 10);
      if (!readAt(installer, offset, chunk, 4)) ExitProcess(4);
      const uint32_t h = mw::readU32(chunk);
      if (h < mw::kChunkHeaderCount || h > mw::kMaxChunkHeader ||
          !readAt(installer, offset + mw::kChunkPrefix, chunk + mw::kChunkHeaderCount, h - mw::kChunkHeaderCount)) ExitProcess(4);
      offset += mw::kChunkPrefix + (h - mw::kChunkHeaderCount);
      mw::StreamRecord strm = {};
      strm.next_in = chunk;
      strm.avail_in = h;
      strm.next_out = output;
      strm.avail_out = mw::kOutputRegionSize;
      strm.bzalloc = mw::arenaAlloc;
      QueryPerformanceCounter(&start);
      mw::decompressInit(&strm, 0, 0);
      const int32_t rc = mw::decompress(&strm);
      QueryPerformanceCounter(&end);
      if (rc != mw::DecodeStreamEnd) ExitProcess(5);
      ticks += uint64_t(end.QuadPart - start.QuadPart);
      produced += strm.total_out_lo32;
    }
  }
  char result[64];
  char* q = format(result, ticks * 1000000 / uint64_t(frequency.QuadPart), 6);
  *q++ = ' ';
  q = format(q, produced, 0);
  *q++ = '\n';
  HANDLE out = CreateFileA(resultPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(out, result, DWORD(q - result), &written, nullptr);
  CloseHandle(out);
  ExitProcess(0);
}
