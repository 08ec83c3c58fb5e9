// A bounded text under construction in a fixed buffer, shared by every part of the engine that
// composes messages and paths (the checks, the worker). Engine core: builds freestanding.
#pragma once

#include <stdint.h>

namespace mw {

// Appends that do not fit set `overflow` and are cut; the text always stays NUL-terminated, so
// even a cut text is safe to show.
struct TextBuilder {
  char* buffer;
  uint32_t size;    // bytes of buffer, NUL included
  uint32_t length;  // characters so far
  bool overflow;

  [[gnu::noinline]] TextBuilder(char* buf, uint32_t sz) : buffer(buf), size(sz), length(0), overflow(false) {
    if (size) buffer[0] = 0;
  }
  [[gnu::noinline]] void appendChar(char c) {
    if (length + 1 >= size) {
      overflow = true;
      return;
    }
    buffer[length++] = c;
    buffer[length] = 0;
  }
  void append(const char* text) {
    while (*text) appendChar(*text++);
  }
  void append(const char* text, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) appendChar(text[i]);
  }
  bool fits() const { return !overflow; }
};

}  // namespace mw
