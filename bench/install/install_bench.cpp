// install_bench: how much an installation costs beyond decoding its data.
//
// Gathers at least 128 MiB of real files from this machine (programs and libraries under /usr),
// packs them with `marlowick build`, then in the same run
//   1. decodes every chunk of every file with the host build of the engine's decoder (the chunks
//      read from the installer as the engine reads them; only the decoding is timed), and
//   2. installs the same installer silently under wine into a fresh prefix (wall time of the
//      installer's run, minus the time wine takes to start and end a program that does nothing).
// Not a test: it prints figures and never fails on a timing. It also compares the Windows
// build's decoder under wine with the host build's on the same chunks, in alternating rounds
// (the machine is shared, so one pair of runs says little): per-round ratios and their median,
// "decoder speed ratio, Windows build under wine vs host build: R". Last line:
//   install overhead vs decode: R        (install time / decode time)
//
//   install_bench [--megabytes N] [--rounds N] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "decompress/decompress.h"
#include "packager/wine_session.h"
#include "format/arena.h"
#include "format/chunk.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Regular files under a few system folders, largest folders first, until `want` bytes.
uint64_t gatherFiles(const fs::path& into, uint64_t want) {
  const char* const roots[] = {"/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib/gcc", "/usr/libexec", "/usr/share"};
  uint64_t total = 0;
  int count = 0;
  for (const char* root : roots) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator() && total < want; it.increment(ec)) {
      if (ec) break;
      if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
      const uint64_t size = it->file_size(ec);
      if (ec || size == 0 || size > 64u << 20) continue;
      // Names the installer cannot hold (over 200 characters, odd bytes) are left out.
      const std::string rel = fs::path(it->path()).lexically_relative("/usr").string();
      if (rel.size() > 200 || rel.find_first_of(":*?\"<>|\\") != std::string::npos) continue;
      bool ascii = true;
      for (unsigned char c : rel) ascii = ascii && c >= 0x20 && c < 0x7F;
      if (!ascii) continue;
      const fs::path target = into / rel;
      fs::create_directories(target.parent_path(), ec);
      if (!fs::copy_file(it->path(), target, fs::copy_options::overwrite_existing, ec) || ec) continue;
      total += size;
      ++count;
    }
    if (total >= want) break;
  }
  std::cout << "files: " << count << ", " << total << " bytes (" << total / 1048576.0 << " MiB)\n";
  return total;
}

struct ChunkFile {
  uint32_t dataOffset;
  uint32_t chunkCount;
};

