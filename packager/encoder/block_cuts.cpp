// The model behind the cuts: for every previous byte, the counts of the bytes that followed
// it, each count starting from a small prior. The adaptive code length of a sequence under
// such a model has a closed form in the final counts (a ratio of gamma functions per
// context), so a piece costs one counting pass and a sum over the counts seen.
#include "packager/encoder/block_cuts.h"

#include <cmath>

namespace mw::encoder {
namespace {

// A count starts at kPrior: small, as the bytes after a given byte are few of the 256.
constexpr double kPrior = 0.125;

// log Γ(n + kPrior) - log Γ(kPrior), from a table for the common small counts.
struct LogGammaTable {
  static constexpr size_t kSize = 4096;
  double value[kSize];
  LogGammaTable() {
    for (size_t n = 0; n < kSize; ++n) value[n] = std::lgamma(double(n) + kPrior) - std::lgamma(kPrior);
  }
  double operator()(uint32_t n) const {
    return n < kSize ? value[n] : std::lgamma(double(n) + kPrior) - std::lgamma(kPrior);
  }
};

// Cuts data[at, end) (of cost `whole`, or -1 when not yet known) into halves while they pay.
void halve(const uint8_t* data, size_t at, size_t end, double whole, int depth, const CutOptions& options,
           std::vector<size_t>& ends) {
  if (depth > 0 && end - at >= options.smallest) {
    if (whole < 0) whole = order1Cost(data, at, end);
    const size_t mid = at + (end - at) / 2;
    const double left = order1Cost(data, at, mid), right = order1Cost(data, mid, end);
    if (left + right < whole * (1 - options.margin)) {
      halve(data, at, mid, left, depth - 1, options, ends);
      halve(data, mid, end, right, depth - 1, options, ends);
      return;
    }
  }
  ends.push_back(end);
}

}  // namespace

double order1Cost(const uint8_t* data, size_t at, size_t end) {
  static const LogGammaTable logGamma;
  std::vector<uint32_t> counts(65536, 0);
  uint32_t totals[256] = {};
  // The first byte's context is the byte before the piece (the block itself does not see it;
  // the model only needs to rank cuts).
  uint8_t previous = at > 0 ? data[at - 1] : 0;
  for (size_t i = at; i < end; ++i) {
    ++counts[size_t(previous) << 8 | data[i]];
    ++totals[previous];
    previous = data[i];
  }
  static const double kAlphabetPrior = std::lgamma(256 * kPrior);
  double cost = 0;
  for (int c = 0; c < 256; ++c) {
    if (!totals[c]) continue;
    cost += std::lgamma(double(totals[c]) + 256 * kPrior) - kAlphabetPrior;
    const uint32_t* row = counts.data() + (size_t(c) << 8);
    for (int s = 0; s < 256; ++s)
      if (row[s]) cost -= logGamma(row[s]);
  }
  return cost;
}

std::vector<size_t> pieceEnds(const uint8_t* data, size_t at, size_t end, const CutOptions& options) {
  std::vector<size_t> ends;
  halve(data, at, end, -1, options.depth, options, ends);
  return ends;
}

}  // namespace mw::encoder
