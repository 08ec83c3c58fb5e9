// Bounded string building for the checks' messages and paths: every write stops at the size the
// caller gave, so a long productName or destination can cut a message but never run past a buffer.
#include "checks/checks.h"
#include "checks/texts.h"
#include "core/text_builder.h"

namespace mw {

const char texts::kErrorCaption[] = "Error";

uint32_t formatText(char* out, uint32_t size, const char* pattern, const char* arg) {
  TextBuilder text(out, size);
  bool substituted = false;
  for (const char* p = pattern; *p; ++p) {
    if (!substituted && p[0] == '%' && p[1] == 's') {
      substituted = true;
      ++p;
      text.append(arg ? arg : "");
    } else {
      text.appendChar(*p);
    }
  }
  return text.length;
}

bool appendText(char* out, uint32_t size, const char* text) {
  uint32_t have = 0;
  while (have < size && out[have]) ++have;
  if (have == size) return false;  // not terminated within its buffer: leave it alone
  uint32_t add = 0;
  while (text[add]) ++add;
  if (add >= size - have) return false;
  for (uint32_t i = 0; i <= add; ++i) out[have + i] = text[i];
  return true;
}

}  // namespace mw
