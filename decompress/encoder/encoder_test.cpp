// The encoder against plain definitions (sorted rotations, optimal limited codes) and against
// two decoders: libbz2 reads the streams written with CRCs, the engine's decoder the stored
// form with its own checks.
#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "decompress/decompress.h"
#include "decompress/stored_writer.h"
#include "decompress/encoder/block_cuts.h"
#include "decompress/encoder/code_lengths.h"
#include "decompress/encoder/stream_encoder.h"
#include "decompress/encoder/suffix_sort.h"

namespace mw::encoder {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes randomBytes(size_t n, uint32_t seed, int alphabet) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng() % unsigned(alphabet));
  return b;
}

TEST(SortRotations, MatchesSortingEveryRotation) {
  std::vector<Bytes> cases = {{7}, {1, 1}, {2, 1}, {1, 2, 1, 2, 1, 2}, Bytes(40, 9), {3, 1, 2, 3, 1, 2, 3}};
  for (uint32_t seed = 0; seed < 300; ++seed)
    cases.push_back(randomBytes(1 + seed % 97, seed, 1 + int(seed % 4)));
  // Periodic blocks: equal rotations.
  Bytes period = randomBytes(13, 5, 3);
  Bytes periodic;
  for (int k = 0; k < 9; ++k) periodic.insert(periodic.end(), period.begin(), period.end());
  cases.push_back(periodic);
  for (const Bytes& block : cases) {
    const size_t n = block.size();
    std::vector<uint32_t> rows(n);
    std::iota(rows.begin(), rows.end(), 0u);
    auto at = [&](uint32_t r, size_t k) { return block[(r + k) % n]; };
    std::stable_sort(rows.begin(), rows.end(), [&](uint32_t a, uint32_t b) {
      for (size_t k = 0; k < n; ++k)
        if (at(a, k) != at(b, k)) return at(a, k) < at(b, k);
      return false;
    });
    Bytes expected(n), last(n);
    for (size_t i = 0; i < n; ++i) expected[i] = at(rows[i], n - 1);
    const uint32_t primary = sortRotations(block.data(), uint32_t(n), last.data());
    EXPECT_EQ(last, expected) << "block of " << n;
    ASSERT_LT(primary, n);
    // The primary row is the block itself (among equal rotations any of them).
    for (size_t k = 0; k < n; ++k) ASSERT_EQ(at(rows[primary], k), block[k]) << "block of " << n;
  }
}

TEST(LimitedCodeLengths, OptimalUnderTheLimit) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 400; ++trial) {
    const int n = 2 + trial % 5;
    const int limit = 3 + trial % 2;
    std::vector<uint32_t> w(n);
    // Skewed weights, so that the limit often binds.
    for (auto& x : w) x = 1 + (rng() % 3 == 0 ? rng() % 1000 : rng() % 4);
    std::vector<uint8_t> got(n);
    limitedCodeLengths(w.data(), n, limit, got.data());
    double kraft = 0;
    uint64_t cost = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_GE(got[i], 1);
      ASSERT_LE(got[i], limit);
      kraft += std::ldexp(1.0, -got[i]);
      cost += uint64_t(w[i]) * got[i];
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    // Every length vector within the limit that satisfies Kraft's inequality.
    uint64_t best = UINT64_MAX;
    std::vector<int> len(n, 1);
    for (;;) {
      double k = 0;
      uint64_t c = 0;
      for (int i = 0; i < n; ++i) k += std::ldexp(1.0, -len[i]), c += uint64_t(w[i]) * len[i];
      if (k <= 1.0) best = std::min(best, c);
      int i = 0;
      while (i < n && len[i] == limit) len[i++] = 1;
      if (i == n) break;
      ++len[i];
    }
    EXPECT_EQ(cost, best);
  }
}

