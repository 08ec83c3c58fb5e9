// The output stage: walks the inverse transform's links through tt and undoes the format's
// first run-length stage (after four equal bytes the next symbol counts further copies).
// It may stop after any byte when the caller's buffer is full; everything needed to resume
// (pending run, next symbol, walk position, symbols used) is written back to the state.
#include "core/bytes.h"
#include "decompress/block_decoder_internal.h"

namespace mw {
namespace {

// Writes exactly n copies of a byte, with word stores (possibly overlapping) inside [out, out+n).
inline void putRun(uint8_t* out, uint8_t ch, uint32_t n) {
  const uint64_t word = uint64_t(ch) * 0x0101010101010101ull;
  if (n >= 8) {
    for (uint32_t k = 0; k + 8 <= n; k += 8) copyBytes(out + k, &word, 8);
    copyBytes(out + n - 8, &word, 8);
  } else if (n >= 4) {
    copyBytes(out, &word, 4);
    copyBytes(out + n - 4, &word, 4);
  } else if (n > 0) {
    out[0] = ch;
    out[n >> 1] = ch;
    out[n - 1] = ch;
  }
}

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
    if (!kRandomised) {
      // While no run is pending, a whole run fits (at most 259 bytes) and at least five
      // symbols remain before the block's end and the cycle's end, none of the end tests
      // below can trigger: take runs straight from the symbols.
      while (runLen == 0 && room >= 259 && used + 5 < blockEnd && tPos + 5 < cycle) {
        const uint8_t* w = walk + 4 * tPos;
        if (w[0] != k0) {  // by far the most common case: a byte unlike the next one
          *out++ = uint8_t(k0);
          --room;
          k0 = w[0];
          ++tPos;
          ++used;
          continue;
        }
        uint32_t n;
        if (w[4] != k0) {
          n = 2;
        } else if (w[8] != k0) {
          n = 3;
        } else {
          n = w[12] + 4u;
          putRun(out, uint8_t(k0), n);
          out += n;
          room -= n;
          k0 = w[16];
          tPos += 5;
          used += 5;
          continue;
        }
        putRun(out, uint8_t(k0), n);
        out += n;
        room -= n;
        k0 = w[4 * (n - 1)];
        tPos += n;
        used += int32_t(n);
      }
    }
    if (runLen > 0) {
      uint32_t n = runLen < room ? runLen : room;
      putRun(out, ch, n);
      out += n;
      room -= n;
      runLen -= n;
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

  // The check register shifts in a zero byte for every byte written (normal blocks) or is
  // cleared by it (randomised blocks), so it is updated once for all of this call's bytes.
  const uint32_t written = uint32_t(out - outStart);
  if (written > 0) check = (kRandomised || written >= 4) ? 0 : check << (8 * written);
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
