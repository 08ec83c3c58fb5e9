// decode_probe.exe: the freestanding Windows build of the decompressor at work. For each pair
// of paths on its command line (IN OUT, separated by blanks) it reads IN, made by
// mw_store_file on the host: [u32 output size][ten framing bytes][stored body]. It decodes the
// stream twice, once in one call and once with the input handed over 7 bytes and the output
// room 1000 bytes at a time, requires result 4, the announced size and equal outputs, and
// writes the output to OUT. Exit code 0 when every stream passed, otherwise 16 x (index of the
// first failing pair, from 1) + what failed (1 reading, 2 one-call decode, 3 piecewise decode,
// 4 outputs differ, 5 writing).
#include <windows.h>

#include "core/command_line.h"
#include "core/bytes.h"
#include "decompress/decompress.h"

namespace {

void* allocate(uint32_t size) { return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE); }

// Next blank-separated word of the command line, NUL-terminated in place.
char* nextWord(char*& p) {
  while (*p == ' ') ++p;
  if (!*p) return nullptr;
  char* word = p;
  while (*p && *p != ' ') ++p;
  if (*p) *p++ = 0;
  return word;
}

uint8_t* readWhole(const char* path, uint32_t* size) {
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return nullptr;
  const DWORD length = GetFileSize(f, nullptr);
  uint8_t* data = static_cast<uint8_t*>(allocate(length + 1));
  DWORD got = 0;
  const BOOL ok = data && ReadFile(f, data, length, &got, nullptr) && got == length;
  CloseHandle(f);
  *size = length;
  return ok ? data : nullptr;
}

bool writeWhole(const char* path, const uint8_t* data, uint32_t size) {
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(f, data, size, &put, nullptr) && put == size;
  CloseHandle(f);
  return ok;
}

mw::StreamRecord strm;

void begin(const uint8_t* in, uint8_t* out) {
  mw::fillBytes(&strm, 0, sizeof strm);
  strm.bzalloc = mw::arenaAlloc;
  mw::decompressInit(&strm, 0, 0);
  strm.next_in = in;
  strm.next_out = out;
}

// Returns 0 or the failure kind for one stored file.
int probe(const char* inPath, const char* outPath) {
  uint32_t fileSize = 0;
  const uint8_t* file = readWhole(inPath, &fileSize);
  if (!file || fileSize < 14) return 1;
  const uint32_t expected = mw::readU32(file);
  const uint8_t* in = file + 4;
  const uint32_t inSize = fileSize - 4;
  uint8_t* whole = static_cast<uint8_t*>(allocate(expected + 1));
  uint8_t* pieces = static_cast<uint8_t*>(allocate(expected + 1));
  if (!whole || !pieces) return 1;

  begin(in, whole);
  strm.avail_in = inSize;
  strm.avail_out = expected;
  if (mw::decompress(&strm) != mw::DecodeStreamEnd || strm.total_out_lo32 != expected) return 2;

  begin(in, pieces);
  uint32_t inGiven = 0, roomGiven = 0;
  int32_t result = mw::DecodeOk;
  while (result == mw::DecodeOk) {
    const uint32_t inBefore = strm.total_in_lo32, outBefore = strm.total_out_lo32;
    bool gave = false;
    if (strm.avail_in == 0 && inGiven < inSize) {
      strm.avail_in = inSize - inGiven < 7 ? inSize - inGiven : 7;
      inGiven += strm.avail_in;
      gave = true;
    }
    if (strm.avail_out == 0 && roomGiven < expected) {
      strm.avail_out = expected - roomGiven < 1000 ? expected - roomGiven : 1000;
      roomGiven += strm.avail_out;
      gave = true;
    }
    result = mw::decompress(&strm);
    if (result == mw::DecodeOk && !gave && strm.total_in_lo32 == inBefore && strm.total_out_lo32 == outBefore) break;
  }
  if (result != mw::DecodeStreamEnd || strm.total_out_lo32 != expected) return 3;
  for (uint32_t k = 0; k < expected; ++k)
    if (whole[k] != pieces[k]) return 4;
  return writeWhole(outPath, whole, expected) ? 0 : 5;
}

}  // namespace

extern "C" void __stdcall entryPoint() {
  mw::decoderRegions.stateRegion = allocate(mw::kStateRegionSize);
  mw::decoderRegions.tableRegion = allocate(mw::kTableRegionSize);

  char* p = mw::skipProgramPath(GetCommandLineA());
  UINT exitCode = 0;
  for (UINT index = 1;; ++index) {
    char* inPath = nextWord(p);
    char* outPath = nextWord(p);
    if (!inPath || !outPath) break;
    const int failure = probe(inPath, outPath);
    if (failure && exitCode == 0) exitCode = 16 * index + UINT(failure);
  }
  ExitProcess(exitCode);
}