Bytes wordText(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  const char* words[] = {"setup ", "the ", "folder ", "uninstall ", "\n", "registry "};
  Bytes text;
  while (text.size() < n) {
    const char* w = words[rng() % 6];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  text.resize(n);
  return text;
}

TEST(PieceEnds, CutsWhereTheDataChangesAndNowhereElse) {
  // Text then noise, 400 KB each: the cut falls between them, and neither half is cut again.
  Bytes two = wordText(400000, 3);
  const Bytes noise = randomBytes(400000, 4, 256);
  two.insert(two.end(), noise.begin(), noise.end());
  EXPECT_EQ(pieceEnds(two.data(), 0, two.size()), (std::vector<size_t>{400000, 800000}));
  const Bytes text = wordText(800000, 5);
  EXPECT_EQ(pieceEnds(text.data(), 0, text.size()), std::vector<size_t>{800000});
  EXPECT_EQ(pieceEnds(noise.data(), 0, noise.size()), std::vector<size_t>{400000});
  // A range inside the data: the ends are offsets in the data, the last the range's end.
  EXPECT_EQ(pieceEnds(two.data(), 200000, 600000), (std::vector<size_t>{400000, 600000}));
  // Without halvings, or below the smallest piece, the range stays whole.
  CutOptions none;
  none.depth = 0;
  EXPECT_EQ(pieceEnds(two.data(), 0, two.size(), none), std::vector<size_t>{800000});
  CutOptions large;
  large.smallest = 900000;
  EXPECT_EQ(pieceEnds(two.data(), 0, two.size(), large), std::vector<size_t>{800000});
  // Quarters of noise over 16, 2, 8 and 4 byte values: the same contexts, different odds in
  // each. Cut down to the quarters, not below.
  Bytes four;
  for (int values : {16, 2, 8, 4}) {
    const Bytes q = randomBytes(200000, uint32_t(values), values);
    four.insert(four.end(), q.begin(), q.end());
  }
  EXPECT_EQ(pieceEnds(four.data(), 0, four.size()), (std::vector<size_t>{200000, 400000, 600000, 800000}));
  // Eight kinds of data, the range not aligned to them: several pieces, each at least half
  // the smallest length, in order, covering the range.
  Bytes striped;
  for (int values : {2, 256, 4, 128, 8, 64, 16, 32}) {
    const Bytes q = randomBytes(75000, uint32_t(values) + 1, values);
    striped.insert(striped.end(), q.begin(), q.end());
  }
  const std::vector<size_t> ends = pieceEnds(striped.data(), 1000, striped.size());
  EXPECT_GT(ends.size(), 4u);
  size_t at = 1000;
  for (size_t end : ends) {
    EXPECT_GE(end - at, CutOptions().smallest / 2);
    at = end;
  }
  EXPECT_EQ(at, striped.size());
}

TEST(FirstBlockEnd, EndsTheFirstOfTwoBlocksWhereTheDataChanges) {
  // 600 KB of text, then 400 KB of noise, in blocks of 900,000: the first ends at the noise
  // (a candidate: 100,000 + 20 * 25,000), not at the full 900,000.
  Bytes data = wordText(600000, 11);
  const Bytes noise = randomBytes(400000, 12, 256);
  data.insert(data.end(), noise.begin(), noise.end());
  EXPECT_EQ(firstBlockEnd(data.data(), 0, 100000, 900000, data.size()), 600000u);
  // Alike all through: the full first block stays.
  const Bytes text = wordText(1000000, 13);
  EXPECT_EQ(firstBlockEnd(text.data(), 0, 100000, 900000, text.size()), 900000u);
  // No choice left.
  EXPECT_EQ(firstBlockEnd(data.data(), 0, 900000, 900000, data.size()), 900000u);
}

Bytes libbz2Decode(const Bytes& stream, size_t size) {
  Bytes out(size + 1);
  unsigned produced = unsigned(out.size());
  const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &produced,
                                            reinterpret_cast<char*>(const_cast<uint8_t*>(stream.data())),
                                            unsigned(stream.size()), 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(rc == BZ_OK ? produced : 0);
  return out;
}

Bytes libbz2Encode(const Bytes& data) {
  unsigned capacity = unsigned(data.size() + data.size() / 100 + 600);
  Bytes stream(capacity);
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(stream.data()), &capacity,
                                     reinterpret_cast<char*>(const_cast<uint8_t*>(data.data())), unsigned(data.size()), 9,
                                     0, 0),
            BZ_OK);
  stream.resize(capacity);
  return stream;
}

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override { decoderRegions = {stateRegion_.data(), tableRegion_.data()}; }

  // The stored form through the engine's decoder.
  Bytes engineDecode(const Bytes& body, size_t size) {
    Bytes in(10, 0);
    in.insert(in.end(), body.begin(), body.end());
    Bytes out(size + 1);
    StreamRecord strm{};
    strm.bzalloc = arenaAlloc;
    decompressInit(&strm, 0, 0);
    strm.next_in = in.data();
    strm.avail_in = uint32_t(in.size());
    strm.next_out = out.data();
    strm.avail_out = uint32_t(out.size());
    EXPECT_EQ(decompress(&strm), DecodeStreamEnd);
    out.resize(strm.total_out_lo32);
    return out;
  }

  void check(const Bytes& data, uint32_t capacity, const std::string& what) {
    EncodeOptions crc;
    crc.blockCapacity = capacity;
    crc.checks = BlockChecks::Crc;
    EXPECT_TRUE(libbz2Decode(encodeStream(data.data(), data.size(), crc), data.size()) == data) << what;
    const Bytes body = writeStoredStream(data.data(), data.size(), int((capacity + 99999) / 100000));
    EXPECT_TRUE(engineDecode(body, data.size()) == data) << what;
  }

 private:
  Bytes stateRegion_ = Bytes(kStateRegionSize);
  Bytes tableRegion_ = Bytes(kTableRegionSize);
};

