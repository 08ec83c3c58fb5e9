#include "startup/arena.h"

namespace mw {

void layOutArena(Arena& arena, uint8_t* block, uint32_t scriptLength) {
  uint8_t* p = block;
  arena.base = p;
  arena.scriptLength = scriptLength;
  p += scriptLength;
  arena.outputRegion = p;
  p += kOutputRegionSize;
  arena.stateRegion = p;
  p += kStateRegionSize;
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
