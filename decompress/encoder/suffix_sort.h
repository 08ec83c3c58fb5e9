// The block-sorting transform of the encoder: the rotations of a block in sorted order.
//
// The decoder undoes a sort of the block's cyclic rotations. A suffix sort (with an end mark
// smaller than every byte) orders the same rows only when the block starts at its least
// rotation: then no suffix that is a prefix of a longer one can compare differently once the
// rotation wraps round. So the block is turned to its least rotation, its suffixes are sorted
// by induced sorting, and the primary index is the row of the original start.
#pragma once

#include <cstdint>
#include <vector>

namespace mw::encoder {

// Sorts the n suffixes of text[0..n) (n >= 1) into sa, with an end mark below every byte.
void suffixArray(const uint8_t* text, int32_t n, int32_t* sa);

// The start of the lexicographically least rotation of block[0..n) (the first one when
// several rotations are equal).
uint32_t leastRotation(const uint8_t* block, uint32_t n);

// The transform's output: the last column of the sorted rotations of block[0..n), n >= 1,
// written to lastColumn[0..n), and the row that holds the block itself (the primary index).
uint32_t sortRotations(const uint8_t* block, uint32_t n, uint8_t* lastColumn);

}  // namespace mw::encoder
