#include "format/payload.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "core/bytes.h"
#include "decompress/stored_writer.h"

namespace mw {
namespace {

TEST(Locator, RecordAndInstanceName) {
  uint8_t raw[12] = {0x5C, 0x00, 0x01, 0xFF, 0x10, 0x5D, 0x00, 0x5C, 0x22, 0x00, 0x5C, 0x00};
  LocatorRecord r = parseLocator(raw);
  EXPECT_EQ(r.checksum, 0xFF01005Cu);
  EXPECT_EQ(r.scriptOffset, 0x5C005D10u);
  EXPECT_EQ(r.scriptLength, 0x005C0022u);
  uint8_t back[12];
  writeLocator(back, r);
  EXPECT_EQ(std::memcmp(raw, back, 12), 0);

  // Backslashes and NULs are raised by one; only the first ten bytes count.
  char name[11];
  instanceName(raw, name);
  const uint8_t expect[10] = {0x5D, 0x01, 0x01, 0xFF, 0x10, 0x5D, 0x01, 0x5D, 0x22, 0x01};
  EXPECT_EQ(std::memcmp(name, expect, 10), 0);
  EXPECT_EQ(name[10], 0);
  EXPECT_EQ(std::strlen(name), 10u);
}

TEST(Payload, BufferSizesAndChecksum) {
  uint32_t allocate = 0, read = 0;
  EXPECT_TRUE(readBufferSizes({0, 0, 100}, allocate, read));
  EXPECT_EQ(allocate, 100u + 4278);
  EXPECT_EQ(read, 100u + 4272);
  EXPECT_FALSE(readBufferSizes({0, 0, 3}, allocate, read));
  EXPECT_FALSE(readBufferSizes({0, 0, 0xFFFFFFFFu - 4000}, allocate, read));

  EXPECT_EQ(adler32Update(1, nullptr, 0), 1u);
}

// The script and the blob must lie inside the file before their sizes are trusted: a damaged
// scriptLength or scriptOffset is a corrupt payload, not a request for gigabytes of memory.
TEST(Payload, ScriptAndBlobMustLieInsideTheFile) {
  const uint32_t file = 20000 + 100 + 4272;  // a script of 100 bytes at 20000, then the blob
  EXPECT_TRUE(payloadInsideFile({0, 20000, 100}, file));
  EXPECT_TRUE(payloadInsideFile({0, 20000, 99}, file));       // a trailer after the blob is allowed
  EXPECT_FALSE(payloadInsideFile({0, 20000, 101}, file));     // the blob would end past the file
  EXPECT_FALSE(payloadInsideFile({0, 20001, 100}, file));
  EXPECT_FALSE(payloadInsideFile({0, file - 4271, 0}, file));  // no room for the blob at all
  EXPECT_FALSE(payloadInsideFile({0, file + 1, 0}, file));
  // Sums that would wrap in 32 bits.
  EXPECT_FALSE(payloadInsideFile({0, 20000, 0xFFFFFFFFu - 100}, file));
  EXPECT_FALSE(payloadInsideFile({0, 0xFFFFFFF0u, 100}, file));
  EXPECT_FALSE(payloadInsideFile({0, 0xFFFFFFFFu, 0xFFFFFFFFu}, 0xFFFFFFFFu));

  // Chained over pieces equals one run.
  const uint8_t text[] = "Wikipedia";
  EXPECT_EQ(adler32Update(1, text, 9), 0x11E60398u);
  EXPECT_EQ(adler32Update(adler32Update(1, text, 4), text + 4, 5), 0x11E60398u);
  // zlib's values, across the reduction runs of 5552 bytes, from sums near the modulus, and
  // chained over uneven pieces.
  std::vector<uint8_t> big(40000);
  uint32_t seed = 12345;
  for (uint8_t& b : big) b = uint8_t((seed = seed * 1103515245u + 12345u) >> 23);
  std::fill(big.begin() + 20000, big.begin() + 32000, 0xFF);
  for (uint32_t start : {1u, 0xFFF0FFF0u, 0x0000FFF0u, 0xFFF00001u})
    for (uint32_t length : {0u, 1u, 5551u, 5552u, 5553u, 11104u, 40000u}) {
      const uint8_t* from = big.data() + (length < 40000 ? 20000 - length / 2 : 0);
      EXPECT_EQ(adler32Update(start, from, length), uint32_t(::adler32(start, from, length)))
          << start << " " << length;
    }
  uint32_t chained = 1;
  for (uint32_t at = 0, piece = 1; at < big.size(); at += piece, piece = piece * 3 + 1)
    chained = adler32Update(chained, big.data() + at, std::min<uint32_t>(piece, big.size() - at));
  EXPECT_EQ(chained, uint32_t(::adler32(1, big.data(), big.size())));

  // A read buffer: six zeros, a 20-byte script, the 4272-byte blob.
  LocatorRecord rec{0, 1234, 20};
  std::vector<uint8_t> buf(6 + 20 + kBlobSize);
  for (size_t i = 6; i < buf.size(); ++i) buf[i] = uint8_t(i * 7);
  rec.checksum = adler32Update(1, buf.data() + 6, 20 + kBlobSize);
  EXPECT_TRUE(payloadIntact(buf.data(), rec));
  buf[6 + 20 + kBlobSize - 1] ^= 1;  // last byte of the blob
  EXPECT_FALSE(payloadIntact(buf.data(), rec));
  buf[6 + 20 + kBlobSize - 1] ^= 1;
  buf[6] ^= 0x80;  // first byte of the script
  EXPECT_FALSE(payloadIntact(buf.data(), rec));
  buf[0] = 0x55;  // the lead bytes are outside the checksum
  buf[6] ^= 0x80;
  EXPECT_TRUE(payloadIntact(buf.data(), rec));
}

TEST(Arena, RegionsInOrder) {
  // On the 32-bit target the state record is 64,116 bytes and the regions 4,717,812; the
  // arena adds at most 30 bytes so that the decoder's regions are aligned.
  EXPECT_EQ(arenaRegionsSize() - kStateRegionSize + 64116, 4717812u);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(arenaRegionsSize(), 4717812u);
  }
  EXPECT_EQ(arenaFixedSize(), arenaRegionsSize() + 30);

