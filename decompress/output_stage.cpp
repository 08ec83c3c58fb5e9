// The output stage: walks the inverse transform's links through tt and undoes the format's
// first run-length stage (after four equal bytes the next symbol counts further copies).
// It may stop after any byte when the caller's buffer is full; everything needed to resume
// (pending run, next symbol, walk position, symbols used) is written back to the state.
#include "decompress/block_decoder_internal.h"

namespace mw {
namespace {

template <bool kRandomised>
bool writeRuns(DecoderState* s) {
  StreamRecord* strm = s->strm;
  uint8_t* out = strm->next_out;
  uint32_t room = strm->avail_out;
  uint8_t* const outStart = out;

  const uint32_t* const tt = s->tt;
  const int32_t blockEnd = s->save.nblock + 1;
  uint32_t check = s->blockCheck;
  uint8_t ch = s->stateOutCh;
  uint32_t runLen = uint32_t(s->stateOutLen);
  uint32_t k0 = uint32_t(s->k0);
  uint32_t tPos = s->tPos;
  int32_t used = s->nblockUsed;
  int32_t toGo = s->rNToGo;
  int32_t tablePos = s->rTPos;
  bool intact = true;

  // The walk's symbols lie in walk order in the low bytes of tt; a damaged block's walk
  // repeats its cycle, as following the links would.
  const uint8_t* const walk = reinterpret_cast<const uint8_t*>(tt);
  const uint32_t cycle = s->cycleLength;
  auto take = [&]() -> uint32_t {
    uint32_t sym = walk[4 * tPos];
    if (++tPos == cycle) tPos = 0;
    ++used;
    if (kRandomised) sym ^= randomMask(toGo, tablePos);
    return sym;
  };

  for (;;) {
    if (runLen > 0) {
      uint32_t n = runLen < room ? runLen : room;
      for (uint32_t k = 0; k < n; ++k) out[k] = ch;
      out += n;
      room -= n;
      runLen -= n;
      if (n > 0) check = (kRandomised || n >= 4) ? 0 : check << (8 * n);
      if (runLen > 0) break;
    }
    if (used == blockEnd) break;
    // A run of four equal bytes whose count symbol lay beyond the block's last symbol has
    // walked past the end; the block is corrupt (the walk would otherwise never end).
    if (used > blockEnd) {
      intact = false;
      break;
    }
    ch = uint8_t(k0);
    runLen = 1;
    uint32_t k1 = take();
    if (used == blockEnd) continue;
    if (k1 != k0) { k0 = k1; continue; }
    runLen = 2;
    k1 = take();
    if (used == blockEnd) continue;
    if (k1 != k0) { k0 = k1; continue; }
    runLen = 3;
    k1 = take();
    if (used == blockEnd) continue;
    if (k1 != k0) { k0 = k1; continue; }
    runLen = take() + 4;
    k0 = take();
  }

  const uint32_t written = uint32_t(out - outStart);
  strm->next_out = out;
  strm->avail_out = room;
  strm->total_out_lo32 += written;
  if (strm->total_out_lo32 < written) ++strm->total_out_hi32;
  s->blockCheck = check;
  s->stateOutCh = ch;
  s->stateOutLen = int32_t(runLen);
  s->k0 = int32_t(k0);
  s->tPos = tPos;
  s->nblockUsed = used;
  s->rNToGo = toGo;
  s->rTPos = tablePos;
  return intact;
}

}  // namespace

bool writeBlockOutput(DecoderState* s) {
  return s->blockRandomised ? writeRuns<true>(s) : writeRuns<false>(s);
}

}  // namespace mw
