// Public face of the stream decompressor: the stream record the callers fill in, the two
// operations, the result codes and the allocation callback that places the decoder's memory
// in the arena. The private DecoderState and the state machine live in decoder_state.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace mw {

struct DecoderState;

// One record per stream being decoded; callers keep a single one and reuse it.
struct StreamRecord {
  const uint8_t* next_in;   // next input byte
  uint32_t avail_in;        // input bytes available at next_in
  uint32_t total_in_lo32;   // input consumed, low word
  uint32_t total_in_hi32;   // input consumed, high word
  uint8_t* next_out;        // where the next output byte goes
  uint32_t avail_out;       // room left at next_out
  uint32_t total_out_lo32;  // output produced, low word
  uint32_t total_out_hi32;  // output produced, high word
  DecoderState* state;      // the decoder's private state
  void* (*bzalloc)(void* opaque, int32_t count, int32_t size);  // always arenaAlloc
  void (*bzfree)(void* opaque, void* p);                         // never called
  void* opaque;                                                  // handed to bzalloc
};

enum DecodeResult : int32_t {
  DecodeOk = 0,             // input ran out or output is full; call again
  DecodeStreamEnd = 4,      // end-of-stream marker read and the stream check matched
  DecodeSequenceError = -1, // called again after the stream has ended
  DecodeParamError = -2,    // record has no state or the state is not this record's
  DecodeMemError = -3,      // the allocation callback gave no table
  DecodeDataError = -4,     // a data check, a block check or the stream check failed
};

// The table holds 900,000 entries of 32 bits.
constexpr uint32_t kTableRegionSize = 3600000;

// On the 32-bit Windows target the state record is exactly 64,116 bytes, the size the arena
// reserves for it. With wider pointers the record grows; the arena's state region, the request
// decompressInit makes and the size arenaAlloc recognises all use this one constant.
extern const uint32_t kStateRegionSize;

int32_t decompressInit(StreamRecord* strm, int32_t verbosity, int32_t small);
int32_t decompress(StreamRecord* strm);

// Hands out the arena's state region for a request of kStateRegionSize bytes (count x size,
// low 32 bits) and the table region for anything else. Never fails, never frees.
void* arenaAlloc(void* opaque, int32_t count, int32_t size);

// Where arenaAlloc finds its two regions; set by allocateArena (or by a test).
struct DecoderRegions {
  void* stateRegion;
  void* tableRegion;
};
extern DecoderRegions decoderRegions;

}  // namespace mw
