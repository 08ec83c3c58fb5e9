// Bounded string building for the engine's messages and paths: every write stops at the size the
// caller gave, so a long productName or destination can cut a message but never run past a buffer.
#include "core/text.h"

#include "core/bytes.h"
#include "core/text_builder.h"

namespace mw {

const char texts::kErrorCaption[] = "Error";
const char texts::kWarningCaption[] = "Warning";

uint32_t formatText(char* out, uint32_t size, const char* pattern, const char* arg) {
  TextBuilder text(out, size);
  const char* p = pattern;
  while (*p && !(p[0] == '%' && p[1] == 's')) text.appendChar(*p++);
  if (*p) {
    text.append(arg ? arg : "");
    text.append(p + 2);  // only the first "%s" is replaced
  }
  return text.length;
}

bool appendText(char* out, uint32_t size, const char* text) {
  const uint32_t have = boundedLength(out, size);
  if (have == size) return false;  // not terminated within its buffer: leave it alone
  const uint32_t add = uint32_t(textLength(text));
  if (add >= size - have) return false;
  copyBytes(out + have, text, add + 1);
  return true;
}

uint32_t boundedLength(const char* text, uint32_t room) {
  uint32_t n = 0;
  while (n < room && text[n]) ++n;
  return n;
}

bool startsWith(const char* text, const char* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return false;
  return true;
}

}  // namespace mw
