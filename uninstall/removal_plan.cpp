#include "uninstall/removal_plan.h"

namespace mw {

bool toHelpIndexName(char* path) {
  char* p = path;
  for (; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = char(*p + ('a' - 'A'));
  if (p - path < 4 || readU32(reinterpret_cast<uint8_t*>(p - 4)) != 0x706C682E) return false;  // ".hlp"
  writeU32(reinterpret_cast<uint8_t*>(p - 4), 0x6469672E);                                       // ".gid"
  return true;
}

bool joinText(char* out, uint32_t capacity, const char* a, const char* b) {
  uint32_t n = 0;
  const char* parts[2] = {a, b};
  for (const char* s : parts) {
    for (; *s; ++s) {
      if (n + 1 >= capacity) {
        *out = 0;
        return false;
      }
      out[n++] = *s;
    }
  }
  out[n] = 0;
  return true;
}

void formatText(char* out, uint32_t capacity, const char* pattern, const char* arg) {
  uint32_t n = 0;
  for (const char* p = pattern; *p && n + 1 < capacity; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      for (const char* a = arg; *a && n + 1 < capacity; ++a) out[n++] = *a;
      ++p;
    } else {
      out[n++] = *p;
    }
  }
  out[n] = 0;
}

bool isCopyCommandLine(const char* commandLine) {
  const uint32_t n = uint32_t(textLength(commandLine));
  return n && commandLine[n - 1] == 'U';
}

bool finishTempFolder(char* folder, uint32_t length, uint32_t capacity) {
  // Room for a backslash, the file name and its NUL; `length` may exceed `capacity` when the
  // system only reported how much room the value needs.
  if (length == 0 || length + 1 + sizeof(kUninstallerFileName) > capacity) {
    if (capacity) *folder = 0;
    return false;
  }
  if (folder[length - 1] != '\\') folder[length++] = '\\';
  folder[length] = 0;
  return true;
}

bool isDeletableKey(const char* subkey) {
  const uint32_t n = uint32_t(textLength(subkey));
  return n && subkey[n - 1] != '\\';
}

}  // namespace mw
