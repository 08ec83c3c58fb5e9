// The entropy stage's choices for one block: how many coding tables (2 to 6), which table
// codes each group of 50 symbols (the selectors), and every table's code lengths.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace mw::encoder {

constexpr int kGroupSize = 50;
constexpr int kMaxTables = 6;
constexpr int kMaxAlphabet = 258;
constexpr int kMaxCodeLength = 20;

struct CodingPlan {
  int tables = 0;
  std::vector<uint8_t> selectors;  // one per group of kGroupSize symbols
  std::array<std::array<uint8_t, kMaxAlphabet>, kMaxTables> lengths{};
  uint64_t bits = 0;  // selectors, tables and symbols as written
};

// symbols: the block's move-to-front and run symbols, end-of-block included, each below
// alphabet (3 to 258).
CodingPlan planCoding(const std::vector<uint16_t>& symbols, int alphabet);

// Bits the format spends on a table's code lengths: five for the first, then per symbol one
// to end it and two per step of one up or down.
uint32_t lengthHeaderBits(const uint8_t* lengths, int alphabet);

}  // namespace mw::encoder
