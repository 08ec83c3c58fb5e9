// The uninstall log reader and the removal plan over arbitrary bytes, as an Uninstall.exe
// damaged on disk would hand them over. The reader may refuse the log; what it accepts must be
// walked by the plan without reading past the log, and the plan must never ask to delete a
// file outside the installation folder, a file from the shortcut list that is no shortcut
// (.lnk or .pif), or a created key fewer than two levels below its root. The promises are
// checked here by code of their own, not by the plan's tests.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <ctype.h>
#include <string.h>

#include "uninstall/log_reader.h"
#include "uninstall/removal_plan.h"

namespace {

// Ends in ".lnk" or ".pif", in any case.
bool endsAsShortcut(const char* path) {
  const size_t n = strlen(path);
  if (n < 4 || path[n - 4] != '.') return false;
  char e[4] = {};
  for (int i = 0; i < 3; ++i) e[i] = char(tolower(static_cast<unsigned char>(path[n - 3 + i])));
  return strcmp(e, "lnk") == 0 || strcmp(e, "pif") == 0;
}

// At least two levels, each of them non-empty.
bool twoLevelsOrMore(const char* subkey) {
  int levels = 0;
  for (const char* level = subkey;;) {
    const char* end = strchr(level, '\\');
    if ((end ? end : level + strlen(level)) == level) return false;
    ++levels;
    if (!end) return levels >= 2;
    level = end + 1;
  }
}

struct CheckingOps {
  const char* tempFolder;  // the plan is handed this very pointer for the temporary folder
  bool inInstallDir = false;
  bool setFolder(const char* path) {
    inInstallDir = path != tempFolder;  // by identity: the log may name the same text
    return true;
  }
  void deleteFile(const char* path) {
    // Files are deleted relative to the installation folder: never absolute, never climbing.
    if (inInstallDir && strcmp(path, mw::kUninstallerFileName) != 0 && !mw::isContainedPath(path))
      abort();
    // Outside it only the shortcut list is deleted from.
    if (!inInstallDir && !endsAsShortcut(path)) abort();
  }
  bool removeFolder(const char*) { return true; }
  bool setProgramsFolder(bool) { return true; }
  bool openKey(uint32_t root, const char*) {
    if (root < 0x80000000u || root > 0x80000006u) abort();
    return true;
  }
  void deleteValue(const char*) {}
  void closeKey() {}
  void deleteKey(uint32_t root, const char* subkey) {
    if (root < 0x80000000u || root > 0x80000006u || !twoLevelsOrMore(subkey)) abort();
  }
  bool isLink(const char*) { return false; }
  bool createFolder(const char*) { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* log = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (size) memcpy(log, data, size);
  mw::UninstallLog parsed;
  if (mw::readUninstallLog(size ? log : nullptr, uint32_t(size), &parsed)) {
    char scratch[1024];
    static const char kTemp[] = "T:\\Temp\\";
    CheckingOps ops{kTemp};
    mw::removeInstallation(parsed, kTemp, scratch, sizeof scratch, ops);
  }
  free(log);
  return 0;
}
