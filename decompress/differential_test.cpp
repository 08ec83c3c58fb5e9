// The decoder against the input and against libbz2, on real files of this machine and on
// crafted blocks that libbz2 also reads (randomised blocks, a full block).
#include <bzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decompress/decompress.h"
#include "decompress/stored_writer.h"
#include "decompress/test_streams.h"

namespace mw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// A spread of real files: shared libraries, licences, documentation, Perl modules, time zone
// data and programs: about five per folder spread over its files in path order, up to 1.5 MB.
std::vector<fs::path> sampleFiles() {
  struct Root {
    const char* path;
    uintmax_t minSize;
  };
  const Root roots[] = {{"/usr/lib/x86_64-linux-gnu", 200 * 1024}, {"/usr/bin", 100 * 1024},
                        {"/usr/share/common-licenses", 1024}, {"/usr/share/perl5", 8 * 1024},
                        {"/usr/share/doc", 4 * 1024}, {"/usr/share/zoneinfo", 1024}};
  std::vector<fs::path> picked;
  for (const Root& root : roots) {
    std::vector<fs::path> all;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root.path, fs::directory_options::skip_permission_denied, ec), end;
         it != end; it.increment(ec)) {
      if (ec) break;
      std::error_code e2;
      if (it->is_symlink(e2) || !it->is_regular_file(e2)) continue;
      auto size = it->file_size(e2);
      if (!e2 && size >= root.minSize && size <= 1536 * 1024) all.push_back(it->path());
    }
    std::sort(all.begin(), all.end());
    const size_t step = std::max<size_t>(1, all.size() / 5);
    for (size_t k = 0; k < all.size() && picked.size() < 200; k += step) picked.push_back(all[k]);
  }
  return picked;
}

Bytes readFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), {});
}

class Differential : public ::testing::Test {
 protected:
  void SetUp() override { decoderRegions = {stateRegion_.data(), tableRegion_.data()}; }

  int32_t decodeOurs(const Bytes& in, Bytes& out) {
    StreamRecord strm{};
    strm.bzalloc = arenaAlloc;
    decompressInit(&strm, 0, 0);
    strm.next_in = in.data();
    strm.avail_in = uint32_t(in.size());
    strm.next_out = out.data();
    strm.avail_out = uint32_t(out.size());
    int32_t r = decompress(&strm);
    out.resize(strm.total_out_lo32);
    return r;
  }

 private:
  Bytes stateRegion_ = Bytes(kStateRegionSize);
  Bytes tableRegion_ = Bytes(kTableRegionSize);
};

Bytes libbz2Decode(const Bytes& stream, size_t size) {
  Bytes out(size + 1);
  unsigned int produced = unsigned(out.size());
  int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &produced,
                                      reinterpret_cast<char*>(const_cast<uint8_t*>(stream.data())),
                                      unsigned(stream.size()), 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(produced);
  return out;
}

TEST_F(Differential, RealFilesAtSeveralBlockSizes) {
  const std::vector<fs::path> files = sampleFiles();
  ASSERT_GE(files.size(), 12u) << "too few sample files found";
  size_t bytes = 0;
  for (const fs::path& path : files) {
    const Bytes data = readFile(path);
    for (int blockSize : {1, 5, 9}) {
      // libbz2's own stream, decoded by libbz2, and the stored form of that very stream.
      unsigned capacity = unsigned(data.size() + data.size() / 100 + 600);
      Bytes stream(capacity);
      ASSERT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(stream.data()), &capacity,
                                         reinterpret_cast<char*>(const_cast<uint8_t*>(data.data())),
                                         unsigned(data.size()), blockSize, 0, 0),
                BZ_OK);
      stream.resize(capacity);
      const Bytes reference = libbz2Decode(stream, data.size());

      Bytes in = storeBzip2Stream(stream);
      in.insert(in.begin(), 10, 0);
      Bytes out(data.size());
      EXPECT_EQ(decodeOurs(in, out), DecodeStreamEnd) << path << " block size " << blockSize;
      EXPECT_TRUE(out == data) << path << " block size " << blockSize;
      EXPECT_TRUE(out == reference) << path << " block size " << blockSize;
    }
    bytes += data.size();
  }
  EXPECT_GT(bytes, 2u << 20);
}

TEST_F(Differential, CraftedBlocksReadTheSameAsLibbz2) {
  // Randomised blocks (long enough to wrap the randomisation table) and a block of exactly
  // 900,000 symbols: libbz2 reads them with their CRCs, this decoder with its own checks.
  std::vector<test::BlockPlan> cases(3);
  cases[0].symbols = test::noiseSymbols(350000, 31, 5);
  cases[0].randomised = true;
  cases[1].symbols = test::noiseSymbols(40000, 32, 200);
  cases[1].randomised = true;
  cases[2].symbols = test::noiseSymbols(900000, 33);
  for (const test::BlockPlan& shape : cases) {
    auto forLibbz2 = test::buildStream({shape}, test::Checks::Crc);
    auto forUs = test::buildStream({shape}, test::Checks::Decoder);
    const Bytes reference = libbz2Decode(forLibbz2.bytes, forLibbz2.output.size());
    Bytes out(forUs.output.size());
    EXPECT_EQ(decodeOurs(test::storedInput(forUs.bytes), out), DecodeStreamEnd);
    EXPECT_TRUE(reference == forLibbz2.output);
    EXPECT_TRUE(out == reference);
  }
}

}  // namespace
}  // namespace mw
