// Decoding speed of the engine's decompressor against libbz2's BZ2_bzDecompress, on the same
// corpus in the same run.
//
// The corpus is real data from this machine: programs and shared libraries, C headers, Python
// and Perl sources, at least 64 MiB, cut per file into chunks of at most 1 MiB as the
// installer stores files. Each chunk is compressed once with libbz2 (block size 9); libbz2
// decodes that stream, our decoder the stored form made from it (ten framing bytes in front).
// Both decoders get their memory handed out from buffers allocated once, so neither pays for
// allocation per stream. The decoders take turns chunk by chunk. Both outputs are checked
// against the original bytes before anything is timed.
//
// The last line is exactly "decode speed ratio vs libbz2: R", R = our MB/s / libbz2's MB/s.
//
// Usage: bench_decode [--mib N] [--rounds N]
#include <bzlib.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "core/bytes.h"
#include "decompress/decompress.h"
#include "decompress/stored_writer.h"

namespace fs = std::filesystem;

namespace {

double cpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

constexpr size_t kMiB = 1u << 20;
constexpr size_t kChunk = kMiB;

struct Source {
  const char* name;
  std::vector<const char*> roots;
  std::vector<const char*> suffixes;  // empty: any name
  bool elfOnly;
  double share;  // of the corpus
};

struct Chunk {
  std::vector<uint8_t> original;
  std::vector<uint8_t> bzip2;   // libbz2's stream
  std::vector<uint8_t> stored;  // ten framing bytes + stored body
};

bool hasSuffix(const std::string& name, const std::vector<const char*>& suffixes) {
  if (suffixes.empty()) return true;
  for (const char* s : suffixes) {
    size_t n = std::strlen(s);
    if (name.size() >= n && name.compare(name.size() - n, n, s) == 0) return true;
    // shared libraries: libfoo.so.1.2
    if (std::strcmp(s, ".so") == 0 && name.find(".so.") != std::string::npos) return true;
  }
  return false;
}

std::vector<uint8_t> readFile(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), {});
}

// Files of one source in path order until its share of the corpus is reached.
size_t collect(const Source& src, size_t quota, std::vector<Chunk>& chunks) {
  std::vector<fs::path> paths;
  for (const char* root : src.roots) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec), end;
         it != end; it.increment(ec)) {
      if (ec) break;
      std::error_code e2;
      if (!it->is_regular_file(e2) || it->is_symlink(e2)) continue;
      const std::string name = it->path().filename().string();
      if (!hasSuffix(name, src.suffixes)) continue;
      auto size = it->file_size(e2);
      if (e2 || size < 256 || size > 4 * kMiB) continue;
      paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  size_t taken = 0;
  for (const fs::path& p : paths) {
    if (taken >= quota) break;
    std::vector<uint8_t> data = readFile(p);
    if (data.size() < 256) continue;
    if (src.elfOnly && std::memcmp(data.data(), "\x7f" "ELF", 4) != 0) continue;
    for (size_t at = 0; at < data.size(); at += kChunk) {
      Chunk c;
      c.original.assign(data.begin() + long(at), data.begin() + long(std::min(data.size(), at + kChunk)));
      chunks.push_back(std::move(c));
    }
    taken += data.size();
  }
  return taken;
}

// libbz2 allocates its state and its 3.6 MB table per stream; hand both out from one buffer
// allocated once, as our decoder's arena does, so that the comparison is of decoding alone.
struct BumpArena {
  std::vector<uint8_t> memory = std::vector<uint8_t>(8 * kMiB);
  size_t used = 0;
};
void* bumpAlloc(void* opaque, int count, int size) {
  auto* arena = static_cast<BumpArena*>(opaque);
  size_t bytes = (size_t(count) * size + 63) & ~size_t(63);
  if (arena->used + bytes > arena->memory.size()) return nullptr;
  void* p = arena->memory.data() + arena->used;
  arena->used += bytes;
  return p;
}
void bumpFree(void*, void*) {}

// Decodes one chunk with libbz2; returns the bytes produced or -1.
long decodeLibbz2(const Chunk& c, uint8_t* out, BumpArena& arena) {
  bz_stream strm{};
  arena.used = 0;
  strm.bzalloc = bumpAlloc;
  strm.bzfree = bumpFree;
  strm.opaque = &arena;
  if (BZ2_bzDecompressInit(&strm, 0, 0) != BZ_OK) return -1;
  strm.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(c.bzip2.data()));
  strm.avail_in = unsigned(c.bzip2.size());
  strm.next_out = reinterpret_cast<char*>(out);
  strm.avail_out = unsigned(kChunk);
  int rc = BZ2_bzDecompress(&strm);
  long produced = rc == BZ_STREAM_END ? long(strm.total_out_lo32) : -1;
  BZ2_bzDecompressEnd(&strm);
  return produced;
}

