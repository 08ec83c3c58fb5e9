// The one memory block of a run. Allocated once after the payload check, zero-filled, never
// moved or freed before the end, so the parsed script and every scratch string can be handed
// around as plain pointers into it.
#pragma once

#include <stdint.h>

#include "decompress/decompress.h"

namespace mw {

constexpr uint32_t kOutputRegionSize = 0x100000;  // one chunk of decoded output (1 MiB)
constexpr uint32_t kPathScratchSize = 2048;
constexpr uint32_t kMessageScratchSize = 1024;
constexpr uint32_t kShortcutScratchSize = 1024;
constexpr uint32_t kInstallDirSize = 1024;

// Everything after the script region: 4,717,812 bytes on the 32-bit target.
inline uint32_t arenaFixedSize() {
  return kOutputRegionSize + kStateRegionSize + kTableRegionSize + kPathScratchSize +
         kMessageScratchSize + kShortcutScratchSize + kInstallDirSize;
}

struct Arena {
  uint8_t* base;            // start of the block; the script region starts here
  uint32_t scriptLength;    // U, the length of the script region
  uint8_t* outputRegion;    // kOutputRegionSize
  uint8_t* stateRegion;     // kStateRegionSize
  uint8_t* tableRegion;     // kTableRegionSize
  char* pathScratch;        // kPathScratchSize
  char* messageScratch;     // kMessageScratchSize
  char* shortcutScratch;    // kShortcutScratchSize
  char* installDir;         // kInstallDirSize
};

// Lays the regions out over a zero-filled block of scriptLength + arenaFixedSize() bytes that
// the caller allocated, and points decoderRegions at the state and table regions.
void layOutArena(Arena& arena, uint8_t* block, uint32_t scriptLength);

}  // namespace mw
