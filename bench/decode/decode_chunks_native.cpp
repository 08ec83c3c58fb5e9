// decode_chunks_native CHUNKS [ROUNDS]: the engine's decoder alone over a file of chunks, built
// natively so that the 32-bit Windows build's code can be measured without wine: i686_harness.sh
// compiles it with the Windows build's flags for 32-bit Linux (and with the host's for x86-64),
// so instruction counts (callgrind, perf) and times come from a quiet, load-independent run.
// CHUNKS holds the chunks one after the other as the installer stores them: the u32 length h
// (ten header bytes counted), then h - 10 body bytes. Each is decoded as the worker does (ten
// header bytes, then the body) into a 1 MiB buffer; only the decoding is timed. Prints
// "seconds bytes" for the best of ROUNDS passes (default 1).
//
// Only C headers and no C++ library: the 32-bit side of this machine has libc, not libstdc++.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "decompress/decompress.h"

namespace {

double cpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

uint32_t readLength(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: decode_chunks_native CHUNKS [ROUNDS]\n");
    return 2;
  }
  const int rounds = argc > 2 ? atoi(argv[2]) : 1;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 3;
  fseek(f, 0, SEEK_END);
  const long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  uint8_t* file = static_cast<uint8_t*>(malloc(size_t(size)));
  if (fread(file, 1, size_t(size), f) != size_t(size)) return 3;
  fclose(f);

  const uint32_t kOutput = 0x100000;
  uint8_t* chunk = static_cast<uint8_t*>(malloc(1114112));
  uint8_t* output = static_cast<uint8_t*>(malloc(kOutput));
  mw::decoderRegions.stateRegion = malloc(mw::kStateRegionSize);
  mw::decoderRegions.tableRegion = malloc(mw::kTableRegionSize);
  double best = 0;
  uint64_t produced = 0;
  for (int round = 0; round < rounds; ++round) {
    double seconds = 0;
    produced = 0;
    for (long at = 0; at + 4 <= size;) {
      const uint32_t h = readLength(file + at);
      if (h < 10 || at + 4 + long(h - 10) > size) return 4;
      memset(chunk, 0, 10);
      memcpy(chunk, file + at, 4);
      memcpy(chunk + 10, file + at + 4, h - 10);
      at += 4 + long(h - 10);
      mw::StreamRecord strm = {};
      strm.next_in = chunk;
      strm.avail_in = h;
      strm.next_out = output;
      strm.avail_out = kOutput;
      strm.bzalloc = mw::arenaAlloc;
      const double t = cpuSeconds();
      mw::decompressInit(&strm, 0, 0);
      const int32_t rc = mw::decompress(&strm);
      seconds += cpuSeconds() - t;
      if (rc != mw::DecodeStreamEnd) return 5;
      produced += strm.total_out_lo32;
    }
    if (round == 0 || seconds < best) best = seconds;
  }
  printf("%.6f %llu\n", best, static_cast<unsigned long long>(produced));
  return 0;
}