// Decodes every chunk the way the engine does (ten header bytes, then the body), timing only the
// decoder. Returns seconds, or a negative number on a decoding error.
double decodeAll(const fs::path& installer, const std::vector<ChunkFile>& files, uint64_t& produced) {
  std::ifstream in(installer, std::ios::binary);
  std::vector<uint8_t> chunk(mw::kMaxChunkHeader);
  std::vector<uint8_t> arena(mw::kOutputRegionSize + mw::kStateRegionSize + mw::kTableRegionSize);
  uint8_t* output = arena.data();
  mw::decoderRegions.stateRegion = arena.data() + mw::kOutputRegionSize;
  mw::decoderRegions.tableRegion = arena.data() + mw::kOutputRegionSize + mw::kStateRegionSize;
  double seconds = 0;
  produced = 0;
  for (const ChunkFile& f : files) {
    if (!f.dataOffset) continue;
    in.seekg(f.dataOffset);
    for (uint32_t c = 0; c < f.chunkCount; ++c) {
      std::fill(chunk.begin(), chunk.begin() + mw::kChunkHeaderCount, 0);
      in.read(reinterpret_cast<char*>(chunk.data()), 4);
      const uint32_t h = uint32_t(chunk[0]) | uint32_t(chunk[1]) << 8 | uint32_t(chunk[2]) << 16 | uint32_t(chunk[3]) << 24;
      if (h < mw::kChunkHeaderCount || h > chunk.size()) return -1;
      in.read(reinterpret_cast<char*>(chunk.data() + mw::kChunkHeaderCount), h - mw::kChunkHeaderCount);
      mw::StreamRecord strm{};
      strm.next_in = chunk.data();
      strm.avail_in = h;
      strm.next_out = output;
      strm.avail_out = mw::kOutputRegionSize;
      strm.bzalloc = mw::arenaAlloc;
      const auto t = Clock::now();
      mw::decompressInit(&strm, 0, 0);
      const int32_t rc = mw::decompress(&strm);
      seconds += since(t);
      if (rc != mw::DecodeStreamEnd) return -1;
      produced += strm.total_out_lo32;
    }
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t megabytes = 128;
  int rounds = 3;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--megabytes") && i + 1 < argc) megabytes = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
  }
  const fs::path dist = MW_DIST;
  std::string error;
  auto session = mw::wine::Session::create(error, &std::cerr, fs::path(MW_SOURCE_DIR) / "scripts" / "wine-env");
  if (!session) {
    std::cerr << "install_bench: " << error << "\n";
    return 2;
  }
  if (keep) session->keep();
  const fs::path work = session->scratch() / "bench";
  const uint64_t total = gatherFiles(work / "files", megabytes << 20);
  std::ofstream(work / "project.toml") << "[product]\nname = \"Install Bench\"\n[destination]\nkind = \"absolute\"\n"
                                          "path = 'C:\\Install Bench'\n[[files]]\nsource = \"files\"\n";
  const fs::path installer = work / "setup.exe";
  auto t = Clock::now();
  mw::wine::RunResult built = mw::wine::run({(dist / "marlowick").string(), "build", (work / "project.toml").string(), "-o",
                                             installer.string(), "--no-progress", "-q"},
                                            session->environment(), 3600, {}, &std::cerr);
  if (built.exitCode != 0) {
    std::cerr << "install_bench: the build failed\n";
    return 1;
  }
  std::cout << "installer: " << fs::file_size(installer) << " bytes, built in " << since(t) << " s\n";

  mw::wine::RunResult list = mw::wine::run({(dist / "marlowick").string(), "list", "--json", installer.string()},
                                           session->environment(), 600);
  std::vector<ChunkFile> files;
  std::regex line(R"re("dataOffset": (\d+), "chunkCount": (\d+))re");
  for (std::sregex_iterator m(list.out.begin(), list.out.end(), line), end; m != end; ++m)
    files.push_back({uint32_t(std::stoul((*m)[1])), uint32_t(std::stoul((*m)[2]))});
  uint64_t produced = 0;
  const double decode = decodeAll(installer, files, produced);
  if (decode < 0 || produced != total) {
    std::cerr << "install_bench: decoding failed (" << produced << " of " << total << " bytes)\n";
    return 1;
  }
  std::cout << "host decode: " << decode << " s for " << produced << " bytes (" << produced / 1048576.0 / decode << " MiB/s)\n";

  // Wine's own cost of starting and ending a program, to take out of the installer's time.
  const fs::path driver = dist / "mw_driver.exe";
  session->wine({mw::wine::Session::windowsPath(driver), "--", "C:\\windows\\system32\\hostname.exe"}, 600);
  session->waitIdle();
  t = Clock::now();
  session->wine({mw::wine::Session::windowsPath(driver), "--", "C:\\windows\\system32\\hostname.exe"}, 600);
  session->waitIdle();
  const double startCost = since(t);
  std::cout << "wine start and end of a program: " << startCost << " s\n";

  t = Clock::now();
  mw::wine::RunResult run = session->wine(
      {mw::wine::Session::windowsPath(driver), "--stop-boxes", "--", mw::wine::Session::windowsPath(installer), "/s"}, 7200);
  session->waitIdle();
  const double wall = since(t);
  if (run.exitCode != 0) {
    std::cerr << run.out << "install_bench: the installer exited with " << run.exitCode << "\n";
    return 1;
  }
  const double install = wall - startCost > 0 ? wall - startCost : wall;
  std::cout << "silent install under wine: " << wall << " s (" << install << " s without wine's start)\n";

  // The same chunks decoded by the Windows build of the decoder under the same wine, in rounds
  // that alternate with the host build's: where wine's 32-bit side runs emulated, this separates
  // what emulation costs from what the installation adds to decoding.
  const fs::path listFile = work / "chunks.txt", resultFile = work / "decode-result.txt";
  {
    std::ofstream listOut(listFile);
    for (const ChunkFile& f : files)
      if (f.dataOffset) listOut << f.dataOffset << " " << f.chunkCount << "\n";
  }
  std::vector<double> hostTimes{decode}, wineTimes, ratios;
  for (int round = 0; round < rounds; ++round) {
    if (round > 0) {
      uint64_t again = 0;
      hostTimes.push_back(decodeAll(installer, files, again));
    }
    fs::remove(resultFile);
    session->wine({mw::wine::Session::windowsPath(dist / "decode_chunks.exe"), mw::wine::Session::windowsPath(installer),
                   mw::wine::Session::windowsPath(listFile), mw::wine::Session::windowsPath(resultFile)}, 7200);
    session->waitIdle();
    double wineDecode = 0;
    uint64_t wineProduced = 0;
    std::ifstream(resultFile) >> wineDecode >> wineProduced;
    if (!(wineDecode > 0 && wineProduced == total)) break;
    wineTimes.push_back(wineDecode);
    ratios.push_back(hostTimes.back() / wineDecode);
    std::printf("round %d: host decoder %.3f s, Windows build under wine %.3f s, ratio %.3f\n", round + 1,
                hostTimes.back(), wineDecode, ratios.back());
  }
  if (!ratios.empty()) {
    const double wineDecode = median(wineTimes);
    std::cout << "decoder alone under wine, median: " << wineDecode << " s (" << total / 1048576.0 / wineDecode << " MiB/s)\n";
    std::printf("install overhead vs decode under wine: %.2f\n", install / wineDecode);
    // The Windows build's decoder against the host build's on the same chunks: what the 32-bit
    // freestanding build (and wine, or its emulation) costs the decoder.
    std::printf("decoder speed ratio, Windows build under wine vs host build: %.2f\n", median(ratios));
  } else {
    std::cout << "decoder alone under wine: could not be measured\n";
  }
  std::printf("install overhead vs decode: %.2f\n", install / decode);
  return 0;
}
