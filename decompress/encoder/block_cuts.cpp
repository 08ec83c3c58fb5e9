// The model behind the cuts: for every previous byte, the counts of the bytes that followed
// it, each count starting from a small prior. The adaptive code length of a sequence under
// such a model has a closed form in the final counts (a ratio of gamma functions per
// context), so a piece costs a counting pass and a sum over the counts seen. To weigh every
// candidate cut of a range in one pass, the range is counted in cells (the candidates are the
// cells' bounds): the part before a candidate is the sum of the cells before it, the part
// after it the whole less that.
#include "decompress/encoder/block_cuts.h"

#include <cmath>

namespace mw::encoder {
namespace {

// A count starts at kPrior: small, as the bytes after a given byte are few of the 256.
constexpr double kPrior = 0.125;

// log Γ(n + prior) - log Γ(prior), from a table for the common small counts and from
// Stirling's series beyond it (its first terms are exact to far below a nat there).
struct LogGammaTable {
  static constexpr size_t kSize = 4096;
  double prior;
  double base;  // log Γ(prior)
  double value[kSize];
  explicit LogGammaTable(double p) : prior(p), base(std::lgamma(p)) {
    for (size_t n = 0; n < kSize; ++n) value[n] = std::lgamma(double(n) + prior) - base;
  }
  double operator()(uint32_t n) const {
    if (n < kSize) return value[n];
    const double x = double(n) + prior;
    constexpr double kHalfLogTwoPi = 0.91893853320467274178;
    return (x - 0.5) * std::log(x) - x + kHalfLogTwoPi + 1 / (12 * x) - base;
  }
};

const LogGammaTable& symbolTerm() {
  static const LogGammaTable table(kPrior);
  return table;
}
const LogGammaTable& contextTerm() {
  static const LogGammaTable table(256 * kPrior);
  return table;
}

// Counts of (previous byte, byte) pairs, with the list of the pairs seen, so that summing and
// clearing cost what was counted rather than the whole table.
struct PairCounts {
  std::vector<uint32_t> count = std::vector<uint32_t>(65536, 0);
  std::vector<uint16_t> seen = std::vector<uint16_t>(65536 + 1);  // the first `pairs` of them (one spare)
  size_t pairs = 0;
  uint32_t totals[256] = {};

  void add(uint16_t pair, uint32_t n) {
    if (!count[pair]) seen[pairs++] = pair;
    count[pair] += n;
    totals[pair >> 8] += n;
  }
  // The pairs of data[from, to), the first one's previous byte the one before `from`, into an
  // empty table. Only the pairs are counted (without a branch: the list takes every pair
  // and keeps it when it is new); the contexts' totals are left at zero.
  void countPairs(const uint8_t* data, size_t from, size_t to) {
    uint32_t* const c = count.data();
    uint16_t* const s = seen.data();
    size_t n = pairs;
    uint32_t previous = from > 0 ? data[from - 1] : 0;
    for (size_t i = from; i < to; ++i) {
      const uint32_t pair = previous << 8 | data[i];
      s[n] = uint16_t(pair);
      n += c[pair] == 0;
      ++c[pair];
      previous = data[i];
    }
    pairs = n;
  }
  // The contexts' totals from the pairs counted.
  void sumTotals() {
    for (size_t k = 0; k < pairs; ++k) totals[seen[k] >> 8] += count[seen[k]];
  }
  void clear() {
    for (size_t k = 0; k < pairs; ++k) {
      count[seen[k]] = 0;
      totals[seen[k] >> 8] = 0;
    }
    pairs = 0;
  }
  // The code length of these counts.
  double cost() const {
    double c = 0;
    for (size_t k = 0; k < pairs; ++k) c -= symbolTerm()(count[seen[k]]);
    for (int k = 0; k < 256; ++k) c += contextTerm()(totals[k]);
    return c;
  }
};

// The candidate cuts of a range: the bounds of this many equal cells.
constexpr int kCells = 8;

struct Sweep {
  size_t at = 0;  // the cheapest candidate (0 when none was allowed)
  double cost = 0, left = 0, right = 0, whole = 0;
};

// The tables a thread's cuts count in: 384 KiB each, so made once per thread rather than per
// call (each is left with its list of pairs seen, and cleared through it before use).
struct CutTables {
  PairCounts cell, whole, before;
  std::vector<std::vector<std::pair<uint16_t, uint32_t>>> cells;
};

CutTables& threadTables() {
  static thread_local CutTables tables;
  return tables;
}

struct Cutter {
  Cutter(const uint8_t* d, const CutOptions& o, std::vector<size_t>& e) : data(d), options(o), ends(e) {}
  const uint8_t* data;
  const CutOptions& options;
  std::vector<size_t>& ends;
  CutTables& tables = threadTables();
  PairCounts &cell = tables.cell, &whole = tables.whole, &before = tables.before;
  std::vector<std::vector<std::pair<uint16_t, uint32_t>>>& cells = tables.cells;

