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

// log Γ(n + prior) - log Γ(prior), from a table for the common small counts.
struct LogGammaTable {
  static constexpr size_t kSize = 4096;
  double prior;
  double value[kSize];
  explicit LogGammaTable(double p) : prior(p) {
    for (size_t n = 0; n < kSize; ++n) value[n] = std::lgamma(double(n) + prior) - std::lgamma(prior);
  }
  double operator()(uint32_t n) const {
    return n < kSize ? value[n] : std::lgamma(double(n) + prior) - std::lgamma(prior);
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
  std::vector<uint16_t> seen = std::vector<uint16_t>(65536);  // the first `pairs` of them
  size_t pairs = 0;
  uint32_t totals[256] = {};

  void add(uint16_t pair, uint32_t n) {
    if (!count[pair]) seen[pairs++] = pair;
    count[pair] += n;
    totals[pair >> 8] += n;
  }
  // The pairs of data[from, to), the first one's previous byte the one before `from`.
  void addBytes(const uint8_t* data, size_t from, size_t to) {
    uint32_t* const c = count.data();
    uint16_t* const s = seen.data();
    uint32_t previous = from > 0 ? data[from - 1] : 0;
    for (size_t i = from; i < to; ++i) {
      const uint32_t pair = previous << 8 | data[i];
      if (!c[pair]) s[pairs++] = uint16_t(pair);
      ++c[pair];
      ++totals[previous];
      previous = data[i];
    }
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

struct Cutter {
  Cutter(const uint8_t* d, const CutOptions& o, std::vector<size_t>& e) : data(d), options(o), ends(e) {}
  const uint8_t* data;
  const CutOptions& options;
  std::vector<size_t>& ends;
  PairCounts cell, whole, before;

  // Cuts data[at, end) (of cost `cost`, or a negative value when not yet known) where the
  // parts pay, down to `depth` more levels.
  void cut(size_t at, size_t end, double cost, int depth) {
    if (depth <= 0 || end - at < options.smallest) {
      ends.push_back(end);
      return;
    }
    // Each cell's pairs, kept as (pair, count) entries; the whole is their sum.
    std::vector<std::pair<uint16_t, uint32_t>> cells[kCells];
    whole.clear();
    for (int k = 0; k < kCells; ++k) {
      const size_t from = at + (end - at) * size_t(k) / kCells, to = at + (end - at) * size_t(k + 1) / kCells;
      cell.addBytes(data, from, to);
      cells[k].resize(cell.pairs);
      for (size_t j = 0; j < cell.pairs; ++j) {
        const uint16_t p = cell.seen[j];
        cells[k][j] = {p, cell.count[p]};
        whole.add(p, cell.count[p]);
      }
      cell.clear();
    }
    if (cost < 0) cost = whole.cost();
    // The best candidate: the cheapest sum of the two parts' costs, kept up to date as each
    // cell moves from the part after the candidate to the part before it.
    before.clear();
    const LogGammaTable& symbol = symbolTerm();
    const LogGammaTable& context = contextTerm();
    double left = 0, right = cost;
    size_t bestAt = 0;
    double best = 0, bestLeft = 0, bestRight = 0;
    for (int k = 1; k < kCells; ++k) {
      for (const auto& [p, n] : cells[k - 1]) {
        const uint32_t b = before.count[p], r = whole.count[p] - b;
        left += symbol(b) - symbol(b + n);
        right += symbol(r) - symbol(r - n);
        const uint32_t bt = before.totals[p >> 8], rt = whole.totals[p >> 8] - bt;
        left += context(bt + n) - context(bt);
        right += context(rt - n) - context(rt);
        before.add(p, n);
      }
      const size_t m = at + (end - at) * size_t(k) / kCells;
      if (m - at < options.smallest / 2 || end - m < options.smallest / 2) continue;
      if (!bestAt || left + right < best) {
        bestAt = m;
        best = left + right;
        bestLeft = left;
        bestRight = right;
      }
    }
    if (!bestAt || best >= cost * (1 - options.margin)) {
      ends.push_back(end);
      return;
    }
    cut(at, bestAt, bestLeft, depth - 1);
    cut(bestAt, end, bestRight, depth - 1);
  }
};

}  // namespace

double order1Cost(const uint8_t* data, size_t at, size_t end) {
  PairCounts counts;
  // The first byte's context is the byte before the piece (the block itself does not see it;
  // the model only needs to rank cuts).
  counts.addBytes(data, at, end);
  return counts.cost();
}

std::vector<size_t> pieceEnds(const uint8_t* data, size_t at, size_t end, const CutOptions& options) {
  std::vector<size_t> ends;
  Cutter cutter(data, options, ends);
  cutter.cut(at, end, -1, options.depth);
  return ends;
}

}  // namespace mw::encoder
