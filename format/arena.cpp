#include "format/arena.h"

namespace mw {
namespace {

uint8_t* aligned(uint8_t* p) {
  uintptr_t a = reinterpret_cast<uintptr_t>(p);
  return p + ((kArenaAlignment - a % kArenaAlignment) % kArenaAlignment);
}

}  // namespace

void layOutArena(Arena& arena, uint8_t* block, uint32_t scriptLength) {
  uint8_t* p = block;
  arena.base = p;
  arena.scriptLength = scriptLength;
  p += scriptLength;
  arena.outputRegion = p;
  p += kOutputRegionSize;
  p = aligned(p);
  arena.stateRegion = p;
  p += kStateRegionSize;
  p = aligned(p);
  arena.tableRegion = p;
  p += kTableRegionSize;
  arena.pathScratch = reinterpret_cast<char*>(p);
  p += kPathScratchSize;
  arena.messageScratch = reinterpret_cast<char*>(p);
  p += kMessageScratchSize;
  arena.shortcutScratch = reinterpret_cast<char*>(p);
  p += kShortcutScratchSize;
  arena.installDir = reinterpret_cast<char*>(p);

  decoderRegions.stateRegion = arena.stateRegion;
  decoderRegions.tableRegion = arena.tableRegion;
}

}  // namespace mw
