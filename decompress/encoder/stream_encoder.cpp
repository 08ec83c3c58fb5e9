// The stream, block by block: the first run-length stage (four equal bytes, then a count of
// up to 255 more), the sorted rotations, move-to-front with runs of the front byte written as
// bijective base-2 digits, and the entropy stage's plan written out.
#include "decompress/encoder/stream_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <emmintrin.h>
#include <memory>
#include <stdexcept>

#include "decompress/encoder/block_cuts.h"
#include "decompress/encoder/entropy_stage.h"
#include "decompress/encoder/suffix_sort.h"

namespace mw::encoder {
namespace {

constexpr uint64_t kBlockMagic = 0x314159265359ull;
constexpr uint64_t kEndMagic = 0x177245385090ull;
constexpr uint32_t kLongestRun = 4 + 255;

class BitWriter {
 public:
  // n is at most 32; the bits wait in the accumulator until 32 can go out at once.
  void put(int n, uint32_t value) {
    acc_ = (acc_ << n) | value;
    live_ += n;
    if (live_ >= 32) {
      live_ -= 32;
      const uint32_t word = uint32_t(acc_ >> live_);
      const uint8_t bytes[4] = {uint8_t(word >> 24), uint8_t(word >> 16), uint8_t(word >> 8), uint8_t(word)};
      bytes_.insert(bytes_.end(), bytes, bytes + 4);
    }
  }
  void put48(uint64_t value) {
    put(24, uint32_t(value >> 24));
    put(24, uint32_t(value & 0xFFFFFFu));
  }
  std::vector<uint8_t> finish() {
    if (live_ % 8) put(8 - live_ % 8, 0);
    for (; live_ > 0; live_ -= 8) bytes_.push_back(uint8_t(acc_ >> (live_ - 8)));
    return std::move(bytes_);
  }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t acc_ = 0;
  int live_ = 0;
};
// The format's CRC: polynomial 0x04C11DB7, most significant bit first.
struct CrcTable {
  std::array<uint32_t, 256> entry;
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      entry[i] = c;
    }
  }
};

uint32_t blockCrc(const uint8_t* data, size_t n) {
  static const CrcTable table;
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table.entry[(crc >> 24) ^ data[i]];
  return ~crc;
}

// The engine's check register starts at all ones and shifts a byte out per byte written; the
// block stores its complement.
uint32_t engineCheck(size_t bytes) { return bytes >= 4 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu << (8 * bytes)); }

// Length of the run of data[at] starting at `at`, at most kLongestRun.
uint32_t runAt(const uint8_t* data, size_t size, size_t at) {
  const size_t end = std::min(size, at + kLongestRun);
  size_t k = at + 1;
  while (k < end && data[k] == data[at]) ++k;
  return uint32_t(k - at);
}

uint32_t runSymbols(uint32_t run) { return run >= 4 ? 5 : run; }

// The first run-length stage from `at` until `limit` symbols would be exceeded: a run of
// four or more becomes four bytes and a count. Returns the input bytes taken.
size_t runLengthEncode(const uint8_t* data, size_t size, size_t at, uint32_t limit, std::vector<uint8_t>& out) {
  // Four bytes make five symbols at most: room for that, not for the whole limit.
  out.resize(std::min<size_t>(limit, (size - at) / 4 * 5 + 4));
  uint8_t* o = out.data();
  uint32_t used = 0;
  size_t k = at;
  while (k < size) {
    const uint32_t run = runAt(data, size, k);
    if (used + runSymbols(run) > limit) break;
    if (run >= 4) {
      std::memset(o + used, data[k], 4);
      o[used + 4] = uint8_t(run - 4);
      used += 5;
    } else {
      for (uint32_t r = 0; r < run; ++r) o[used++] = data[k];
    }
    k += run;
  }
  out.resize(used);
  return k - at;
}

