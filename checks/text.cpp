// Bounded string building for the checks' messages and paths: every write stops at the size the
// caller gave, so a long productName or destination can cut a message but never run past a buffer.
#include "checks/checks.h"

namespace mw {

uint32_t formatText(char* out, uint32_t size, const char* pattern, const char* arg) {
  if (size == 0) return 0;
  uint32_t n = 0;
  bool substituted = false;
  for (const char* p = pattern; *p && n + 1 < size; ++p) {
    if (!substituted && p[0] == '%' && p[1] == 's') {
      substituted = true;
      ++p;
      for (const char* a = arg ? arg : ""; *a && n + 1 < size; ++a) out[n++] = *a;
      continue;
    }
    out[n++] = *p;
  }
  out[n] = 0;
  return n;
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
