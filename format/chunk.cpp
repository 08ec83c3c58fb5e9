#include "format/chunk.h"

#include "decompress/decompress.h"

namespace mw {

int32_t decodeBuffer(const uint8_t* in, uint32_t length, uint8_t* out, uint32_t room,
                     uint32_t& produced) {
  StreamRecord stream{};
  stream.next_in = in;
  stream.avail_in = length;
  stream.next_out = out;
  stream.avail_out = room;
  stream.bzalloc = arenaAlloc;
  decompressInit(&stream, 0, 0);
  const int32_t result = decompress(&stream);
  produced = stream.total_out_lo32;
  return result;
}

}  // namespace mw
