// The output stage: takes the walk's symbols (collected in order in the low bytes of tt) and
// undoes the format's first run-length stage (after four equal bytes the next symbol counts
// further copies). It may stop after any byte when the caller's buffer is full; everything
// needed to resume (pending copies, the run so far, walk position, symbols used) is written
// back to the state.
#include "decompress/decoder_state.h"

namespace mw {

namespace {

// The first run-length stage's state between bytes: the byte of the current run and how many
// of it came in a row (4: the next symbol is a count; 0 after a count and at the block's start).
struct RunState {
  uint32_t same;
  uint8_t ch;
};

// Writes the stretch of the walk from `symbol` to `end` (a symbol every fourth byte) at `out`,
// which has room for all it gives; returns the end of what it wrote. A function of its own, so
// that the 32-bit build keeps its five values in registers: in writeBlockOutput, beside all the
// rest, the run's state went to memory and every byte waited for it there.
[[gnu::noinline]] uint8_t* writeStretch(const uint8_t* symbol, const uint8_t* const end, uint8_t* out, RunState* run) {
  uint32_t same = run->same;
  uint8_t ch = run->ch;
  do {
    const uint32_t sym = *symbol;
    symbol += 4;
    if (same == 4) {
      for (uint32_t i = 0; i < sym; ++i) out[i] = ch;
      out += sym;
      same = 0;
    } else {
      same = (sym == ch ? same : 0) + 1;
      ch = uint8_t(sym);
      *out++ = ch;
    }
  } while (symbol != end);
  run->same = same;
  run->ch = ch;
  return out;
}

}  // namespace

// Every decoded byte passes through here; almost all of them through the stretch loop, which is
// small enough that the decoder's own level (-Os in the Windows build) serves it: at -O2 the
// function took 468 bytes more for 1-2% of the 32-bit decoder's time.
bool writeBlockOutput(DecoderState* s) {
  StreamRecord* const strm = s->strm;
  uint8_t* out = strm->next_out;
  uint32_t room = strm->avail_out;
  uint8_t* const outStart = out;

  const uint8_t* const walk = reinterpret_cast<const uint8_t*>(s->tt);
  const uint32_t cycle = s->cycleLength;
  const int32_t blockEnd = s->save.nblock + 1;
  uint32_t pending = uint32_t(s->stateOutLen);
  RunState run = {s->sameCount, s->stateOutCh};
  uint32_t tPos = s->tPos;
  int32_t used = s->nblockUsed;
  // In locals, like the rest: a byte store may alias the state as far as the compiler knows, so
  // fields read in the loop would be loaded again after every byte written.
  const bool randomised = s->blockRandomised;
  int32_t rNToGo = s->rNToGo;
  int32_t rTPos = s->rTPos;

  for (;;) {
    if (pending == 1 && room != 0) {  // the common case: one byte, no run
      *out++ = run.ch;
      --room;
      pending = 0;
    } else if (pending != 0) {
      const uint32_t n = pending < room ? pending : room;
      for (uint32_t i = 0; i < n; ++i) out[i] = run.ch;
      out += n;
      room -= n;
      pending -= n;
      if (pending != 0) break;
    }
    if (used >= blockEnd) break;
    if (pending == 0 && !randomised) {
      // A stretch of the walk that can be written without the checks below: no symbol of it is
      // the block's last or past it, the walk does not wrap inside it, and the room holds what
      // it can give (one byte per symbol, or up to 255 for a count).
      uint32_t n = room / 256;
      if (n > cycle - tPos) n = cycle - tPos;
      if (n > uint32_t(blockEnd - 1 - used)) n = uint32_t(blockEnd - 1 - used);
      if (n != 0) {
        const uint8_t* const symbol = walk + 4 * tPos;
        uint8_t* const stretchStart = out;
        out = writeStretch(symbol, symbol + 4 * n, out, &run);
        room -= uint32_t(out - stretchStart);
        used += int32_t(n);
        tPos += n;
        if (tPos == cycle) tPos = 0;
        continue;
      }
    }
    // The next symbol of the walk. A damaged block's walk repeats its cycle, as following the
    // links would; a randomised block's symbols are XORed with 1 where the table's countdown
    // says so.
    uint32_t sym = walk[4 * tPos];
    if (++tPos == cycle) tPos = 0;
    ++used;
    if (randomised) {
      if (rNToGo == 0) {
        rNToGo = int32_t(randomisationEntry(uint32_t(rTPos)));
        rTPos = (rTPos + 1) & 511;
      }
      if (--rNToGo == 1) sym ^= 1;
    }
    if (run.same == 4) {
      // After four equal bytes: the count of further copies. The walk takes one symbol past
      // the block's last, which is never written, except as such a count: then the walk has
      // run past the block's end and the block is corrupt (the walk would otherwise never end).
      pending = sym;
      run.same = 0;
      if (used == blockEnd) ++used;
    } else if (used != blockEnd) {
      run.same = (sym == run.ch ? run.same : 0) + 1;
      run.ch = uint8_t(sym);
      pending = 1;
    }
  }

  // The check register shifts in a zero byte for every byte written (normal blocks) or is
  // cleared by it (randomised blocks), so it is updated once for all of this call's bytes.
  const uint32_t written = uint32_t(out - outStart);
  if (written > 0) s->blockCheck = (s->blockRandomised || written >= 4) ? 0 : s->blockCheck << (8 * written);
  strm->next_out = out;
  strm->avail_out = room;
  strm->total_out_lo32 += written;
  if (strm->total_out_lo32 < written) ++strm->total_out_hi32;
  s->stateOutCh = run.ch;
  s->stateOutLen = int32_t(pending);
  s->sameCount = run.same;
  s->tPos = tPos;
  s->nblockUsed = used;
  s->rNToGo = rNToGo;
  s->rTPos = rTPos;
  return pending != 0 || used == blockEnd;
}

}  // namespace mw
