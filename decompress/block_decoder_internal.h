// Pieces shared by the block decoder's bit-by-bit states, its fast symbol loop and the output
// stage. Not part of the decoder's interface.
#pragma once

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

// Move-to-front decode of list index nn on the two-level list: an index below 16 is served
// inside block 0; a larger one moves one entry per block boundary.
inline uint8_t moveToFront(uint8_t* mtfa, int32_t* mtfbase, uint32_t nn) {
  uint8_t uc;
  if (nn < 16) {
    const int32_t pp = mtfbase[0];
    uc = mtfa[pp + nn];
    for (uint32_t k = nn; k > 0; --k) mtfa[pp + k] = mtfa[pp + k - 1];
    mtfa[pp] = uc;
    return uc;
  }
  int32_t lno = int32_t(nn >> 4);
  int32_t pp = mtfbase[lno] + int32_t(nn & 15);
  uc = mtfa[pp];
  for (; pp > mtfbase[lno]; --pp) mtfa[pp] = mtfa[pp - 1];
  ++mtfbase[lno];
  for (; lno > 0; --lno) {
    --mtfbase[lno];
    mtfa[mtfbase[lno]] = mtfa[mtfbase[lno - 1] + 15];
  }
  --mtfbase[0];
  mtfa[mtfbase[0]] = uc;
  if (mtfbase[0] == 0) {
    // Block 0 reached the bottom of the array: pack the list back to the top.
    int32_t kk = 4095;
    for (int32_t block = 15; block >= 0; --block) {
      for (int32_t entry = 15; entry >= 0; --entry) mtfa[kk--] = mtfa[mtfbase[block] + entry];
      mtfbase[block] = kk + 1;
    }
  }
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