  const uint32_t u = 777;
  uint32_t size = 0;
  ASSERT_TRUE(arenaSizeFor(u, size));
  EXPECT_EQ(size, u + arenaFixedSize());
  EXPECT_FALSE(arenaSizeFor(0xFFFFFFFFu - arenaFixedSize() + 1, size));

  // The layout is pure arithmetic over the block; no byte of it is touched. Every script
  // length and every block alignment keeps the regions in order, in size and inside the block.
  alignas(16) static uint8_t block[64];
  for (uint32_t len : {0u, 1u, 777u, 4096u, 4097u}) {
    ASSERT_TRUE(arenaSizeFor(len, size));
    for (uint32_t shift = 0; shift < 16; ++shift) {
      uint8_t* start = block + shift;
      Arena a;
      layOutArena(a, start, len);
      EXPECT_EQ(a.base, start);
      EXPECT_EQ(a.scriptLength, len);
      EXPECT_EQ(a.outputRegion, start + len);  // exactly U bytes in
      EXPECT_GE(a.stateRegion, a.outputRegion + 0x100000);
      EXPECT_LT(a.stateRegion, a.outputRegion + 0x100000 + 16);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(a.stateRegion) % 16, 0u);
      EXPECT_GE(a.tableRegion, a.stateRegion + kStateRegionSize);
      EXPECT_LT(a.tableRegion, a.stateRegion + kStateRegionSize + 16);
      EXPECT_EQ(reinterpret_cast<uintptr_t>(a.tableRegion) % 16, 0u);
      EXPECT_EQ(reinterpret_cast<uint8_t*>(a.pathScratch), a.tableRegion + 3600000);
      EXPECT_EQ(a.messageScratch, a.pathScratch + 2048);
      EXPECT_EQ(a.shortcutScratch, a.messageScratch + 1024);
      EXPECT_EQ(a.installDir, a.shortcutScratch + 1024);
      EXPECT_LE(reinterpret_cast<uint8_t*>(a.installDir) + 1024, start + size);
      EXPECT_EQ(decoderRegions.stateRegion, a.stateRegion);
      EXPECT_EQ(decoderRegions.tableRegion, a.tableRegion);
    }
  }
}

// The script stored as the packager stores it, in a read buffer as the start-up fills it.
struct LoadFixture {
  std::vector<uint8_t> script;
  std::vector<uint8_t> readBuffer;
  LocatorRecord record{};

  explicit LoadFixture(size_t n) : script(n) {
    for (size_t i = 0; i < n; ++i) script[i] = uint8_t((i * 31) ^ (i >> 7));
    std::vector<uint8_t> body = writeStoredStream(script.data(), script.size());
    record.scriptLength = uint32_t(4 + body.size());
    readBuffer.assign(kReadBufferLead + record.scriptLength + kBlobSize, 0);
    writeU32(readBuffer.data() + kReadBufferLead, uint32_t(n));
    std::memcpy(readBuffer.data() + kReadBufferLead + 4, body.data(), body.size());
  }
};

struct ArenaBlock {
  std::unique_ptr<uint8_t[]> block;
  Arena arena{};
  explicit ArenaBlock(uint32_t u) {
    uint32_t size = 0;
    EXPECT_TRUE(arenaSizeFor(u, size));
    block.reset(new uint8_t[size]());
    layOutArena(arena, block.get(), u);
  }
};

TEST(LoadScript, DecodesIntoScriptRegion) {
  LoadFixture f(5000);
  uint32_t u = scriptDecodedLength(f.readBuffer.data());
  ASSERT_EQ(u, 5000u);
  ArenaBlock a(u);
  EXPECT_EQ(loadScript(f.readBuffer.data(), f.record, a.arena), LoadOk);
  EXPECT_EQ(std::memcmp(a.arena.base, f.script.data(), u), 0);
  // Nothing spills into the output region that follows.
  EXPECT_EQ(a.arena.outputRegion[0], 0);
}

TEST(LoadScript, WrongLengthOrDamagedBodyIsReported) {
  LoadFixture f(3000);
  {
    ArenaBlock small(2999);  // a U one short: the stream does not end in the region
    EXPECT_EQ(loadScript(f.readBuffer.data(), f.record, small.arena), LoadCorrupt);
    EXPECT_EQ(small.arena.outputRegion[0], 0);
  }
  {
    ArenaBlock large(3001);  // a U one long: the stream ends short of it
    EXPECT_EQ(loadScript(f.readBuffer.data(), f.record, large.arena), LoadCorrupt);
  }
  {
    LoadFixture g(3000);
    g.readBuffer[kReadBufferLead + 4 + 40] ^= 0x10;
    ArenaBlock a(3000);
    EXPECT_EQ(loadScript(g.readBuffer.data(), g.record, a.arena), LoadCorrupt);
  }
  {
    LoadFixture g(3000);
    g.record.scriptLength -= 20;  // body cut short
    ArenaBlock a(3000);
    EXPECT_EQ(loadScript(g.readBuffer.data(), g.record, a.arena), LoadCorrupt);
  }
}

}  // namespace
}  // namespace mw
