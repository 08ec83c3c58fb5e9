// Host-side writer of the stored stream form that the engine's decompressor reads.
//
// The engine never stores a stream's first ten bytes (the 4-byte stream header and the first
// block's 6-byte magic): the decompressor consumes ten bytes there without looking at them, so
// each reader hands it ten bytes of its own framing in front of the stored body. The engine
// computes no CRC either; instead every block check must hold the value its simplified check
// register reaches (see decompress/decoder_state.h), and the combined check the value folded
// from those.
//
// What a caller of the decompressor must do with the body returned here:
//   - put exactly ten bytes in front of it, taken from its own framing (for a file chunk: the
//     u32 length field h followed by six zero bytes; for the setup script: six zero bytes and
//     the u32 uncompressed length). Their values are ignored, except that the fifth byte must
//     not be 0x17, which the decoder would take for the end-of-stream mark;
//   - count those ten bytes in avail_in: avail_in = 10 + body.size().
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace mw {

// Compresses `size` bytes at `data` with the packager's encoder at the given block size (1 to
// 9, in units of 100,000 symbols), with every block check and the combined check at the values
// the engine's decoder requires, and returns the stream without its first ten bytes.
// Throws std::invalid_argument for empty input (a stream without a block cannot be stored: the
// decoder always takes the ten framing bytes for a block header) and for a block size outside
// 1..9.
std::vector<uint8_t> writeStoredStream(const uint8_t* data, size_t size, int blockSize100k = 9);

// The same for a complete single bzip2 stream made elsewhere (e.g. by a benchmark that also
// needs the unmodified stream): rewrites its checks and drops its first ten bytes.
// Throws std::invalid_argument for a stream without blocks, std::runtime_error when the
// stream cannot be parsed.
std::vector<uint8_t> storeBzip2Stream(std::vector<uint8_t> stream);

}  // namespace mw
