// encode_bench: the packager's encoder against libbz2 -9 inside one process, on one core, for
// tuning the encoder. Every file given (or found under the folders given) is cut into the
// packager's chunks of at most 1 MiB; each chunk is encoded as the packager stores it, and the
// whole file is compressed by libbz2 at level 9, as `bzip2 -9` would. Processor time of this
// thread for each side; both run over the same bytes in the page cache, alternating per file.
// Not a test: it prints figures. Last lines:
//   encoder processor-time ratio vs libbz2 -9: P   (libbz2's seconds / ours; > 1 means faster)
//   size ratio vs libbz2 -9: S                      (our bytes / libbz2's; < 1 means smaller)
//
//   encode_bench [--verbose] PATH...
#include <bzlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decompress/stored_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunk = 1048576;

double threadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

size_t libbz2Size(const std::vector<uint8_t>& data) {
  unsigned capacity = unsigned(data.size() + data.size() / 100 + 600);
  std::vector<char> out(capacity);
  if (BZ2_bzBuffToBuffCompress(out.data(), &capacity, reinterpret_cast<char*>(const_cast<uint8_t*>(data.data())),
                               unsigned(data.size()), 9, 0, 0) != BZ_OK)
    return 0;
  return capacity;
}

}  // namespace

int main(int argc, char** argv) {
  bool verbose = false;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--verbose")) {
      verbose = true;
      continue;
    }
    fs::path p = argv[i];
    if (fs::is_directory(p)) {
      for (auto& e : fs::recursive_directory_iterator(p))
        if (e.is_regular_file() && !e.is_symlink() && e.path().extension() != ".bz2") files.push_back(e.path());
    } else {
      files.push_back(p);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: encode_bench [--verbose] PATH...\n");
    return 2;
  }
  std::sort(files.begin(), files.end());
  uint64_t input = 0, ours = 0, theirs = 0;
  double ourSeconds = 0, theirSeconds = 0;
  for (const fs::path& path : files) {
    std::ifstream f(path, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    if (data.empty()) continue;
    double t0 = threadSeconds();
    uint64_t mine = 0;
    // Each chunk as the packager frames it: the stream less its 4-byte header, plus the
    // 4-byte chunk length; libbz2's stream keeps its header.
    for (size_t at = 0; at < data.size(); at += kChunk)
      mine += mw::writeStoredStream(data.data() + at, std::min(kChunk, data.size() - at)).size() + 4;
    double t1 = threadSeconds();
    const uint64_t peer = libbz2Size(data);
    double t2 = threadSeconds();
    ourSeconds += t1 - t0;
    theirSeconds += t2 - t1;
    input += data.size();
    ours += mine;
    theirs += peer;
    if (verbose)
      std::printf("%8.4f %10zu %s\n", double(mine) / double(peer), data.size(), path.c_str());
  }
  std::printf("%zu files, %llu bytes: ours %llu bytes in %.2f s, libbz2 -9 %llu bytes in %.2f s\n", files.size(),
              (unsigned long long)input, (unsigned long long)ours, ourSeconds, (unsigned long long)theirs,
              theirSeconds);
  std::printf("encoder processor-time ratio vs libbz2 -9: %.3f\n", theirSeconds / ourSeconds);
  std::printf("size ratio vs libbz2 -9: %.4f\n", double(ours) / double(theirs));
  return 0;
}
