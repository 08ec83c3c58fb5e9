#include "core/paths.h"

namespace mw {

bool isAbsoluteFolder(const char* folder) {
  if (folder[0] == '\\' && folder[1] == '\\') return true;
  const char letter = char(folder[0] | 0x20);
  return letter >= 'a' && letter <= 'z' && folder[1] == ':' && folder[2] == '\\';
}

}  // namespace mw