// The input bytes from `at` (to at most `size`) whose first stage takes at most `limit`
// symbols; `symbols` is set to how many they take.
size_t bytesWithin(const uint8_t* data, size_t size, size_t at, uint64_t limit, uint64_t& symbols) {
  symbols = 0;
  size_t k = at;
  while (k < size) {
    // Most bytes differ from the next: a run of one, without the run's search.
    if (k + 1 < size && data[k + 1] != data[k]) {
      if (symbols + 1 > limit) break;
      ++symbols;
      ++k;
      continue;
    }
    const uint32_t run = runAt(data, size, k);
    if (symbols + runSymbols(run) > limit) break;
    symbols += runSymbols(run);
    k += run;
  }
  return k - at;
}

struct Transformed {
  uint32_t origPtr;
  std::array<bool, 256> inUse{};
  int used = 0;
  std::vector<uint16_t> symbols;  // move-to-front and run symbols, end-of-block last
};

void appendRun(std::vector<uint16_t>& symbols, uint32_t run) {
  // Bijective base 2: digit RUNA (0) adds 1 * weight, RUNB (1) adds 2 * weight.
  while (run > 0) {
    if (run & 1) {
      symbols.push_back(0);
      run = (run - 1) / 2;
    } else {
      symbols.push_back(1);
      run = (run - 2) / 2;
    }
  }
}

Transformed transform(const std::vector<uint8_t>& block) {
  Transformed t;
  const uint32_t n = uint32_t(block.size());
  const std::unique_ptr<uint8_t[]> last(new uint8_t[n]);  // filled by the sort
  t.origPtr = sortRotations(block.data(), n, last.get());
  for (uint8_t c : block) t.inUse[c] = true;
  uint8_t rank[256];
  uint8_t list[256] = {};  // past the used ranks never matched: a rank's first place is its own
  for (int c = 0; c < 256; ++c)
    if (t.inUse[c]) {
      rank[c] = uint8_t(t.used);
      list[t.used] = uint8_t(t.used);
      ++t.used;
    }
  t.symbols.reserve(n + 1);
  uint32_t zeros = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t r = rank[last[i]];
    if (list[0] == r) {
      ++zeros;
      continue;
    }
    appendRun(t.symbols, zeros);
    zeros = 0;
    // The position of r in the list and the bytes before it shifted back one: within the
    // first 16 places (most) by one compare of all 16 and a blend; past them by memchr's wide
    // compares and memmove.
    size_t j;
    const __m128i head = _mm_loadu_si128(reinterpret_cast<const __m128i*>(list));
    const uint32_t found = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(head, _mm_set1_epi8(char(r)))));
    if (found) {
      j = size_t(__builtin_ctz(found));
      // Places 1..j take the byte before them, the rest stay.
      const __m128i upTo = _mm_cmplt_epi8(_mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                                          _mm_set1_epi8(char(j + 1)));
      const __m128i moved = _mm_or_si128(_mm_and_si128(upTo, _mm_slli_si128(head, 1)), _mm_andnot_si128(upTo, head));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(list), moved);
    } else {
      j = size_t(static_cast<const uint8_t*>(std::memchr(list + 16, r, size_t(t.used) - 16)) - list);
      std::memmove(list + 1, list, j);
    }
    list[0] = r;
    t.symbols.push_back(uint16_t(j + 1));
  }
  appendRun(t.symbols, zeros);
  t.symbols.push_back(uint16_t(t.used + 1));
  return t;
}

