#include "decompress/decompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "decompress/stored_writer.h"
#include "decompress/test_streams.h"

namespace mw {
namespace {

using Bytes = std::vector<uint8_t>;
using test::BlockPlan;
using test::buildStream;
using test::Checks;
using test::noiseSymbols;
using test::storedInput;

Bytes textOf(size_t n, uint32_t seed) {
  static const char* words[] = {"installer ", "folder ", "the ", "shortcut ", "registry ", "a ", "\n", "of ", "Setup "};
  Bytes out;
  std::mt19937 rng(seed);
  while (out.size() < n) {
    const char* w = words[rng() % 9];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(n);
  return out;
}

Bytes stored(const Bytes& data, int blockSize = 9) {
  Bytes in = writeStoredStream(data.data(), data.size(), blockSize);
  in.insert(in.begin(), 10, 0);
  return in;
}

struct Outcome {
  int32_t result = 0;
  Bytes out;
};

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override { decoderRegions = {stateRegion_.data(), tableRegion_.data()}; }

  // Starts a stream with an output buffer of exactly `room` bytes (so that the sanitizers
  // catch any write past it).
  void start(size_t room) {
    out_.reset(new uint8_t[room ? room : 1]);
    room_ = room;
    strm = StreamRecord{};
    strm.bzalloc = arenaAlloc;
    decompressInit(&strm, 0, 0);
    strm.next_out = out_.get();
    strm.avail_out = uint32_t(room);
  }
  int32_t feed(const uint8_t* p, size_t n) {
    strm.next_in = p;
    strm.avail_in = uint32_t(n);
    return decompress(&strm);
  }
  Bytes written() const { return Bytes(out_.get(), out_.get() + (room_ - strm.avail_out)); }

  Outcome decodeAll(const Bytes& in, size_t room) {
    start(room);
    Outcome o;
    o.result = feed(in.data(), in.size());
    o.out = written();
    return o;
  }

  // Feeds the input in random pieces and gives the output room in random pieces.
  Outcome decodeInPieces(const Bytes& in, size_t room, uint32_t seed) {
    start(room);
    std::mt19937 rng(seed);
    size_t given = 0, roomGiven = 0;
    strm.next_in = in.data();
    strm.avail_in = 0;
    strm.avail_out = 0;
    Outcome o;
    for (;;) {
      bool gaveMore = false;
      if (strm.avail_in == 0 && given < in.size()) {
        size_t n = std::min<size_t>(in.size() - given, 1 + rng() % 700);
        strm.next_in = in.data() + given;
        strm.avail_in = uint32_t(n);
        given += n;
        gaveMore = true;
      }
      if (strm.avail_out == 0 && roomGiven < room) {
        size_t n = std::min<size_t>(room - roomGiven, 1 + rng() % 5000);
        strm.avail_out = uint32_t(n);
        roomGiven += n;
        gaveMore = true;
      }
      const uint32_t inBefore = strm.total_in_lo32, outBefore = strm.total_out_lo32;
      o.result = decompress(&strm);
      if (o.result != DecodeOk) break;
      const bool progressed = strm.total_in_lo32 != inBefore || strm.total_out_lo32 != outBefore;
      if (!progressed && !gaveMore) break;
    }
    o.out = Bytes(out_.get(), out_.get() + (roomGiven - strm.avail_out));
    return o;
  }

  StreamRecord strm{};

 private:
  std::vector<uint8_t> stateRegion_ = std::vector<uint8_t>(kStateRegionSize);
  std::vector<uint8_t> tableRegion_ = std::vector<uint8_t>(kTableRegionSize);
  std::unique_ptr<uint8_t[]> out_;
  size_t room_ = 0;
};

TEST(StoredWriter, RefusesWhatCannotBeStored) {
  uint8_t b = 'x';
  EXPECT_THROW(writeStoredStream(&b, 0), std::invalid_argument);
  EXPECT_THROW(writeStoredStream(&b, 1, 0), std::invalid_argument);
  EXPECT_THROW(writeStoredStream(&b, 1, 10), std::invalid_argument);
}

TEST_F(Decoder, TinyBlocksPassOnlyWithTheirOwnCheck) {
  const uint32_t required[] = {0x000000FFu, 0x0000FFFFu, 0x00FFFFFFu};
  for (size_t n = 1; n <= 3; ++n) {
    const Bytes data(std::begin("abc"), std::begin("abc") + n);
    Bytes in = stored(data);
    const uint32_t check = uint32_t(in[10]) << 24 | uint32_t(in[11]) << 16 | uint32_t(in[12]) << 8 | in[13];
    EXPECT_EQ(check, required[n - 1]) << n;
    Outcome ok = decodeAll(in, 100);
    EXPECT_EQ(ok.result, DecodeStreamEnd) << n;
    EXPECT_EQ(ok.out, data);

    for (int k = 10; k < 14; ++k) in[k] = 0xFF;
    Outcome bad = decodeAll(in, 100);
    EXPECT_EQ(bad.result, DecodeDataError) << n;
    EXPECT_EQ(bad.out, data) << "the block's bytes are written before its check is compared";
    EXPECT_EQ(strm.total_out_lo32, n);
  }
}

TEST_F(Decoder, BlocksFoldIntoTheCombinedCheck) {
  std::vector<BlockPlan> blocks(3);
  for (int k = 0; k < 3; ++k) blocks[k].symbols = noiseSymbols(500 + 37 * k, k + 1);
  for (size_t count : {1u, 2u, 3u}) {
    std::vector<BlockPlan> some(blocks.begin(), blocks.begin() + long(count));
    auto good = buildStream(some, Checks::Decoder);
    Outcome o = decodeAll(storedInput(good.bytes), good.output.size());
    EXPECT_EQ(o.result, DecodeStreamEnd) << count;
    EXPECT_EQ(o.out, good.output);
    // All blocks carry all ones: the combined value is all ones for an odd count, 0 for even.
    const uint32_t expected = count % 2 ? 0xFFFFFFFFu : 0u;
    auto wrong = buildStream(some, Checks::Decoder, ~expected);
    o = decodeAll(storedInput(wrong.bytes), wrong.output.size());
    EXPECT_EQ(o.result, DecodeDataError) << count;
    EXPECT_EQ(o.out, good.output);
  }
}

TEST_F(Decoder, OutputRoomCanRunOutAnywhere) {
  const Bytes data = textOf(300000, 7);
  const Bytes in = stored(data);

  start(data.size() - 1);
  EXPECT_EQ(feed(in.data(), in.size()), DecodeOk);
  EXPECT_EQ(strm.avail_out, 0u);
  EXPECT_EQ(strm.total_out_lo32, data.size() - 1);
  uint8_t last = 0;
  strm.next_out = &last;
  strm.avail_out = 1;
  EXPECT_EQ(decompress(&strm), DecodeStreamEnd);
  EXPECT_EQ(last, data.back());
  EXPECT_EQ(strm.total_in_lo32, in.size());

  Outcome exact = decodeAll(in, data.size());
  EXPECT_EQ(exact.result, DecodeStreamEnd);
  EXPECT_EQ(exact.out, data);
}

TEST_F(Decoder, InputCanRunOutAnywhere) {
  const Bytes data = textOf(3000, 3);
  const Bytes in = stored(data);
  for (size_t cut = 0; cut <= in.size(); ++cut) {
    start(data.size());
    int32_t first = feed(in.data(), cut);
    ASSERT_EQ(first, cut == in.size() ? DecodeStreamEnd : DecodeOk) << cut;
    EXPECT_EQ(strm.avail_in, 0u);
    EXPECT_EQ(strm.total_in_lo32, cut);
    if (cut < in.size()) {
      EXPECT_EQ(feed(in.data() + cut, in.size() - cut), DecodeStreamEnd) << cut;
    }
    EXPECT_EQ(written(), data) << cut;
  }

  start(data.size());
  int32_t r = DecodeOk;
  for (size_t k = 0; k < in.size() && r == DecodeOk; ++k) r = feed(&in[k], 1);
  EXPECT_EQ(r, DecodeStreamEnd);
  EXPECT_EQ(written(), data);
}

TEST_F(Decoder, PiecesOfInputAndRoomGiveTheSameResult) {
  // Several blocks (block size 1), binary-like and text-like parts, so that the fast symbol
  // loop is entered and left many times.
  Bytes data = textOf(250000, 11);
  Bytes noise = noiseSymbols(200000, 5, 40);
  data.insert(data.end(), noise.begin(), noise.end());
  const Bytes in = stored(data, 1);
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    Outcome o = decodeInPieces(in, data.size(), seed);
    EXPECT_EQ(o.result, DecodeStreamEnd) << seed;
    EXPECT_TRUE(o.out == data) << seed;
  }
}

TEST_F(Decoder, StreamLifecycle) {
  const Bytes data = textOf(1000, 1);
  const Bytes in = stored(data);
  EXPECT_EQ(decodeAll(in, data.size()).result, DecodeStreamEnd);
  EXPECT_EQ(decompress(&strm), DecodeSequenceError);
  EXPECT_EQ(decompress(&strm), DecodeSequenceError);
  Outcome again = decodeAll(in, data.size());
  EXPECT_EQ(again.result, DecodeStreamEnd);
  EXPECT_EQ(again.out, data);

  StreamRecord other = strm;
  EXPECT_EQ(decompress(&other), DecodeParamError) << "state belongs to another record";
  other.state = nullptr;
  EXPECT_EQ(decompress(&other), DecodeParamError);

  // A failed stream stays failed: later calls give the same error and consume and write
  // nothing more, whatever input they are handed.
  BlockPlan shape;
  shape.symbols = noiseSymbols(3000, 5);
  shape.storedCheck = 0x12345678u;
  const Bytes damaged = storedInput(buildStream({shape, shape}, Checks::Decoder).bytes);
  EXPECT_EQ(decodeAll(damaged, 10000).result, DecodeDataError);
  const uint32_t inBefore = strm.total_in_lo32, outBefore = strm.total_out_lo32;
  EXPECT_GT(outBefore, 0u);
  EXPECT_EQ(feed(damaged.data() + inBefore, damaged.size() - inBefore), DecodeDataError);
  EXPECT_EQ(decompress(&strm), DecodeDataError);
  EXPECT_EQ(strm.total_in_lo32, inBefore);
  EXPECT_EQ(strm.total_out_lo32, outBefore);
}

TEST_F(Decoder, FramingBytesAreIgnoredExceptTheEndMark) {
  const Bytes data = textOf(5000, 2);
  Bytes in = stored(data);
  const Bytes headers[] = {{'B', 'Z', 'h', '1'}, {0xFF, 0xFF, 0xFF, 0xFF}, {0x17, 0x17, 0x17, 0x17}};
  for (const Bytes& h : headers) {
    std::copy(h.begin(), h.end(), in.begin());
    std::fill(in.begin() + 4, in.begin() + 10, 0x5A);
    Outcome o = decodeAll(in, data.size());
    EXPECT_EQ(o.result, DecodeStreamEnd);
    EXPECT_EQ(o.out, data);
  }
  in[4] = 0x17;  // taken for the end-of-stream mark, whose magic then does not follow
  EXPECT_EQ(decodeAll(in, data.size()).result, DecodeDataError);
}

TEST_F(Decoder, PrimaryIndexLimits) {
  BlockPlan shape;
  shape.symbols = noiseSymbols(1000, 9);
  for (uint32_t origPtr : {0u, 900000u, 900010u, 900011u}) {
    if (origPtr) shape.origPtr = origPtr;
    auto built = buildStream({shape}, Checks::Decoder);
    const Bytes in = storedInput(built.bytes);
    // 18 bytes reach past the primary index: 10 framing bytes, 32 bits of check, 1 + 24 bits.
    start(built.output.size());
    int32_t early = feed(in.data(), 18);
    if (origPtr == 900011u) {
      EXPECT_EQ(early, DecodeDataError) << "rejected as soon as it is read";
      continue;
    }
    EXPECT_EQ(early, DecodeOk) << origPtr;
    int32_t r = feed(in.data() + 18, in.size() - 18);
    if (origPtr == 0) {
      EXPECT_EQ(r, DecodeStreamEnd);
    } else {
      EXPECT_EQ(r, DecodeDataError) << origPtr << " is not below the block's 1000 symbols";
    }
  }
}

TEST_F(Decoder, BlockCapacityIsExactly900000Symbols) {
  BlockPlan full;
  full.symbols = noiseSymbols(900000, 4);
  auto built = buildStream({full}, Checks::Decoder);
  Outcome o = decodeAll(storedInput(built.bytes), built.output.size());
  EXPECT_EQ(o.result, DecodeStreamEnd);
  EXPECT_TRUE(o.out == built.output);

  BlockPlan ordinary;  // one symbol too many, and it is an ordinary symbol
  ordinary.lastColumn = noiseSymbols(900001, 6);
  ordinary.lastColumn[900000] = uint8_t(ordinary.lastColumn[899999] ^ 1);
  ordinary.origPtr = 0;
  built = buildStream({ordinary}, Checks::Decoder);
  EXPECT_EQ(decodeAll(storedInput(built.bytes), 100).result, DecodeDataError);

  BlockPlan run;  // the last run crosses the limit
  run.lastColumn = noiseSymbols(899990, 6);
  run.lastColumn.insert(run.lastColumn.end(), 20, uint8_t(run.lastColumn.back() ^ 1));
  run.origPtr = 0;
  built = buildStream({run}, Checks::Decoder);
  EXPECT_EQ(decodeAll(storedInput(built.bytes), 100).result, DecodeDataError);
}

TEST_F(Decoder, MalformedBlocksAreRejectedSafely) {
  BlockPlan shape;
  shape.symbols = noiseSymbols(300, 2);

  shape.nSelectors = 18002;  // more than needed is fine up to the arrays' size
  auto built = buildStream({shape}, Checks::Decoder);
  Outcome o = decodeAll(storedInput(built.bytes), built.output.size());
  EXPECT_EQ(o.result, DecodeStreamEnd);
  EXPECT_EQ(o.out, built.output);
  shape.nSelectors = 18003;
  built = buildStream({shape}, Checks::Decoder);
  EXPECT_EQ(decodeAll(storedInput(built.bytes), 1000).result, DecodeDataError);
  shape.nSelectors = 1;  // more groups of 50 symbols than selectors
  built = buildStream({shape}, Checks::Decoder);
  EXPECT_EQ(decodeAll(storedInput(built.bytes), 1000).result, DecodeDataError);

  // Runs whose length would overflow any counter, alone or added to a full block.
  for (size_t digits : {21u, 40u, 200u}) {
    BlockPlan runs;
    runs.lastColumn = {'a', 'b'};
    runs.origPtr = 0;
    runs.rawSymbols.assign(digits, 1);
    built = buildStream({runs}, Checks::Decoder);
    EXPECT_EQ(decodeAll(storedInput(built.bytes), 1000).result, DecodeDataError) << digits;
  }
}

TEST_F(Decoder, LaterBlocksSitAtAnyBitPosition) {
  // Four blocks whose sizes put every later block at a bit position that is not a multiple of 8.
  test::BuiltStream built;
  for (uint32_t extra = 0; extra < 64; ++extra) {
    std::vector<BlockPlan> blocks(4);
    for (uint32_t k = 0; k < 4; ++k) blocks[k].symbols = noiseSymbols(1000 + 333 * k + extra * k, 20 + k, 20 + 50 * k);
    built = buildStream(blocks, Checks::Decoder);
    if (built.blockBits[1] % 8 && built.blockBits[2] % 8 && built.blockBits[3] % 8) break;
  }
  ASSERT_TRUE(built.blockBits[1] % 8 && built.blockBits[2] % 8 && built.blockBits[3] % 8);
  // Magic bytes 2 to 6 of every block are skipped unexamined.
  Bytes stream = built.bytes;
  for (size_t k = 1; k < built.blockBits.size(); ++k)
    for (size_t bit = built.blockBits[k] + 8; bit < built.blockBits[k] + 48; bit += 3)
      stream[bit / 8] ^= uint8_t(0x80u >> (bit % 8));
  Outcome o = decodeAll(storedInput(stream), built.output.size());
  EXPECT_EQ(o.result, DecodeStreamEnd);
  EXPECT_EQ(o.out, built.output);

  // The end-of-stream magic is checked, and a stream cut inside the marker wants more input.
  const Bytes in = storedInput(built.bytes);
  for (size_t cut = (built.endBits + 7) / 8; cut < (built.endBits + 80 + 7) / 8; ++cut) {
    start(built.output.size());
    EXPECT_EQ(feed(in.data(), cut), DecodeOk) << cut;
    EXPECT_EQ(written(), built.output);
  }
  stream = built.bytes;
  stream[(built.endBits + 20) / 8] ^= uint8_t(0x80u >> ((built.endBits + 20) % 8));
  EXPECT_EQ(decodeAll(storedInput(stream), built.output.size()).result, DecodeDataError);
}

TEST_F(Decoder, RandomisedBlocks) {
  // Long enough to wrap the 512-entry table; libbz2 is checked on the same block separately.
  for (size_t n : {2u, 5u, 300000u}) {
    BlockPlan shape;
    shape.symbols = noiseSymbols(n, uint32_t(n), 7);
    shape.randomised = true;
    auto built = buildStream({shape}, Checks::Decoder);
    Outcome o = decodeAll(storedInput(built.bytes), built.output.size());
    EXPECT_EQ(o.result, DecodeStreamEnd) << n;
    EXPECT_TRUE(o.out == built.output) << n;
  }
}

// The links of a last column, built as the block decoder builds them: entry j keeps the
// symbol of row j in its low byte and the row that follows it above.
std::vector<uint32_t> linksOf(const Bytes& last) {
  std::vector<uint32_t> tt(last.begin(), last.end());
  uint32_t cftab[257] = {};
  for (uint8_t b : last) ++cftab[b + 1];
  for (int k = 1; k <= 256; ++k) cftab[k] += cftab[k - 1];
  for (uint32_t i = 0; i < last.size(); ++i) tt[cftab[last[i]]++] |= i << 8;
  return tt;
}

// The output stage following the links one at a time: the model that the decoder's
// collected walk must reproduce, also for last columns that are no transform of anything.
Outcome walkModel(const Bytes& last, uint32_t origPtr) {
  const std::vector<uint32_t> tt = linksOf(last);
  const uint32_t end = uint32_t(last.size()) + 1;
  uint32_t tPos = tt[origPtr] >> 8;
  uint32_t used = 0;
  auto take = [&] {
    tPos = tt[tPos];
    uint32_t b = tPos & 0xFF;
    tPos >>= 8;
    ++used;
    return b;
  };
  Outcome o;
  uint32_t k0 = take();
  for (;;) {
    if (used == end) break;
    if (used > end) {
      o.result = DecodeDataError;
      return o;
    }
    uint32_t ch = k0, len = 1, k1 = take();
    if (used != end && k1 == k0) {
      len = 2;
      k1 = take();
      if (used != end && k1 == k0) {
        len = 3;
        k1 = take();
        if (used != end && k1 == k0) {
          len = take() + 4;
          k1 = take();
        }
      }
    }
    k0 = k1;
    o.out.insert(o.out.end(), len, uint8_t(ch));
  }
  o.result = o.out.size() >= 4 ? DecodeStreamEnd : DecodeDataError;
  return o;
}

size_t cycleThrough(const Bytes& last, uint32_t origPtr) {
  const std::vector<uint32_t> tt = linksOf(last);
  size_t n = 1;
  for (uint32_t row = tt[origPtr] >> 8; row != origPtr; row = tt[row] >> 8) ++n;
  return n;
}

TEST_F(Decoder, DamagedBlocksFollowTheirLinksExactly) {
  // Last columns that are no transform of anything: their links may form several cycles,
  // which the walk repeats; four equal bytes at the end make the walk run past the block.
  int shortCycles = 0, pastTheEnd = 0;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    BlockPlan shape;
    const size_t n = seed < 20 ? 2 + seed : 5000 + 97 * seed;
    shape.lastColumn = noiseSymbols(n, seed, seed % 3 == 0 ? 2 : 4);
    shape.origPtr = seed % uint32_t(n);
    shape.storedCheck = 0xFFFFFFFFu;
    auto built = buildStream({shape}, Checks::Decoder);
    Outcome model = walkModel(shape.lastColumn, *shape.origPtr);
    Outcome o = decodeAll(storedInput(built.bytes), 60 * n + 2000);
    EXPECT_EQ(o.result, model.result) << seed;
    EXPECT_TRUE(o.out == model.out) << seed;
    shortCycles += cycleThrough(shape.lastColumn, *shape.origPtr) < n;
    pastTheEnd += model.result == DecodeDataError && model.out.size() >= 4;
  }
  EXPECT_GT(shortCycles, 5);
  EXPECT_GT(pastTheEnd, 0);
}

