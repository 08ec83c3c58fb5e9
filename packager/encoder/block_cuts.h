// Where a stream's blocks end. A block sorts best when its bytes are alike: a program's code
// and its tables, or a file's text and its pictures, sort into rows that interleave and cost
// more together than apart. Trying every cut with the full transform is several encodings'
// work, so a cheap model decides: a piece is halved when its halves, each coded by its own
// adaptive order-1 model, cost clearly less than the whole coded by one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mw::encoder {

struct CutOptions {
  int depth = 3;               // halvings at most
  size_t smallest = 65536;     // pieces shorter than this are never halved
  double margin = 0.02;        // halves must cost this share less than the whole
};

// The end offsets (increasing, the last is `end`) of the pieces a block's input data[at, end)
// is cut into: halved, and the halves halved, while the model finds it worth it.
std::vector<size_t> pieceEnds(const uint8_t* data, size_t at, size_t end, const CutOptions& options = {});

// The adaptive order-1 code length of data[at, end), in nats: each byte coded by the counts of
// the bytes seen so far after the same previous byte.
double order1Cost(const uint8_t* data, size_t at, size_t end);

}  // namespace mw::encoder
