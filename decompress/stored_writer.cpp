// The stored form is the encoder's output (decompress/encoder) with the engine's checks
// and its first ten bytes cut off. A stream made elsewhere (libbz2's, for the benchmark and the
// differential tests) is stored by rewriting its checks: only the first block check is byte-aligned; every later one, and the combined check, sits
// wherever the previous block's last Huffman code ended. Searching for the block magic would
// be unsafe (those 48 bits can occur inside coded data), so the writer walks each block's
// structure: byte map, coding tables, selectors and every Huffman symbol up to end-of-block.
#include "decompress/stored_writer.h"

#include "decompress/encoder/stream_encoder.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <utility>

namespace mw {
namespace {

constexpr uint64_t kBlockMagic = 0x314159265359ull;
constexpr uint64_t kEndMagic = 0x177245385090ull;

[[noreturn]] void malformed(const char* what) {
  throw std::runtime_error(std::string("storeBzip2Stream: stream not understood: ") + what);
}

// Most-significant-first bit cursor over the whole compressed stream.
class BitCursor {
 public:
  explicit BitCursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }
  uint32_t bit() {
    if (pos_ >= bytes_.size() * 8) malformed("stream ends early");
    uint32_t b = (bytes_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
    ++pos_;
    return b;
  }
  size_t position() const { return pos_; }
  void skip(size_t n) { pos_ += n; }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
};

void putBits(std::vector<uint8_t>& bytes, size_t pos, int n, uint32_t value) {
  for (int i = n - 1; i >= 0; --i, ++pos) {
    uint8_t mask = uint8_t(0x80u >> (pos & 7));
    if ((value >> i) & 1u)
      bytes[pos >> 3] |= mask;
    else
      bytes[pos >> 3] &= uint8_t(~mask);
  }
}

// Canonical Huffman decoder of one coding table, one bit at a time (this runs once per
// stored chunk on the packager's side; clarity beats speed here).
struct CodeTable {
  std::array<int, 21> count{};      // codes of each length
  std::array<int, 21> firstCode{};  // first code value of each length
  std::array<int, 21> firstIndex{}; // index into `sorted` of that first code
  std::array<int, 258> sorted{};    // symbols by (length, symbol)
  int minLen = 0, maxLen = 0;

  void build(const uint8_t* lengths, int alphaSize) {
    minLen = 32;
    maxLen = 0;
    for (int i = 0; i < alphaSize; ++i) {
      minLen = std::min<int>(minLen, lengths[i]);
      maxLen = std::max<int>(maxLen, lengths[i]);
      ++count[lengths[i]];
    }
    int n = 0, code = 0;
    for (int len = 1; len <= 20; ++len) {
      firstCode[len] = code;
      firstIndex[len] = n;
      for (int s = 0; s < alphaSize; ++s)
        if (lengths[s] == len) sorted[n++] = s;
      code = (code + count[len]) << 1;
    }
  }

