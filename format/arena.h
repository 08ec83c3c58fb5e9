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

// The decoder's state record (pointers, 32-bit fields) and its table (32-bit entries) start on
// 16-byte boundaries. The script region is U bytes of any length and the output region follows
// it directly, so the state region would otherwise land wherever U leaves it; reading a record
// through a misaligned pointer is undefined behaviour (the host builds check for it). Up to
// 15 bytes of padding go in front of each of the two regions, and the arena reserves them.
constexpr uint32_t kArenaAlignment = 16;
constexpr uint32_t kArenaAlignmentSlack = 2 * (kArenaAlignment - 1);

// The regions themselves after the script region: 4,717,812 bytes on the 32-bit target.
inline uint32_t arenaRegionsSize() {
  return kOutputRegionSize + kStateRegionSize + kTableRegionSize + kPathScratchSize +
         kMessageScratchSize + kShortcutScratchSize + kInstallDirSize;
}

// What an arena needs beyond the script region: the regions and the alignment padding
// (4,717,842 bytes on the 32-bit target).
inline uint32_t arenaFixedSize() { return arenaRegionsSize() + kArenaAlignmentSlack; }

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
// the caller allocated, and points decoderRegions at the state and table regions. The output
// region starts exactly scriptLength bytes into the block; the state and table regions start
// at the next 16-byte boundary after the region before them.
void layOutArena(Arena& arena, uint8_t* block, uint32_t scriptLength);

}  // namespace mw
