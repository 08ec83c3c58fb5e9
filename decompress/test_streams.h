// Test support: builds compressed streams block by block, so that tests can make blocks no
// ordinary compressor would write (an exact symbol count, a chosen primary index, too many
// selectors, a randomised block, runs past the block's capacity) and can place later blocks
// at known bit positions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace mw::test {

struct BlockPlan {
  // The block as the output stage walks it (the data after the first run-length stage: four
  // equal bytes are followed by a count). The builder sorts its rotations.
  std::vector<uint8_t> symbols;
  // Or, instead, the last column directly (with origPtr), for blocks that are not the
  // transform of anything.
  std::vector<uint8_t> lastColumn;
  // Or the move-to-front/run-length symbols themselves (end-of-block not included) over the
  // byte values in lastColumn, for blocks whose symbols no transform would produce.
  std::vector<uint16_t> rawSymbols;
  std::optional<uint32_t> origPtr;      // replaces the computed primary index
  std::optional<uint32_t> nSelectors;   // replaces the count (extra selectors: table 0)
  bool randomised = false;              // symbols are XORed with the randomisation mask
  std::optional<uint32_t> storedCheck;  // replaces the block check
};

enum class Checks {
  Crc,      // the format's CRCs, for libbz2
  Decoder,  // the values the engine's decoder requires
};

struct BuiltStream {
  std::vector<uint8_t> bytes;         // "BZh9", blocks, end-of-stream marker, combined check
  std::vector<size_t> blockBits;      // bit position of each block's magic
  size_t endBits = 0;                 // bit position of the end-of-stream magic
  std::vector<uint8_t> output;        // what the stream decodes to
};

BuiltStream buildStream(const std::vector<BlockPlan>& blocks, Checks checks,
                        std::optional<uint32_t> combinedCheck = std::nullopt);

// The input the engine hands the decoder: ten framing bytes (a u32 and six zeros, the fifth
// byte being `fifth`) instead of the stream's first ten, then the rest.
std::vector<uint8_t> storedInput(const std::vector<uint8_t>& stream, uint8_t fifth = 0);

// The first run-length stage undone, as the output stage does it.
std::vector<uint8_t> runLengthDecode(const std::vector<uint8_t>& symbols);

// Deterministic pseudo-random bytes without four equal bytes in a row.
std::vector<uint8_t> noiseSymbols(size_t n, uint32_t seed, int alphabet = 256);

}  // namespace mw::test