  // The range bounds[0] to bounds.back() counted in the cells between consecutive bounds, and
  // the cheapest of the inner bounds `allowed` admits as a cut into two parts. `cost` is the
  // whole range's, or negative when not yet known.
  template <typename Allowed>
  Sweep sweep(const std::vector<size_t>& bounds, double cost, Allowed allowed) {
    // Each cell's pairs, kept as (pair, count) entries; the whole is their sum.
    const size_t count = bounds.size() - 1;
    if (cells.size() < count) cells.resize(count);
    whole.clear();
    for (size_t k = 0; k < count; ++k) {
      cell.countPairs(data, bounds[k], bounds[k + 1]);
      cells[k].resize(cell.pairs);
      for (size_t j = 0; j < cell.pairs; ++j) {
        const uint16_t p = cell.seen[j];
        cells[k][j] = {p, cell.count[p]};
        whole.add(p, cell.count[p]);
      }
      cell.clear();
    }
    Sweep best;
    best.whole = cost < 0 ? whole.cost() : cost;
    // The sum of the two parts' costs, kept up to date as each cell moves from the part after
    // the candidate to the part before it.
    before.clear();
    const LogGammaTable& symbol = symbolTerm();
    const LogGammaTable& context = contextTerm();
    double left = 0, right = best.whole;
    for (size_t k = 1; k < count; ++k) {
      for (const auto& [p, n] : cells[k - 1]) {
        const uint32_t b = before.count[p], r = whole.count[p] - b;
        left += symbol(b) - symbol(b + n);
        right += symbol(r) - symbol(r - n);
        const uint32_t bt = before.totals[p >> 8], rt = whole.totals[p >> 8] - bt;
        left += context(bt + n) - context(bt);
        right += context(rt - n) - context(rt);
        before.add(p, n);
      }
      if (!allowed(bounds[k])) continue;
      if (!best.at || left + right < best.cost) {
        best.at = bounds[k];
        best.cost = left + right;
        best.left = left;
        best.right = right;
      }
    }
    return best;
  }

  // Cuts data[at, end) (of cost `cost`, or a negative value when not yet known) where the
  // parts pay, down to `depth` more levels.
  void cut(size_t at, size_t end, double cost, int depth) {
    if (depth <= 0 || end - at < options.smallest) {
      ends.push_back(end);
      return;
    }
    std::vector<size_t> bounds(kCells + 1);
    for (int k = 0; k <= kCells; ++k) bounds[k] = at + (end - at) * size_t(k) / kCells;
    const Sweep best = sweep(bounds, cost, [&](size_t m) {
      return m - at >= options.smallest / 2 && end - m >= options.smallest / 2;
    });
    if (!best.at || best.cost >= best.whole * (1 - options.margin)) {
      ends.push_back(end);
      return;
    }
    cut(at, best.at, best.left, depth - 1);
    cut(best.at, end, best.right, depth - 1);
  }
};

}  // namespace

double order1Cost(const uint8_t* data, size_t at, size_t end) {
  PairCounts counts;
  // The first byte's context is the byte before the piece (the block itself does not see it;
  // the model only needs to rank cuts).
  counts.countPairs(data, at, end);
  counts.sumTotals();
  return counts.cost();
}

size_t firstBlockEnd(const uint8_t* data, size_t at, size_t earliest, size_t latest, size_t end) {
  if (earliest >= latest) return latest;
  // Candidates spread evenly from the earliest end to the latest, which is always among them.
  constexpr size_t kCandidates = 32;
  std::vector<size_t> bounds{at};
  for (size_t k = 0; k <= kCandidates; ++k) {
    const size_t m = earliest + (latest - earliest) * k / kCandidates;
    if (m > bounds.back()) bounds.push_back(m);
  }
  if (end > bounds.back()) bounds.push_back(end);
  if (bounds.size() < 3) return latest;
  std::vector<size_t> unused;
  const CutOptions options;
  Cutter cutter(data, options, unused);
  const Sweep best = cutter.sweep(bounds, -1, [&](size_t m) { return m - at >= options.smallest / 2; });
  return best.at ? best.at : latest;
}

std::vector<size_t> pieceEnds(const uint8_t* data, size_t at, size_t end, const CutOptions& options) {
  std::vector<size_t> ends;
  if (options.depth <= 0 || end - at < options.smallest) return {end};
  Cutter cutter(data, options, ends);
  cutter.cut(at, end, -1, options.depth);
  return ends;
}

}  // namespace mw::encoder
