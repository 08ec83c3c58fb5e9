// The packager's compressor: writes the block-sorting stream format that the engine's
// decoder reads (the bzip2 format), with every choice of the entropy stage made for size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mw::encoder {

enum class BlockChecks {
  Crc,     // the format's CRCs, so that any reader of the format accepts the stream
  Engine,  // the values the engine's simplified check register reaches
};

struct EncodeOptions {
  uint32_t blockCapacity = 900000;  // symbols per block after the first run-length stage
  BlockChecks checks = BlockChecks::Engine;
};

// The whole stream ("BZh9", blocks, end-of-stream mark, combined check) for size > 0 bytes.
// The header's block-size digit is blockCapacity / 100,000 rounded up (1 to 9).
std::vector<uint8_t> encodeStream(const uint8_t* data, size_t size, const EncodeOptions& options = {});

}  // namespace mw::encoder
