// Turns a decoded block into its symbols in output order.
//
// After the link pass, entry j of tt holds in bits 8..27 the row that follows row j, and the
// block's symbols in output order are the first-column bytes of the rows met when following
// those links from the primary index. Following one chain of 900,000 links costs a full
// memory latency per step (the table is far larger than the caches), so the chain is cut into
// segments that many walkers follow at once: each walker starts at a seed row, marks every
// row it passes with its segment number and its offset in the segment, and stops at the next
// seed row. Chaining the segments from the primary index's one gives each segment its place in
// the output; one sequential pass then writes every row's first-column byte (known from the
// row's bucket, since rows are sorted by that byte) to the low byte of the entry at that row's
// output position. The pass reads only the marks in the upper bits and writes only low
// bytes, so it can work in place.
//
// The result is the exact sequence the direct walk would produce, also for a damaged block
// whose links form several cycles: only the cycle through the primary index is collected, and
// the output stage repeats it as the direct walk would.
#include "decompress/decoder_state.h"

#if defined(__i386__) && !defined(__SSE__)
#include <cpuid.h>
#endif

namespace mw {
namespace {

// Asks for the cache line at p, to be written soon. The 32-bit Windows build is made for every
// processor since the Pentium Pro, and the prefetch instruction came later (Pentium III, Athlon):
// there it is issued only where the processor reports it (SSE, or AMD's MMX extensions), which
// the caller learns with prefetchAvailable(). The processor is asked once per process: under a
// hypervisor each cpuid leaves the guest, which took half a percent of the decoding time when
// it was asked for every block.
#if defined(__i386__) && !defined(__SSE__)
bool prefetchAvailable() {
  static uint8_t answer;  // 0: not asked yet, 1: no, 2: yes
  if (answer == 0) {
    unsigned a, b, c, d;
    answer = (__get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE)) ||
                     (__get_cpuid(0x80000001u, &a, &b, &c, &d) && (d & (1u << 22)))
                 ? 2
                 : 1;
  }
  return answer == 2;
}
inline void prefetchForWrite(const void* p, bool available) {
  if (available) __asm__ volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
}
#else
bool prefetchAvailable() { return true; }
inline void prefetchForWrite(const void* p, bool) { __builtin_prefetch(p, 1); }
#endif

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "symbols are written to the low byte of each entry");

constexpr uint32_t kVisited = 0x80000000u;
constexpr uint32_t kSegmentShift = 23;           // bits 23..30: segment number
constexpr uint32_t kOffsetMask = 0x7FFFu;        // bits 8..22: offset inside the segment
constexpr uint32_t kMaxSegmentLength = kOffsetMask;  // offsets 0..kOffsetMask - 1
constexpr uint32_t kLinkMask = 0xFFFFFu;         // bits 8..27 of an unvisited entry
constexpr uint32_t kSeeds = 224;
constexpr int kWalkers = 32;
constexpr uint32_t kSpareSegment = kSegmentNumbers - 1;  // the walkers' start (see collectCycle)
// Seeds, plus the splits of segments that reach kMaxSegmentLength, stay below kSpareSegment.
static_assert(kSeeds + kTableEntries / kMaxSegmentLength < kSpareSegment, "segment numbers");
// Seed rows are seed * nblock / kSeeds, computed in 32 bits.
static_assert(uint64_t(kSeeds) * kTableEntries <= 0xFFFFFFFFu, "seed rows need no 64-bit product");

// A walker of the inverse transform: the row it stands at, and what it writes there (its
// segment number, its offset in the segment and the visited bit, one word for both counters).
struct Walker {
  uint32_t row;
  uint32_t mark;
};

// Moves the walkers from w on one row each, in turn (after the one before `end` comes `begin`),
// until one stands at a row already visited or has filled its segment: returns that one, not
// moved. A function of its own, so that its few values get the 32-bit build's registers: each
// step marks a row, the walker's segments and seeds are looked after by the caller.
[[gnu::noinline]] Walker* walk(uint32_t* tt, Walker* begin, Walker* w, Walker* end, bool prefetch) {
  for (;; ++w) {
    if (w == end) w = begin;
    uint32_t* const entry = tt + w->row;
    const uint32_t v = *entry;
    const uint32_t m = w->mark;
    if ((v & kVisited) || (m & kOffsetMask << 8) == kMaxSegmentLength << 8) return w;
    *entry = (v & 0xFFu) | m;
    w->row = (v >> 8) & kLinkMask;
    // Ask for the next row's line now, for writing: it will be marked when this walker's turn
    // comes round again.
    prefetchForWrite(tt + w->row, prefetch);
    w->mark = m + (1u << 8);
  }
}