TEST_F(RoundTrip, ShapesOfData) {
  check({42}, 900000, "one byte");
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);
  check(all, 900000, "every byte value once");
  // Runs around the first stage's limits: 3, 4, 5, 259 and 260 equal bytes, and a block that
  // is one long run.
  Bytes runs;
  for (int len : {3, 4, 5, 259, 260, 1000, 4, 1})
    runs.insert(runs.end(), size_t(len), uint8_t(len & 0xFF));
  check(runs, 900000, "runs");
  check(Bytes(3000000, 0), 900000, "zeros over several blocks");
  check(randomBytes(1200000, 1, 256), 900000, "noise in two blocks");
  check(randomBytes(250000, 2, 3), 100000, "three symbols, small blocks");
  const Bytes text = wordText(700000, 7);
  check(text, 900000, "text");
  check(text, 100000, "text in small blocks");
  // Pieces the cut model separates, with a run of zeros across the middle cut and runs that
  // make the first stage lengthen a piece of 90% of the capacity past it.
  Bytes mixed = wordText(300000, 9);
  mixed.insert(mixed.end(), 200000, 0);
  const Bytes noise = randomBytes(300000, 10, 256);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  ASSERT_GT(pieceEnds(mixed.data(), 0, mixed.size()).size(), 1u);
  check(mixed, 900000, "text, zeros and noise cut apart");
  // Two blocks' worth whose first ends at the change rather than at the capacity.
  Bytes late = wordText(600000, 14);
  const Bytes lateNoise = randomBytes(450000, 15, 256);
  late.insert(late.end(), lateNoise.begin(), lateNoise.end());
  check(late, 900000, "text then noise, two blocks");
  Bytes fours;
  for (uint32_t k = 0; fours.size() < 100000; ++k) fours.insert(fours.end(), 4, uint8_t(k % 7));
  check(fours, 100000, "runs of four that lengthen a piece past the capacity");
}

// Real files of this machine: each decodes, and together they come out smaller than libbz2's
// streams of the same files (the size the encoder's choices are there for).
TEST_F(RoundTrip, RealFilesSmallerThanLibbz2) {
  std::vector<fs::path> files;
  for (const char* root : {"/usr/lib/x86_64-linux-gnu", "/usr/share/common-licenses", "/usr/bin"}) {
    std::vector<fs::path> all;
    std::error_code ec;
    for (fs::directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
      std::error_code e2;
      if (!it->is_symlink(e2) && it->is_regular_file(e2) && it->file_size(e2) > 2000 && it->file_size(e2) < 1500000)
        all.push_back(it->path());
    }
    std::sort(all.begin(), all.end());
    for (size_t k = 0; k < all.size() && k < 40; k += 5) files.push_back(all[k]);
  }
  ASSERT_GE(files.size(), 8u);
  uint64_t ours = 0, theirs = 0;
  for (const fs::path& path : files) {
    std::ifstream f(path, std::ios::binary);
    const Bytes data((std::istreambuf_iterator<char>(f)), {});
    check(data, 900000, path.string());
    ours += writeStoredStream(data.data(), data.size()).size() + 10;
    theirs += libbz2Encode(data).size();
  }
  EXPECT_LT(double(ours), 0.998 * double(theirs)) << ours << " against " << theirs;
}

}  // namespace
}  // namespace mw::encoder
