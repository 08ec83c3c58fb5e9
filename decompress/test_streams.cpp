#include "decompress/test_streams.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>

#include "decompress/decoder_state.h"

namespace mw::test {
namespace {

class BitWriter {
 public:
  void put(int n, uint64_t value) {
    for (int i = n - 1; i >= 0; --i) {
      if ((bits_ & 7) == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80u >> (bits_ & 7));
      ++bits_;
    }
  }
  size_t bits() const { return bits_; }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  std::vector<uint8_t> bytes_;
  size_t bits_ = 0;
};

uint32_t crc32(const std::vector<uint8_t>& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) {
    crc ^= uint32_t(b) << 24;
    for (int k = 0; k < 8; ++k) crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
  }
  return ~crc;
}

uint32_t decoderCheck(size_t outputBytes, bool randomised) {
  if (randomised || outputBytes >= 4) return 0xFFFFFFFFu;
  return ~(0xFFFFFFFFu << (8 * outputBytes));
}

// Last column and primary index of the sorted rotations.
void sortRotations(const std::vector<uint8_t>& block, std::vector<uint8_t>& last, uint32_t& origPtr) {
  const size_t n = block.size();
  std::vector<uint8_t> twice(block);
  twice.insert(twice.end(), block.begin(), block.end());
  std::vector<uint32_t> rows(n);
  std::iota(rows.begin(), rows.end(), 0u);
  // Compared byte by byte up to the first difference (a sanitizer's memcmp would check all n).
  std::sort(rows.begin(), rows.end(), [&](uint32_t a, uint32_t b) {
    const uint8_t* x = twice.data() + a;
    const uint8_t* y = twice.data() + b;
    for (size_t k = 0; k < n; ++k)
      if (x[k] != y[k]) return x[k] < y[k];
    return a < b;
  });
  last.resize(n);
  for (size_t r = 0; r < n; ++r) {
    last[r] = block[(rows[r] + n - 1) % n];
    if (rows[r] == 0) origPtr = uint32_t(r);
  }
}

}  // namespace

std::vector<uint8_t> runLengthDecode(const std::vector<uint8_t>& symbols) {
  std::vector<uint8_t> out;
  size_t i = 0;
  while (i < symbols.size()) {
    const uint8_t b = symbols[i];
    size_t run = 1;
    while (run < 4 && i + run < symbols.size() && symbols[i + run] == b) ++run;
    out.insert(out.end(), run, b);
    i += run;
    if (run == 4) {
      if (i >= symbols.size()) throw std::logic_error("runLengthDecode: four equal bytes end the block");
      out.insert(out.end(), symbols[i], b);
      ++i;
    }
  }
  return out;
}

std::vector<uint8_t> noiseSymbols(size_t n, uint32_t seed, int alphabet) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    uint8_t b = uint8_t(x % uint32_t(alphabet));
    if (i >= 3 && out[i - 1] == b && out[i - 2] == b && out[i - 3] == b) b = uint8_t((b + 1) % alphabet);
    out[i] = b;
  }
  return out;
}

