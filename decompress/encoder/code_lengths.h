// Code lengths of a prefix code that minimise the coded size under a length limit.
#pragma once

#include <cstdint>

namespace mw::encoder {

// For n symbols (2 <= n <= 258) with weights (every weight > 0) writes the code lengths
// (1..maxLength) of an optimal prefix code whose codes are at most maxLength bits; needs
// 2^maxLength >= n. The code is complete: its Kraft sum is exactly 1.
void limitedCodeLengths(const uint32_t* weights, int n, int maxLength, uint8_t* lengths);

}  // namespace mw::encoder