TEST_F(Decoder, AWalkFarFromEverySeedIsCollectedInOrder) {
  // The inverse transform starts its walkers at the primary index and at rows k * n / 224 and
  // cuts the segment of a walker that goes 32,767 rows without meeting one. Here the links run
  // from row 0 (the primary index) through every other row in ascending order, the seed rows
  // last, so the first walker's segment is cut three times. A link order is possible for a
  // last column when the links of each byte value's rows ascend: one value per ascending stretch.
  const uint32_t n = 100000;
  std::vector<bool> seed(n, false);
  for (uint32_t k = 0; k < 224; ++k) seed[k * n / 224] = true;
  std::vector<uint32_t> order;
  for (uint32_t row = 0; row < n; ++row)
    if (!seed[row]) order.push_back(row);
  for (uint32_t row = 1; row < n; ++row)
    if (seed[row]) order.push_back(row);
  std::vector<uint32_t> link(n);
  link[0] = order.front();
  for (size_t k = 0; k + 1 < order.size(); ++k) link[order[k]] = order[k + 1];
  link[order.back()] = 0;
  BlockPlan shape;
  shape.lastColumn.assign(n, 0);
  uint32_t value = 0;
  for (uint32_t row = 0; row < n; ++row) {
    if (row > 0 && link[row] < link[row - 1]) ++value;
    ASSERT_LT(value, 256u);
    shape.lastColumn[link[row]] = uint8_t(value);
  }
  shape.origPtr = 0;
  shape.storedCheck = 0xFFFFFFFFu;
  ASSERT_EQ(cycleThrough(shape.lastColumn, 0), n);
  const Outcome model = walkModel(shape.lastColumn, 0);
  const Bytes in = storedInput(buildStream({shape}, Checks::Decoder).bytes);
  Outcome whole = decodeAll(in, model.out.size());
  EXPECT_EQ(whole.result, model.result);
  EXPECT_TRUE(whole.out == model.out);
  Outcome pieces = decodeInPieces(in, model.out.size(), 7);
  EXPECT_EQ(pieces.result, model.result);
  EXPECT_TRUE(pieces.out == model.out);
}

