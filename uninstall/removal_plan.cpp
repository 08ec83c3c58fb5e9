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

void formatEach(char* out, uint32_t capacity, const char* pattern, const char* arg) {
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
  const char* p = commandLine;
  if (*p == '"') {
    do ++p;
    while (*p && *p != '"');
    if (*p) ++p;
  } else {
    while (*p && *p != ' ') ++p;
  }
  while (*p == ' ') ++p;
  return p[0] == 'U' && p[1] == 0;
}

bool copyFolderName(char* out, uint32_t capacity, const char* tempFolder, uint32_t number) {
  // The number written in the letters A to P, a digit each: no table needed.
  char name[sizeof(kCopyFolderPrefix) + 8];
  joinText(name, sizeof name, kCopyFolderPrefix, "");
  char* p = name + sizeof(kCopyFolderPrefix) - 1;
  for (int i = 0; i < 8; ++i, number >>= 4) p[i] = char('A' + (number & 15));
  p[8] = 0;
  // The whole copy path must fit: the folder, a backslash and the file name.
  return capacity > sizeof(kUninstallerFileName) &&
         joinText(out, capacity - sizeof(kUninstallerFileName), tempFolder, name);
}

bool isInCopyFolder(const char* path, const char* tempFolder) {
  // An empty temporary folder leaves the prefix to compare, which no full path begins with.
  for (; *tempFolder; ++path, ++tempFolder)
    if (*path != *tempFolder) return false;
  for (const char* q = kCopyFolderPrefix; *q; ++q, ++path)
    if (*path != *q) return false;
  return true;
}

bool appendRenameLine(char* section, uint32_t length, uint32_t capacity, const char* path) {
  // The reader reports capacity - 2 when the section did not fit. A line that does not fit
  // leaves the section as it was (joinText empties what it could not finish).
  if (length + 2 >= capacity || !joinText(section + length, capacity - length - 1, "NUL=", path))
    return false;
  section[length + textLength(section + length) + 1] = 0;
  return true;
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
  // No separator first, last or doubled, and at least one.
  bool separated = false;
  char previous = '\\';
  for (const char* p = subkey; *p; previous = *p++) {
    if (*p != '\\') continue;
    if (previous == '\\') return false;
    separated = true;
  }
  return separated && previous != '\\';
}

bool isShortcutFile(const char* path) {
  const uint32_t n = uint32_t(textLength(path));
  if (n < 5 || path[n - 4] != '.') return false;
  // Setting bit 5 of the three letters lowercases them (and no other character becomes one).
  const uint32_t ending = readU32(reinterpret_cast<const uint8_t*>(path + n - 4)) | 0x20202000u;
  return ending == 0x6B6E6C2E || ending == 0x6669702E;  // ".lnk", ".pif"
}

}  // namespace mw
