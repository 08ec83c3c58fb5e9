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

int32_t decompressInit(StreamRecord* strm, int32_t verbosity, int32_t) {
  // The callers always install arenaAlloc, which never fails; the state is taken as given.
  DecoderState* s = static_cast<DecoderState*>(strm->bzalloc(nullptr, int32_t(kStateRegionSize), 1));
  s->strm = strm;
  strm->state = s;
  s->stateNumber = StreamHeader1;
  s->bsLive = 0;
  s->bsBuff = 0;
  s->streamCheck = 0;
  s->currBlockNo = 0;
  s->tt = nullptr;
  s->verbosity = verbosity;
  strm->total_in_lo32 = 0;
  strm->total_in_hi32 = 0;
  strm->total_out_lo32 = 0;
  strm->total_out_hi32 = 0;
  return DecodeOk;
}

int32_t decompress(StreamRecord* strm) {
  DecoderState* s = strm->state;
  if (s == nullptr || s->strm != strm) return DecodeParamError;

  for (;;) {
    if (s->stateNumber == StreamEnded) return DecodeSequenceError;
    if (s->stateNumber == WritingBlock) {
      if (!writeBlockOutput(s)) return DecodeDataError;
      const int32_t blockEnd = s->save.nblock + 1;
      if (s->nblockUsed != blockEnd || s->stateOutLen != 0) return DecodeOk;
      s->blockCheck = ~s->blockCheck;
      if (s->blockCheck != s->storedBlockCRC) return DecodeDataError;
      s->streamCheck = ((s->streamCheck << 1) | (s->streamCheck >> 31)) ^ s->blockCheck;
      s->stateNumber = BlockMagic1;
    }
    if (s->stateNumber >= StreamHeader1) {
      int32_t r = decodeBlock(s);
      if (r == DecodeStreamEnd) return s->streamCheck == s->storedCombinedCRC ? DecodeStreamEnd : DecodeDataError;
      if (s->stateNumber != WritingBlock) return r;
    }
  }
}

}  // namespace mw