// Writes each collected row's first-column byte (the row's bucket u: bucketEnd[u] is where the
// rows of byte value u end, after the link pass) to its output position: the start of its
// segment plus its offset. Kept out of collectCycle for the same reason as walk.
[[gnu::noinline]] void placeSymbols(uint32_t* tt, const int32_t* bucketEnd, const int32_t* start, uint32_t nblock) {
  uint8_t* const bytes = reinterpret_cast<uint8_t*>(tt);
  uint32_t u = 0;
  const uint32_t* end = tt + bucketEnd[0];
  for (const uint32_t* row = tt; row != tt + nblock; ++row) {
    while (row == end) end = tt + bucketEnd[++u];
    const uint32_t v = *row;
    if (!(v & kVisited)) continue;
    const int32_t at = start[(v >> kSegmentShift) & 0xFFu];
    if (at < 0) continue;
    bytes[4 * (uint32_t(at) + ((v >> 8) & kOffsetMask))] = uint8_t(u);
  }
}

// Follows the links from origPtr and writes the symbols met to the low bytes of tt in walk
// order; returns how many there are before the walk repeats (0 if the links are inconsistent).
uint32_t collectCycle(DecoderState* s, uint32_t nblock, uint32_t origPtr) {
  uint32_t* const tt = s->tt;
  uint8_t* const next = s->segmentNext;
  uint32_t* const length = s->segmentLength;
  int32_t* const start = s->segmentStart;

  // Every seed row starts a segment: the primary index and rows spread evenly over the block.
  // Until its segment has been walked, its length entry holds the row after the seed.
  uint32_t segments = 0;
  for (uint32_t seed = 0; seed < kSeeds; ++seed) {
    const uint32_t row = seed == 0 ? origPtr : seed * nblock / kSeeds;
    const uint32_t v = tt[row];
    if (v & kVisited) continue;  // the same row twice in a small block
    tt[row] = (v & 0xFFu) | (segments << kSegmentShift) | kVisited;
    length[segments++] = (v >> 8) & kLinkMask;
  }

  // The walkers advance in turn; their loads do not depend on each other, so the processor
  // keeps many of them in flight at once. A walker that reaches a segment's first row takes
  // the next seed's segment, or leaves when every seed has been taken. Each starts as if it had
  // just ended a segment numbered kSpareSegment (never a real one) at the primary index's row,
  // which is visited: so the code that hands out the seeds also starts the walkers.
  const uint32_t seeded = segments;
  const bool prefetch = prefetchAvailable();
  Walker walkers[kWalkers];
  for (Walker& w : walkers) w = {origPtr, kVisited | kSpareSegment << kSegmentShift};
  uint32_t walked = 0;
  uint32_t active = kWalkers;
  Walker* w = walkers;
  while (active != 0) {
    w = walk(tt, walkers, w, walkers + active, prefetch);
    const uint32_t v = tt[w->row];
    const uint32_t seg = (w->mark >> kSegmentShift) & 0xFFu;
    if (v & kVisited) {
      // Reached a segment's first row: this segment ends here.
      next[seg] = uint8_t(v >> kSegmentShift);
      length[seg] = (w->mark >> 8) & kOffsetMask;
      if (walked < seeded) {
        *w = {length[walked], kVisited | walked << kSegmentShift | 1u << 8};
        ++walked;
      } else {
        *w = walkers[--active];
      }
    } else {
      // The segment is full: the walker goes on in a new one.
      next[seg] = uint8_t(segments);
      length[seg] = kMaxSegmentLength;
      w->mark = kVisited | segments++ << kSegmentShift;
    }
  }

  // Place the segments of the primary index's cycle one after the other.
  for (uint32_t k = 0; k < segments; ++k) start[k] = -1;
  uint32_t cycle = 0;
  uint32_t seg = 0;
  for (uint32_t k = 0; k < segments; ++k) {
    start[seg] = int32_t(cycle);
    cycle += length[seg];
    seg = next[seg];
    if (seg == 0) break;
  }
  if (seg != 0 || cycle > nblock) return 0;  // cannot happen with links of one block

  placeSymbols(tt, s->cftab, start, nblock);
  return cycle;
}

}  // namespace

int32_t finishBlock(DecoderState* s) {
  const uint32_t nblock = uint32_t(s->save.nblock);
  if (uint32_t(s->origPtr) >= nblock) return DecodeDataError;

  // Where each byte value's rows start: the counts of the smaller values before it (the symbol
  // loop counted each value one place up). The counts are kept in step with the symbols
  // stored, so they add up to the block's symbol count; that keeps every link below inside
  // the block, and so the walk of the output stage inside it without a test per byte.
  uint32_t* const tt = s->tt;
  int32_t* const cftab = s->cftab;
  for (int32_t k = 1; k <= 256; ++k) cftab[k] += cftab[k - 1];
  // (nblock is above origPtr, so at least 1.)
  uint32_t k = 0;
  do tt[cftab[tt[k] & 0xFFu]++] |= k << 8;
  while (++k != nblock);

  const uint32_t cycle = collectCycle(s, nblock, uint32_t(s->origPtr));
  if (cycle == 0) return DecodeDataError;
  s->cycleLength = cycle;
  s->stateOutLen = 0;
  s->sameCount = 0;
  s->blockCheck = 0xFFFFFFFFu;
  s->tPos = 0;
  s->nblockUsed = 0;
  s->rNToGo = 0;
  s->rTPos = 0;
  return DecodeOk;
}

}  // namespace mw