void writeBlock(BitWriter& out, const Transformed& t, uint32_t check) {
  const int alphabet = t.used + 2;
  const CodingPlan plan = planCoding(t.symbols, alphabet);

  out.put48(kBlockMagic);
  out.put(32, check);
  out.put(1, 0);  // not randomised
  out.put(24, t.origPtr);
  uint32_t ranges = 0;
  for (int r = 0; r < 16; ++r)
    for (int k = 0; k < 16; ++k)
      if (t.inUse[r * 16 + k]) ranges |= 0x8000u >> r;
  out.put(16, ranges);
  for (int r = 0; r < 16; ++r) {
    if (!(ranges & (0x8000u >> r))) continue;
    uint32_t bits = 0;
    for (int k = 0; k < 16; ++k)
      if (t.inUse[r * 16 + k]) bits |= 0x8000u >> k;
    out.put(16, bits);
  }

  out.put(3, uint32_t(plan.tables));
  out.put(15, uint32_t(plan.selectors.size()));
  uint8_t order[kMaxTables];
  for (int k = 0; k < kMaxTables; ++k) order[k] = uint8_t(k);
  for (uint8_t sel : plan.selectors) {
    int j = 0;
    while (order[j] != sel) ++j;
    for (int k = 0; k < j; ++k) out.put(1, 1);
    out.put(1, 0);
    for (; j > 0; --j) order[j] = order[j - 1];
    order[0] = sel;
  }

  // Canonical codes: by length, then by symbol, as the decoder assigns them.
  std::array<std::array<uint32_t, kMaxAlphabet>, kMaxTables> codes;
  for (int t2 = 0; t2 < plan.tables; ++t2) {
    const uint8_t* len = plan.lengths[t2].data();
    int current = len[0];
    out.put(5, uint32_t(current));
    for (int s = 0; s < alphabet; ++s) {
      for (; current < len[s]; ++current) out.put(2, 2);
      for (; current > len[s]; --current) out.put(2, 3);
      out.put(1, 0);
    }
    uint32_t code = 0;
    for (int l = 1; l <= kMaxCodeLength; ++l) {
      for (int s = 0; s < alphabet; ++s)
        if (len[s] == l) codes[t2][s] = code++;
      code <<= 1;
    }
  }

  for (size_t i = 0; i < t.symbols.size(); ++i) {
    const int table = plan.selectors[i / kGroupSize];
    const uint16_t s = t.symbols[i];
    out.put(plan.lengths[table][s], codes[table][s]);
  }
}

}  // namespace

std::vector<uint8_t> encodeStream(const uint8_t* data, size_t size, const EncodeOptions& options) {
  if (size == 0) throw std::invalid_argument("encodeStream: empty input has no block to write");
  if (options.blockCapacity < 5 || options.blockCapacity > 900000)
    throw std::invalid_argument("encodeStream: block capacity must be 5 to 900,000 symbols");

  BitWriter out;
  out.put(24, 0x425A68u);  // "BZh"
  out.put(8, uint32_t('0' + (options.blockCapacity + 99999) / 100000));
  uint32_t combined = 0;
  // Full blocks, as the format's usual compressor fills them, each cut into pieces where the
  // cut model finds its parts unlike (an equal split of every block lost up to 4% on single
  // files here). Cut runs can make a piece take more symbols than its share of the block: such
  // a piece takes a second block.
  std::vector<uint8_t> piece;
  for (size_t at = 0; at < size;) {
    uint64_t first = 0, rest = 0;
    size_t blockEnd = at + bytesWithin(data, size, at, options.blockCapacity, first);
    // When the rest takes two blocks, the first need not be the full one: a second block of
    // what is left over can sort worse than one cut where the data changes. (The runs from
    // `at` end where the full block does, so the two counts add up.)
    if (blockEnd < size && blockEnd + bytesWithin(data, size, blockEnd, options.blockCapacity, rest) == size) {
      uint64_t unused = 0;
      const size_t earliest = at + bytesWithin(data, size, at, first + rest - options.blockCapacity, unused);
      blockEnd = firstBlockEnd(data, at, earliest, blockEnd, size);
    }
    for (size_t end : pieceEnds(data, at, blockEnd)) {
      while (at < end) {
        const size_t taken = runLengthEncode(data, end, at, options.blockCapacity, piece);
        const uint32_t check = options.checks == BlockChecks::Crc ? blockCrc(data + at, taken) : engineCheck(taken);
        writeBlock(out, transform(piece), check);
        combined = ((combined << 1) | (combined >> 31)) ^ check;
        at += taken;
      }
    }
  }
  out.put48(kEndMagic);
  out.put(32, combined);
  return out.finish();
}

}  // namespace mw::encoder