  int decode(BitCursor& in) const {
    int code = 0;
    for (int len = 1; len <= 20; ++len) {
      code = (code << 1) | int(in.bit());
      int offset = code - firstCode[len];
      if (len >= minLen && offset >= 0 && offset < count[len]) return sorted[firstIndex[len] + offset];
    }
    malformed("Huffman code longer than 20 bits");
  }
};

// Walks one block from just after its randomised flag to its end-of-block symbol and returns
// the number of symbols it holds (after the run digits are expanded).
uint32_t walkBlockBody(BitCursor& in) {
  in.skip(24);  // primary index
  uint32_t ranges = in.bits(16);
  int nInUse = 0;
  for (int i = 0; i < 16; ++i)
    if (ranges & (0x8000u >> i)) nInUse += __builtin_popcount(in.bits(16));
  if (nInUse == 0) malformed("empty byte map");
  const int alphaSize = nInUse + 2;

  const int nGroups = int(in.bits(3));
  const int nSelectors = int(in.bits(15));
  if (nGroups < 2 || nGroups > 6 || nSelectors < 1) malformed("table or selector count");
  std::vector<uint8_t> selectors(nSelectors);
  std::array<uint8_t, 6> order{0, 1, 2, 3, 4, 5};
  for (int s = 0; s < nSelectors; ++s) {
    int j = 0;
    while (in.bit()) {
      if (++j >= nGroups) malformed("selector index");
    }
    uint8_t t = order[j];
    for (; j > 0; --j) order[j] = order[j - 1];
    order[0] = t;
    selectors[s] = t;
  }

  std::array<CodeTable, 6> tables{};
  for (int t = 0; t < nGroups; ++t) {
    std::array<uint8_t, 258> lengths{};
    int curr = int(in.bits(5));
    for (int i = 0; i < alphaSize; ++i) {
      for (;;) {
        if (curr < 1 || curr > 20) malformed("code length");
        if (!in.bit()) break;
        curr += in.bit() ? -1 : 1;
      }
      lengths[i] = uint8_t(curr);
    }
    tables[t].build(lengths.data(), alphaSize);
  }

  const int eob = nInUse + 1;
  uint32_t symbols = 0;
  uint32_t run = 0, runWeight = 1;  // pending run of the front byte, in bijective base 2
  for (int group = 0;; ++group) {
    if (group >= nSelectors) malformed("more groups than selectors");
    const CodeTable& table = tables[selectors[group]];
    for (int k = 0; k < 50; ++k) {
      int sym = table.decode(in);
      if (sym <= 1) {
        run += runWeight << sym;
        runWeight <<= 1;
        if (run > 1000000) malformed("run too long");
        continue;
      }
      symbols += run;
      run = 0;
      runWeight = 1;
      if (sym == eob) return symbols;
      ++symbols;
    }
  }
}

// The check register of the engine's decoder starts at all ones and is shifted left by a byte
// for every byte written (cleared for a randomised block); the block compares its complement.
uint32_t requiredBlockCheck(uint32_t outputBytes, bool randomised) {
  if (randomised || outputBytes >= 4) return 0xFFFFFFFFu;
  return ~(0xFFFFFFFFu << (8 * outputBytes));
}

}  // namespace

std::vector<uint8_t> writeStoredStream(const uint8_t* data, size_t size, int blockSize100k) {
  if (size == 0)
    throw std::invalid_argument(
        "writeStoredStream: empty input cannot be stored (a stored stream needs at least one block)");
  if (blockSize100k < 1 || blockSize100k > 9)
    throw std::invalid_argument("writeStoredStream: block size must be 1 to 9");
  if (size > 0xFFFFFFFFu / 2) throw std::invalid_argument("writeStoredStream: input too large");

  encoder::EncodeOptions options;
  options.blockCapacity = uint32_t(blockSize100k) * 100000u;
  options.checks = encoder::BlockChecks::Engine;
  std::vector<uint8_t> stream = encoder::encodeStream(data, size, options);
  return std::vector<uint8_t>(stream.begin() + 10, stream.end());
}

std::vector<uint8_t> storeBzip2Stream(std::vector<uint8_t> stream) {
  BitCursor in(stream);
  if (in.bits(24) != 0x425A68u) malformed("stream header");
  in.skip(8);
  bool anyBlock = false;
  uint32_t combined = 0;
  for (;;) {
    uint64_t magic = uint64_t(in.bits(24)) << 24;
    magic |= in.bits(24);
    if (magic == kEndMagic) {
      if (!anyBlock)
        throw std::invalid_argument("storeBzip2Stream: a stream without blocks (empty input) cannot be stored");
      // The walk must land exactly on the last field: 32 bits of check, then only padding.
      if (stream.size() * 8 < in.position() + 32 || stream.size() * 8 - in.position() - 32 >= 8)
        malformed("end of stream misplaced");
      putBits(stream, in.position(), 32, combined);
      break;
    }
    if (magic != kBlockMagic) malformed("block magic");
    anyBlock = true;
    const size_t checkPos = in.position();
    in.skip(32);
    const bool randomised = in.bit() != 0;
    // A block of fewer than four symbols holds no run-length count, so its output is exactly
    // its symbols; from four symbols on the output is at least four bytes, which is all the
    // check depends on.
    const uint32_t symbols = walkBlockBody(in);
    const uint32_t check = requiredBlockCheck(symbols, randomised);
    putBits(stream, checkPos, 32, check);
    combined = ((combined << 1) | (combined >> 31)) ^ check;
  }
  return std::vector<uint8_t>(stream.begin() + 10, stream.end());
}

}  // namespace mw
