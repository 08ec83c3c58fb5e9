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
// the caller learns once per block with prefetchAvailable().
#if defined(__i386__) && !defined(__SSE__)
bool prefetchAvailable() {
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE)) return true;
  return __get_cpuid(0x80000001u, &a, &b, &c, &d) && (d & (1u << 22));
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
constexpr uint32_t kMaxSegmentLength = kOffsetMask + 1;
constexpr uint32_t kLinkMask = 0xFFFFFu;         // bits 8..27 of an unvisited entry
constexpr uint32_t kSeeds = 224;
constexpr int kWalkers = 32;
// Seeds, plus the splits of segments that reach kMaxSegmentLength, never exceed 255.
static_assert(kSeeds + kTableEntries / kMaxSegmentLength + 1 <= kSegmentNumbers, "segment numbers");
// Seed rows are seed * nblock / kSeeds, computed in 32 bits.
static_assert(uint64_t(kSeeds) * kTableEntries <= 0xFFFFFFFFu, "seed rows need no 64-bit product");

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
  // keeps many of them in flight at once. Walker k stands at row[k], offset[k] rows into
  // segment[k]; a walker that reaches a segment's first row takes the next seed's segment.
  const uint32_t seeded = segments;
  const bool prefetch = prefetchAvailable();
  uint32_t walked = 0;
  uint32_t row[kWalkers], segment[kWalkers], offset[kWalkers];
  int active = 0;
  for (;;) {
    for (; active < kWalkers && walked < seeded; ++active, ++walked) {
      row[active] = length[walked];
      segment[active] = walked;
      offset[active] = 1;
    }
    if (active == 0) break;
    for (int k = 0; k < active;) {
      const uint32_t v = tt[row[k]];
      if (v & kVisited) {
        // Reached a segment's first row: this segment ends here.
        next[segment[k]] = uint8_t(v >> kSegmentShift);
        length[segment[k]] = offset[k];
        --active;
        row[k] = row[active];
        segment[k] = segment[active];
        offset[k] = offset[active];
        continue;
      }
      if (offset[k] == kMaxSegmentLength) {
        next[segment[k]] = uint8_t(segments);
        length[segment[k]] = offset[k];
        segment[k] = segments++;
        offset[k] = 0;
      }
      tt[row[k]] = (v & 0xFFu) | (offset[k] << 8) | (segment[k] << kSegmentShift) | kVisited;
      row[k] = (v >> 8) & kLinkMask;
      // Ask for the next row's line now, for writing: it will be marked when this walker's
      // turn comes round again.
      prefetchForWrite(tt + row[k], prefetch);
      ++offset[k];
      ++k;
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

  // Write each collected row's first-column byte to its output position.
  uint8_t* const bytes = reinterpret_cast<uint8_t*>(tt);
  const int32_t* const bucketEnd = s->cftab;  // after the link pass: end of each byte's rows
  uint32_t u = 0;
  for (uint32_t row = 0; row < nblock; ++row) {
    while (row >= uint32_t(bucketEnd[u])) ++u;
    const uint32_t v = tt[row];
    if (!(v & kVisited)) continue;
    const int32_t at = start[(v >> kSegmentShift) & 0xFFu];
    if (at < 0) continue;
    bytes[4 * (uint32_t(at) + ((v >> 8) & kOffsetMask))] = uint8_t(u);
  }
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
  for (uint32_t k = 0; k < nblock; ++k) tt[cftab[tt[k] & 0xFFu]++] |= k << 8;

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