long decodeOurs(const Chunk& c, uint8_t* out) {
  mw::StreamRecord strm{};
  strm.bzalloc = mw::arenaAlloc;
  strm.next_in = c.stored.data();
  strm.avail_in = uint32_t(c.stored.size());
  strm.next_out = out;
  strm.avail_out = uint32_t(kChunk);
  mw::decompressInit(&strm, 0, 0);
  int32_t rc = mw::decompress(&strm);
  return rc == mw::DecodeStreamEnd ? long(strm.total_out_lo32) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  size_t corpusMiB = 64;
  int rounds = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0) corpusMiB = size_t(std::atoi(argv[i + 1]));
    else if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
  }

  const std::vector<Source> sources = {
      {"programs", {"/usr/bin"}, {}, true, 0.25},
      {"shared libraries", {"/usr/lib/x86_64-linux-gnu", "/usr/lib"}, {".so"}, true, 0.25},
      {"C headers", {"/usr/include"}, {".h"}, false, 0.20},
      {"Python sources", {"/usr/lib/python3", "/usr/lib/python3.11"}, {".py"}, false, 0.15},
      {"Perl modules and docs", {"/usr/share/perl", "/usr/share/perl5", "/usr/share/doc"}, {".pm", ".txt", ".html"}, false, 0.15},
  };

  std::vector<Chunk> chunks;
  size_t total = 0;
  for (const Source& src : sources) {
    size_t quota = size_t(double(corpusMiB * kMiB) * src.share) + 1;
    size_t got = collect(src, quota, chunks);
    std::printf("corpus: %-22s %7.2f MiB\n", src.name, double(got) / kMiB);
    total += got;
  }
  std::printf("corpus: %zu chunks, %.2f MiB\n", chunks.size(), double(total) / kMiB);
  if (total < corpusMiB * kMiB) {
    std::printf("not enough data found on this machine for a %zu MiB corpus\n", corpusMiB);
    return 1;
  }

  size_t compressed = 0;
  for (Chunk& c : chunks) {
    unsigned capacity = unsigned(c.original.size() + c.original.size() / 100 + 600);
    c.bzip2.resize(capacity);
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(c.bzip2.data()), &capacity,
                                 reinterpret_cast<char*>(c.original.data()), unsigned(c.original.size()), 9, 0,
                                 0) != BZ_OK) {
      std::printf("libbz2 compression failed\n");
      return 1;
    }
    c.bzip2.resize(capacity);
    std::vector<uint8_t> body = mw::storeBzip2Stream(c.bzip2);
    // The chunk framing: the u32 length field counts ten bytes, then six bytes of the buffer.
    c.stored.assign(10, 0);
    mw::writeU32(c.stored.data(), uint32_t(body.size() + 10));
    c.stored.insert(c.stored.end(), body.begin(), body.end());
    compressed += c.bzip2.size();
  }
  std::printf("compressed: %.2f MiB (%.1f%%)\n", double(compressed) / kMiB, 100.0 * double(compressed) / double(total));

  std::vector<uint8_t> stateRegion(mw::kStateRegionSize), tableRegion(mw::kTableRegionSize);
  mw::decoderRegions = {stateRegion.data(), tableRegion.data()};
  BumpArena arena;
  std::vector<uint8_t> out(kChunk);

  for (const Chunk& c : chunks) {
    long a = decodeOurs(c, out.data());
    if (a != long(c.original.size()) || std::memcmp(out.data(), c.original.data(), c.original.size()) != 0) {
      std::printf("our decoder produced wrong output\n");
      return 1;
    }
    long b = decodeLibbz2(c, out.data(), arena);
    if (b != long(c.original.size()) || std::memcmp(out.data(), c.original.data(), c.original.size()) != 0) {
      std::printf("libbz2 produced wrong output\n");
      return 1;
    }
  }

  // The two decoders take turns chunk by chunk (and which goes first alternates), so that a
  // change in the machine's load affects both alike.
  const double mb = double(total) / 1e6;
  double oursTotal = 0, libTotal = 0;
  for (int r = 0; r < rounds; ++r) {
    double ours = 0, lib = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
      const Chunk& c = chunks[i];
      const bool oursFirst = ((i + size_t(r)) & 1) == 0;
      for (int turn = 0; turn < 2; ++turn) {
        const double t0 = cpuSeconds();
        if ((turn == 0) == oursFirst) {
          decodeOurs(c, out.data());
          ours += cpuSeconds() - t0;
        } else {
          decodeLibbz2(c, out.data(), arena);
          lib += cpuSeconds() - t0;
        }
      }
    }
    oursTotal += ours;
    libTotal += lib;
    std::printf("round %d: ours %.1f MB/s, libbz2 %.1f MB/s, ratio %.3f\n", r + 1, mb / ours, mb / lib, lib / ours);
  }
  std::printf("all rounds: ours %.1f MB/s, libbz2 %.1f MB/s\n", mb * rounds / oursTotal, mb * rounds / libTotal);
  std::printf("decode speed ratio vs libbz2: %.2f\n", libTotal / oursTotal);
  return 0;
}
