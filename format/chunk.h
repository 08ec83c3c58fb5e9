// The chunk framing every compressed piece of a payload shares (each file's chunks and the
// uninstaller blob; the setup script is framed the same way behind its decoded length):
//
//   on disk        [u32 h][h - 10 bytes of compressed body]
//   to the decoder [u32 h][6 zero bytes][body]
//
// h counts ten header bytes of which only the u32 is stored, because the decoder consumes ten
// bytes it never decodes. Readers hand it ten filler bytes (the u32 among them) followed by the
// body. Engine core: builds freestanding.
#pragma once

#include <stdint.h>

namespace mw {

constexpr uint32_t kChunkPrefix = 4;            // the stored u32 h
constexpr uint32_t kChunkHeaderCount = 10;      // what h counts besides the body
constexpr uint32_t kChunkFiller = kChunkHeaderCount - kChunkPrefix;  // the zero bytes a reader adds
constexpr uint32_t kMaxChunkOutput = 1048576;   // decoded bytes per chunk, at most
constexpr uint32_t kMaxChunkHeader = 1114112;   // largest h: the worker's chunk read buffer

// Decodes the one stream of `length` input bytes at `in` (its ten framing bytes first) into
// `out` (room bytes) with the arena's decoder regions. Returns the decoder's result; `produced`
// is what it wrote, even from a stream that failed.
int32_t decodeBuffer(const uint8_t* in, uint32_t length, uint8_t* out, uint32_t room,
                     uint32_t& produced);

}  // namespace mw
