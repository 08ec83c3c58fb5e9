// The stream decoder over arbitrary bytes, decoded twice: once with all input and all output
// room in one call, and once fed in pieces of random size with output room handed out in
// pieces of random size. Splitting must never change the bytes written or the final result,
// and no input may make the decoder touch memory outside the buffers it was given (the
// sanitizers watch that).
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "decompress/decompress.h"

namespace {

constexpr uint32_t kOutputCap = 1u << 20;  // one chunk's worth, as the installer decodes

struct Buffers {
  uint8_t* state;
  uint8_t* table;
  uint8_t* whole;
  uint8_t* split;
};

Buffers& buffers() {
  static Buffers b = {static_cast<uint8_t*>(malloc(mw::kStateRegionSize)),
                      static_cast<uint8_t*>(malloc(mw::kTableRegionSize)),
                      static_cast<uint8_t*>(malloc(kOutputCap)),
                      static_cast<uint8_t*>(malloc(kOutputCap))};
  mw::decoderRegions.stateRegion = b.state;
  mw::decoderRegions.tableRegion = b.table;
  return b;
}

void begin(mw::StreamRecord& s) {
  memset(&s, 0, sizeof s);
  s.bzalloc = mw::arenaAlloc;
  mw::decompressInit(&s, 0, 0);
}

// A small deterministic generator for the piece sizes, seeded from the input.
struct Pieces {
  uint32_t x;
  uint32_t next(uint32_t limit) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return 1 + x % limit;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4 || size > (1u << 20)) return 0;
  Buffers& b = buffers();
  uint32_t seed = uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | 1u;
  // The caller-supplied ten bytes in front of the body: the installer's framing, never 0x17 as
  // the fifth byte. The body is the rest of the input, in a buffer of its exact size.
  size_t bodySize = size - 3;
  size_t inputSize = 10 + bodySize;
  uint8_t* input = static_cast<uint8_t*>(malloc(inputSize));
  memset(input, 0, 10);
  memcpy(input + 10, data + 3, bodySize);

  mw::StreamRecord whole;
  begin(whole);
  whole.next_in = input;
  whole.avail_in = uint32_t(inputSize);
  whole.next_out = b.whole;
  whole.avail_out = kOutputCap;
  int32_t wholeResult = mw::decompress(&whole);
  uint32_t wholeOut = whole.total_out_lo32;

  mw::StreamRecord split;
  begin(split);
  Pieces pieces{seed};
  uint32_t given = 0, room = 0;
  int32_t splitResult = mw::DecodeOk;
  split.next_in = input;
  split.next_out = b.split;
  for (;;) {
    if (split.avail_in == 0 && given < inputSize) {
      uint32_t n = pieces.next(64);
      if (n > inputSize - given) n = uint32_t(inputSize - given);
      split.avail_in = n;
      given += n;
    }
    if (split.avail_out == 0 && room < kOutputCap) {
      uint32_t n = pieces.next(4096);
      if (n > kOutputCap - room) n = kOutputCap - room;
      split.avail_out = n;
      room += n;
    }
    splitResult = mw::decompress(&split);
    if (splitResult != mw::DecodeOk) break;
    // A call that returns 0 has used up its input or its room; stop when neither can grow.
    bool starved = split.avail_in == 0 && given == inputSize && split.avail_out != 0;
    bool full = split.avail_out == 0 && room == kOutputCap;
    if (starved || full) break;
    if (split.avail_in != 0 && split.avail_out != 0) abort();  // returned 0 with both left
  }

  if (splitResult != wholeResult || split.total_out_lo32 != wholeOut ||
      memcmp(b.whole, b.split, wholeOut) != 0)
    abort();
  free(input);
  return 0;
}