BuiltStream buildStream(const std::vector<BlockPlan>& blocks, Checks checks, std::optional<uint32_t> combinedCheck) {
  BuiltStream result;
  BitWriter w;
  w.put(32, 0x425A6839u);  // "BZh9"
  uint32_t combined = 0;
  for (const BlockPlan& shape : blocks) {
    std::vector<uint8_t> last = shape.lastColumn;
    uint32_t origPtr = 0;
    std::vector<uint8_t> blockOutput;
    if (!shape.symbols.empty()) {
      std::vector<uint8_t> block = shape.symbols;
      if (shape.randomised) {
        int32_t toGo = 0, pos = 0;
        for (uint8_t& b : block) {
          if (toGo == 0) {
            toGo = int32_t(randomisationEntry(uint32_t(pos)));
            pos = (pos + 1) % 512;
          }
          if (--toGo == 1) b ^= 1;
        }
      }
      sortRotations(block, last, origPtr);
      blockOutput = runLengthDecode(shape.symbols);
      result.output.insert(result.output.end(), blockOutput.begin(), blockOutput.end());
    }
    if (shape.origPtr) origPtr = *shape.origPtr;

    uint32_t check = checks == Checks::Crc ? crc32(blockOutput) : decoderCheck(blockOutput.size(), shape.randomised);
    if (shape.storedCheck) check = *shape.storedCheck;
    combined = ((combined << 1) | (combined >> 31)) ^ check;

    result.blockBits.push_back(w.bits());
    w.put(48, 0x314159265359ull);
    w.put(32, check);
    w.put(1, shape.randomised ? 1 : 0);
    w.put(24, origPtr);

    bool inUse[256] = {};
    for (uint8_t b : last) inUse[b] = true;
    uint8_t unseqToSeq[256] = {};
    int nInUse = 0;
    for (int v = 0; v < 256; ++v)
      if (inUse[v]) unseqToSeq[v] = uint8_t(nInUse++);
    for (int r = 0; r < 16; ++r) {
      bool any = false;
      for (int j = 0; j < 16; ++j) any |= inUse[r * 16 + j];
      w.put(1, any);
    }
    for (int r = 0; r < 16; ++r) {
      bool any = false;
      for (int j = 0; j < 16; ++j) any |= inUse[r * 16 + j];
      if (any)
        for (int j = 0; j < 16; ++j) w.put(1, inUse[r * 16 + j]);
    }

    // Move-to-front and run digits.
    std::vector<uint16_t> syms;
    std::vector<uint8_t> list(nInUse);
    std::iota(list.begin(), list.end(), uint8_t(0));
    uint32_t zeros = 0;
    auto flushZeros = [&] {
      while (zeros > 0) {
        --zeros;
        syms.push_back(uint16_t(zeros & 1));
        zeros >>= 1;
      }
    };
    for (uint8_t b : shape.rawSymbols.empty() ? last : std::vector<uint8_t>()) {
      const uint8_t seq = unseqToSeq[b];
      size_t at = size_t(std::find(list.begin(), list.end(), seq) - list.begin());
      if (at == 0) {
        ++zeros;
        continue;
      }
      flushZeros();
      syms.push_back(uint16_t(at + 1));
      list.erase(list.begin() + long(at));
      list.insert(list.begin(), seq);
    }
    flushZeros();
    syms.insert(syms.end(), shape.rawSymbols.begin(), shape.rawSymbols.end());
    syms.push_back(uint16_t(nInUse + 1));

    // Two identical tables of equal code lengths; symbol s has code s.
    const int alphaSize = nInUse + 2;
    int length = 1;
    while ((1 << length) < alphaSize) ++length;
    const uint32_t selectors = shape.nSelectors ? *shape.nSelectors : uint32_t((syms.size() + 49) / 50);
    w.put(3, 2);
    w.put(15, selectors);
    for (uint32_t k = 0; k < selectors; ++k) w.put(1, 0);
    for (int t = 0; t < 2; ++t) {
      w.put(5, uint32_t(length));
      for (int s = 0; s < alphaSize; ++s) w.put(1, 0);
    }
    for (uint16_t s : syms) w.put(length, s);
  }
  result.endBits = w.bits();
  w.put(48, 0x177245385090ull);
  w.put(32, combinedCheck ? *combinedCheck : combined);
  result.bytes = w.take();
  return result;
}

std::vector<uint8_t> storedInput(const std::vector<uint8_t>& stream, uint8_t fifth) {
  std::vector<uint8_t> in(10, 0);
  const uint32_t h = uint32_t(stream.size());
  for (int k = 0; k < 4; ++k) in[k] = uint8_t(h >> (8 * k));
  in[4] = fifth;
  in.insert(in.end(), stream.begin() + 10, stream.end());
  return in;
}

}  // namespace mw::test