TEST_F(Decoder, ArenaAllocationHandsOutTheTwoRegions) {
  EXPECT_EQ(arenaAlloc(nullptr, int32_t(kStateRegionSize), 1), decoderRegions.stateRegion);
  EXPECT_EQ(arenaAlloc(nullptr, 1, int32_t(kStateRegionSize)), decoderRegions.stateRegion);
  EXPECT_EQ(arenaAlloc(nullptr, int32_t(kTableRegionSize), 1), decoderRegions.tableRegion);
  EXPECT_EQ(arenaAlloc(nullptr, 64116 / 4, 3), decoderRegions.tableRegion);
  EXPECT_GE(kStateRegionSize, 64116u);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(kStateRegionSize, 64116u);
  }
}

TEST_F(Decoder, CorruptInputStaysInsideItsBuffers) {
  // Damaged copies of a real stream, whole and in pieces: the result is the same either way,
  // nothing is written past the room given (the sanitizer build checks the reads too).
  Bytes data = textOf(40000, 8);
  Bytes noise = noiseSymbols(20000, 8, 30);
  data.insert(data.end(), noise.begin(), noise.end());
  const Bytes clean = stored(data, 1);
  std::mt19937 rng(99);
  int errors = 0;
  for (int variant = 0; variant < 300; ++variant) {
    Bytes in = clean;
    const int flips = 1 + int(rng() % 4);
    for (int f = 0; f < flips; ++f) in[10 + rng() % (in.size() - 10)] ^= uint8_t(1u << (rng() % 8));
    if (variant % 5 == 0) in.resize(10 + rng() % (in.size() - 10));
    Outcome whole = decodeAll(in, data.size());
    Outcome pieces = decodeInPieces(in, data.size(), uint32_t(variant));
    ASSERT_TRUE(whole.result == DecodeOk || whole.result == DecodeStreamEnd || whole.result == DecodeDataError);
    EXPECT_EQ(whole.result, pieces.result) << variant;
    EXPECT_TRUE(whole.out == pieces.out) << variant;
    errors += whole.result == DecodeDataError;
  }
  // Without CRCs most damage goes unnoticed here (the installer checks Adler-32 instead);
  // the point is that damage is handled safely and identically however the input arrives.
  EXPECT_GT(errors, 10);
}

}  // namespace
}  // namespace mw
