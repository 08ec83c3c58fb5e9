// Pieces shared by the block decoder's bit-by-bit states, its fast symbol loop and the output
// stage. Not part of the decoder's interface.
#pragma once

#include "core/bytes.h"
#include "decompress/decoder_state.h"

namespace mw {

// The fast symbol loop is entered only with at least this much input; it stops before a
// symbol when fewer than 8 bytes remain (it loads the input 8 bytes at a time).
constexpr uint32_t kFastLoopInput = 64;
// decodeSymbolsFast's result when it has read the end-of-block symbol.
constexpr int32_t kSymbolsEndOfBlock = 1;

// Decodes symbols from the start of the symbol the machine stands at (state FirstSymbol,
// SymbolAfterRun or SymbolAfterByte, coding table already chosen) until the end-of-block
// symbol (kSymbolsEndOfBlock), bad data (DecodeDataError) or low input (DecodeOk, with the
// machine at the start of the next symbol exactly as the bit-by-bit states would leave it,
// and every input byte not fully used handed back to the stream record).
int32_t decodeSymbolsFast(DecoderState* s);

// Chooses the coding table for the next symbol (every 50 symbols) and sets zn to its shortest
// code length. False when the block has used up its selectors.
bool prepareSymbol(DecoderState* s);
// Stores es copies of the move-to-front front byte. False when the block would overflow.
bool storeRun(DecoderState* s);
// The end-of-block symbol has been read: builds the links and starts the walk.
int32_t finishBlock(DecoderState* s);

// Run digits 0 and 1 add N or 2N to the run length and double N. A run longer than a block
// is bad data that the store after the run rejects; the sum stops growing there so that no
// sequence of digits can overflow it.
inline void addRunDigit(SavedLocals& v, int32_t digit) {
  v.es += v.N << digit;
  if (v.es > kBlockCapacity) v.es = kBlockCapacity + 1;
  if (v.N < (1 << 20)) v.N <<= 1;
}

// The hot loops' helpers are inlined into them on the host; the freestanding build, made for
// size, leaves that to the compiler.
#ifdef MARLOWICK_FREESTANDING
#define MW_HOT
#else
#define MW_HOT __attribute__((always_inline))
#endif

// Shifts entries 0..n-1 of a block of 16 list entries up by one (entry n is overwritten) and
// puts `value` first; the 16 entries are handled as two 64-bit words.
MW_HOT inline void insertAtFront(uint8_t* block, uint32_t n, uint8_t value) {
  uint64_t lo, hi;
  copyBytes(&lo, block, 8);
  if (n < 8) {
    const uint64_t keep = n == 7 ? 0 : ~uint64_t(0) << (8 * (n + 1));
    lo = (((lo << 8) | value) & ~keep) | (lo & keep);
    copyBytes(block, &lo, 8);
    return;
  }
  copyBytes(&hi, block + 8, 8);
  const uint32_t h = n - 8;
  const uint64_t keep = h == 7 ? 0 : ~uint64_t(0) << (8 * (h + 1));
  hi = (((hi << 8) | (lo >> 56)) & ~keep) | (hi & keep);
  lo = (lo << 8) | value;
  copyBytes(block, &lo, 8);
  copyBytes(block + 8, &hi, 8);
}

// Move-to-front decode of a list index of 16 or more: taken from its block of 16, with one
// entry moved across each block boundary below it.
MW_HOT inline uint8_t moveAcrossBlocks(uint8_t* __restrict mtfa, int32_t* __restrict mtfbase, uint32_t nn) {
  const int32_t lno = int32_t(nn >> 4);
  uint8_t* const block = mtfa + mtfbase[lno];
  const uint8_t uc = block[nn & 15];
  // The entry's own block closes the gap and takes the last entry of the block below; each
  // lower block moves down by one position and takes the last entry of the block below it;
  // block 0 takes the value. `below` is the start of the block below the one being moved.
  int32_t below = mtfbase[lno - 1];
  insertAtFront(block, nn & 15, mtfa[below + 15]);
  for (int32_t b = lno - 1; b > 0; --b) {
    const int32_t next = mtfbase[b - 1];
    mtfa[below - 1] = mtfa[next + 15];
    mtfbase[b] = below - 1;
    below = next;
  }
  mtfbase[0] = below - 1;
  mtfa[below - 1] = uc;
  if (below - 1 == 0) {
    // Block 0 reached the bottom of the array: pack the list back to the top.
    int32_t kk = 4095;
    for (int32_t b = 15; b >= 0; --b) {
      for (int32_t entry = 15; entry >= 0; --entry) mtfa[kk--] = mtfa[mtfbase[b] + entry];
      mtfbase[b] = kk + 1;
    }
  }
  return uc;
}
uint8_t moveToFrontFar(uint8_t* mtfa, int32_t* mtfbase, uint32_t nn);  // the same, not inlined

// Move-to-front decode of list index nn on the two-level list. Indices below 16 (by far the
// most common) stay inside block 0.
inline uint8_t moveToFront(uint8_t* mtfa, int32_t* mtfbase, uint32_t nn) {
  if (nn >= 16) return moveToFrontFar(mtfa, mtfbase, nn);
  uint8_t* const front = mtfa + mtfbase[0];
  const uint8_t uc = front[nn];
  insertAtFront(front, nn, uc);
  return uc;
}

// Mask for the next symbol of a randomised block: 1 where the table's countdown says so.
inline uint32_t randomMask(int32_t& toGo, int32_t& tablePos) {
  if (toGo == 0) {
    toGo = kRandomisationTable[tablePos];
    if (++tablePos == 512) tablePos = 0;
  }
  --toGo;
  return toGo == 1 ? 1u : 0u;
}

}  // namespace mw
