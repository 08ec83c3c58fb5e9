// Choosing the coding tables: a clustering of the block's groups of 50 symbols. Tables start
// from a split of the alphabet by frequency; then, repeatedly, every group goes to the table
// that codes it in the fewest bits, counting what its selector costs (its position in the
// tables' move-to-front list, in unary), and every table gets the optimal length-limited code
// for the groups it was given, until the size stops falling. Then each table's lengths are
// picked among a few weightings of unused symbols by what the lengths plus their header cost.
// The table counts tried depend on the block's length; the smallest wins, and a few more
// rounds of the final kind polish it.
#include "decompress/encoder/entropy_stage.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <utility>

#include "decompress/encoder/code_lengths.h"

namespace mw::encoder {
namespace {

// The costs of a group under all tables at once: ten bits per table (a group costs at most
// 50 * 20 = 1000 bits), so one addition per symbol serves every table.
constexpr int kCostBits = 10;
constexpr uint64_t kCostMask = (1u << kCostBits) - 1;
static_assert(kMaxTables * kCostBits <= 64 && kGroupSize * kMaxCodeLength <= int(kCostMask), "packed costs");

constexpr int kMaxRounds = 12;
// Rounds on the chosen plan that count the selectors' cost and the lengths' header.
constexpr int kPolishRounds = 3;
// A round that gains less than 1/kStop of the bits ends the refinement.
constexpr int kStop = 1000;
using Lengths = std::array<std::array<uint8_t, kMaxAlphabet>, kMaxTables>;
using Counts = std::array<std::array<uint32_t, kMaxAlphabet>, kMaxTables>;

// A group's symbols as (symbol, times) entries: the rounds weigh and count each distinct
// symbol of a group once.
struct Tally {
  uint16_t symbol;
  uint16_t times;
};

struct Block {
  const uint16_t* symbols;
  size_t count;
  size_t groups;
  int alphabet;
  std::vector<Tally> tallies;    // every group's, in group order
  std::vector<uint32_t> starts;  // group g's tallies are [starts[g], starts[g + 1])
};

Block blockOf(const std::vector<uint16_t>& symbols, int alphabet) {
  Block b{symbols.data(), symbols.size(), (symbols.size() + kGroupSize - 1) / kGroupSize, alphabet, {}, {}};
  b.tallies.reserve(symbols.size());
  b.starts.reserve(b.groups + 1);
  uint16_t slot[kMaxAlphabet];
  std::fill(slot, slot + alphabet, uint16_t(0xFFFF));
  for (size_t g = 0; g < b.groups; ++g) {
    const size_t first = b.tallies.size();
    b.starts.push_back(uint32_t(first));
    const size_t end = std::min(b.count, (g + 1) * kGroupSize);
    for (size_t k = g * kGroupSize; k < end; ++k) {
      const uint16_t sym = symbols[k];
      if (slot[sym] == 0xFFFF) {
        slot[sym] = uint16_t(b.tallies.size() - first);
        b.tallies.push_back({sym, 1});
      } else {
        ++b.tallies[first + slot[sym]].times;
      }
    }
    for (size_t k = first; k < b.tallies.size(); ++k) slot[b.tallies[k].symbol] = 0xFFFF;
  }
  b.starts.push_back(uint32_t(b.tallies.size()));
  return b;
}

// Gives every group the table that codes it cheapest (counting each selector's unary cost
// when `selectorCost`), fills `selectors` and the tables' symbol counts, and returns the bits
// of the symbols (and selectors).
uint64_t assignGroups(const Block& b, int tables, const Lengths& lengths, bool selectorCost,
                      std::vector<uint8_t>& selectors, Counts& counts) {
  uint64_t packed[kMaxAlphabet];
  for (int s = 0; s < b.alphabet; ++s) {
    uint64_t v = 0;
    for (int t = 0; t < tables; ++t) v |= uint64_t(lengths[t][s]) << (kCostBits * t);
    packed[s] = v;
  }
  for (int t = 0; t < tables; ++t) std::fill(counts[t].begin(), counts[t].begin() + b.alphabet, 0);
  uint8_t order[kMaxTables];
  for (int t = 0; t < kMaxTables; ++t) order[t] = uint8_t(t);
  uint64_t bits = 0;
  for (size_t g = 0; g < b.groups; ++g) {
    const Tally* const first = b.tallies.data() + b.starts[g];
    const Tally* const last = b.tallies.data() + b.starts[g + 1];
    // No field overflows: a group's cost under a table is at most 50 * 20 bits.
    uint64_t sum = 0;
    for (const Tally* e = first; e != last; ++e) sum += packed[e->symbol] * e->times;
    int best = 0;
    uint32_t bestCost = UINT32_MAX;
    if (selectorCost) {
      for (int j = 0; j < tables; ++j) {
        const uint32_t c = uint32_t((sum >> (kCostBits * order[j])) & kCostMask) + uint32_t(j) + 1;
        if (c < bestCost) {
          bestCost = c;
          best = j;
        }
      }
      const uint8_t t = order[best];
      for (int j = best; j > 0; --j) order[j] = order[j - 1];
      order[0] = t;
      best = t;
    } else {
      for (int t = 0; t < tables; ++t) {
        const uint32_t c = uint32_t((sum >> (kCostBits * t)) & kCostMask);
        if (c < bestCost) {
          bestCost = c;
          best = t;
        }
      }
    }
    bits += bestCost;
    selectors[g] = uint8_t(best);
    uint32_t* c = counts[best].data();
    for (const Tally* e = first; e != last; ++e) c[e->symbol] += e->times;
  }
  return bits;
}

// The weights of a use and of an unused symbol: an unused symbol needs a length all the same,
// and the lighter it weighs, the longer (and costlier to write in the header) it gets.
struct Weighting {
  uint32_t perUse, unused;
};

// Lengths for counts where every unused symbol weighs `w.unused` and a used one `w.perUse`
// per use.
void lengthsFor(const uint32_t* counts, int alphabet, Weighting w, uint8_t* lengths) {
  uint32_t weights[kMaxAlphabet];
  for (int s = 0; s < alphabet; ++s) weights[s] = counts[s] ? counts[s] * w.perUse : w.unused;
  limitedCodeLengths(weights, alphabet, kMaxCodeLength, lengths);
}

uint64_t codedBits(const uint32_t* counts, const uint8_t* lengths, int alphabet) {
  uint64_t bits = 0;
  for (int s = 0; s < alphabet; ++s) bits += uint64_t(counts[s]) * lengths[s];
  return bits;
}

// The lengths that code these counts with their header in the fewest bits, among a few
// weightings; returns those bits.
uint64_t bestLengths(const uint32_t* counts, int alphabet, uint8_t* lengths) {
  // Over pack_bench's tree, against the weightings 1, 2, 4, 16 and 256 per use with unused
  // symbols at one: 6.6 KB smaller together with the refinement's weighting below.
  static constexpr Weighting kWeightings[] = {{1, 2}, {1, 1}, {2, 1}};
  uint64_t best = UINT64_MAX;
  uint8_t trial[kMaxAlphabet];
  for (Weighting w : kWeightings) {
    lengthsFor(counts, alphabet, w, trial);
    const uint64_t bits = codedBits(counts, trial, alphabet) + lengthHeaderBits(trial, alphabet);
    if (bits < best) {
      best = bits;
      std::copy(trial, trial + alphabet, lengths);
    }
  }
  return best;
}

// A start for `tables` tables: the alphabet cut into ranges of about equal frequency, each
// table cheap on its own range.
void initialLengths(const Block& b, int tables, Lengths& lengths) {
  uint32_t freq[kMaxAlphabet] = {};
  for (size_t i = 0; i < b.count; ++i) ++freq[b.symbols[i]];
  uint64_t remaining = b.count;
  int low = 0;
  for (int t = 0; t < tables; ++t) {
    const uint64_t share = remaining / uint64_t(tables - t);
    int high = low - 1;
    uint64_t taken = 0;
    while (taken < share && high < b.alphabet - 1) taken += freq[++high];
    if (t == tables - 1) high = b.alphabet - 1;
    for (int s = 0; s < b.alphabet; ++s) lengths[t][s] = (s >= low && s <= high) ? 1 : 15;
    remaining -= taken;
    low = high + 1;
  }
}

CodingPlan planWith(const Block& b, int tables) {
  CodingPlan plan;
  plan.tables = tables;
  plan.selectors.assign(b.groups, 0);
  Lengths lengths{};
  initialLengths(b, tables, lengths);
  Counts counts;
  uint64_t previous = UINT64_MAX;
  for (int round = 0; round < kMaxRounds; ++round) {
    const uint64_t bits = assignGroups(b, tables, lengths, true, plan.selectors, counts);
    // Unused symbols weigh as much as a use while the tables are refined (0.03% smaller over
    // pack_bench's tree than a use weighing 16).
    for (int t = 0; t < tables; ++t) lengthsFor(counts[t].data(), b.alphabet, {1, 1}, lengths[t].data());
    // Stop once a round gains less than a thousandth.
    if (bits + bits / kStop >= previous) break;
    previous = bits;
  }
  uint64_t bits = assignGroups(b, tables, lengths, true, plan.selectors, counts);
  for (int t = 0; t < tables; ++t) bits -= codedBits(counts[t].data(), lengths[t].data(), b.alphabet);
  // What is left are the selectors' bits; the tables are chosen again for what they code.
  for (int t = 0; t < tables; ++t) bits += bestLengths(counts[t].data(), b.alphabet, plan.lengths[t].data());
  plan.bits = bits;
  return plan;
}

// Further rounds on a finished plan, each assigning the groups under its final lengths and
// choosing the lengths again, while they pay.
void polish(const Block& b, CodingPlan& plan) {
  Counts counts;
  for (int round = 0; round < kPolishRounds; ++round) {
    CodingPlan again;
    again.tables = plan.tables;
    again.selectors.resize(plan.selectors.size());
    uint64_t bits = assignGroups(b, plan.tables, plan.lengths, true, again.selectors, counts);
    for (int t = 0; t < plan.tables; ++t) {
      bits -= codedBits(counts[t].data(), plan.lengths[t].data(), b.alphabet);
      bits += bestLengths(counts[t].data(), b.alphabet, again.lengths[t].data());
    }
    if (bits >= plan.bits) return;
    again.bits = bits;
    plan = std::move(again);
  }
}

}  // namespace

uint32_t lengthHeaderBits(const uint8_t* lengths, int alphabet) {
  uint32_t bits = 5;
  int current = lengths[0];
  for (int s = 0; s < alphabet; ++s) {
    bits += 1 + 2 * uint32_t(std::abs(int(lengths[s]) - current));
    current = lengths[s];
  }
  return bits;
}

CodingPlan planCoding(const std::vector<uint16_t>& symbols, int alphabet) {
  const Block b = blockOf(symbols, alphabet);
  CodingPlan best;
  // Four tables are skipped: on real files they win too rarely, and by too little over three or
  // five, to pay for their refinement. Over pack_bench's tree (1,322 blocks) no block of fewer
  // than 1,200 symbols took more than two, and of the 66 blocks of 50,000 or more one took
  // three: the counts tried follow the block's length (207 bytes lost in 17.5 MB against
  // trying all four everywhere, two thirds of the refinements).
  static constexpr int kSmall[] = {2}, kMiddle[] = {2, 3, 5, 6}, kLarge[] = {5, 6};
  const auto counts = b.count < 2400     ? std::make_pair(kSmall, std::size(kSmall))
                      : b.count < 50000 ? std::make_pair(kMiddle, std::size(kMiddle))
                                        : std::make_pair(kLarge, std::size(kLarge));
  for (size_t k = 0; k < counts.second; ++k) {
    CodingPlan plan = planWith(b, counts.first[k]);
    if (best.tables == 0 || plan.bits < best.bits) best = std::move(plan);
  }
  polish(b, best);
  return best;
}

}  // namespace mw::encoder
