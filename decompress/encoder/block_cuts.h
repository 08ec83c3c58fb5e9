// Where a stream's blocks end. A block sorts best when its bytes are alike: a program's code
// and its tables, or a file's text and its pictures, sort into rows that interleave and cost
// more together than apart. Trying cuts with the full transform is several encodings' work,
// so a cheap model decides: a piece is cut in two, at the best of seven evenly spaced places,
// when its parts, each coded by its own adaptive order-1 model, cost clearly less than the
// whole coded by one; and so on for the parts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mw::encoder {

struct CutOptions {
  int depth = 6;               // levels of cuts at most
  size_t smallest = 16384;     // pieces shorter than this are never cut
  double margin = 0.015;       // the parts must cost this share less than the whole
};

// The end offsets (increasing, the last is `end`) of the pieces a block's input data[at, end)
// is cut into; no piece is shorter than half of `smallest`.
std::vector<size_t> pieceEnds(const uint8_t* data, size_t at, size_t end, const CutOptions& options = {});

// Where the first of two blocks should end when data[at, end) takes two: the end among a few
// from `earliest` (the second block is then full) to `latest` (the first is full) whose two
// parts cost least under the cut model.
size_t firstBlockEnd(const uint8_t* data, size_t at, size_t earliest, size_t latest, size_t end);

// The adaptive order-1 code length of data[at, end), in nats: each byte coded by the counts of
// the bytes seen so far after the same previous byte.
double order1Cost(const uint8_t* data, size_t at, size_t end);

}  // namespace mw::encoder
