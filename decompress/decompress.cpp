// The driver: hands control between the block decoder and the output stage, compares each
// finished block's check, and places the decoder's memory through the allocation callback.
#include "decompress/decompress.h"

#include "decompress/decoder_state.h"

namespace mw {

#if UINTPTR_MAX == 0xFFFFFFFFu
const uint32_t kStateRegionSize = 64116;
#else
const uint32_t kStateRegionSize = sizeof(DecoderState) > 64116 ? uint32_t(sizeof(DecoderState)) : 64116u;
#endif

DecoderRegions decoderRegions = {nullptr, nullptr};

void* arenaAlloc(void*, int32_t count, int32_t size) {
  uint32_t bytes = uint32_t(count) * uint32_t(size);
  return bytes == kStateRegionSize ? decoderRegions.stateRegion : decoderRegions.tableRegion;
}

int32_t decompressInit(StreamRecord* strm, int32_t, int32_t) {
  // The callers always install arenaAlloc, which never fails; the state is taken as given.
  DecoderState* s = static_cast<DecoderState*>(strm->bzalloc(nullptr, int32_t(kStateRegionSize), 1));
  s->strm = strm;
  strm->state = s;
  s->stateNumber = StreamHeader1;
  s->bsLive = 0;
  s->bsBuff = 0;
  s->streamCheck = 0;
  s->tt = nullptr;
  strm->total_in_lo32 = 0;
  strm->total_in_hi32 = 0;
  strm->total_out_lo32 = 0;
  strm->total_out_hi32 = 0;
  return DecodeOk;
}

int32_t decompress(StreamRecord* strm) {
  DecoderState* s = strm->state;
  if (s == nullptr || s->strm != strm) return DecodeParamError;

  int32_t result;
  for (;;) {
    // A failed stream stays failed: its state number is the failure's result code.
    if (s->stateNumber < 0) return s->stateNumber;
    if (s->stateNumber == StreamEnded) return DecodeSequenceError;
    if (s->stateNumber == WritingBlock) {
      result = DecodeDataError;
      if (!writeBlockOutput(s)) break;
      if (s->nblockUsed != s->save.nblock + 1 || s->stateOutLen != 0) return DecodeOk;
      s->blockCheck = ~s->blockCheck;
      if (s->blockCheck != s->storedBlockCRC) break;
      s->streamCheck = ((s->streamCheck << 1) | (s->streamCheck >> 31)) ^ s->blockCheck;
      s->stateNumber = BlockMagic1;
    }
    result = decodeBlock(s);
    if (result == DecodeStreamEnd && s->streamCheck != s->storedCombinedCRC) result = DecodeDataError;
    if (result != DecodeOk || s->stateNumber != WritingBlock) break;
  }
  if (result < 0) s->stateNumber = result;
  return result;
}

}  // namespace mw
