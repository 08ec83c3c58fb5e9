// The uninstall log reader and the removal plan over arbitrary bytes, as an Uninstall.exe
// damaged on disk would hand them over. The reader may refuse the log; what it accepts must be
// walked by the plan without reading past the log, and the plan must never ask to delete a
// file outside the installation folder or a key that is the parent of the uninstall keys.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "uninstall/log_reader.h"
#include "uninstall/removal_plan.h"

namespace {

struct CheckingOps {
  bool inInstallDir = false;
  bool setFolder(const char* path) {
    inInstallDir = path && *path != 'T';  // the temporary folder below starts with 'T'
    return true;
  }
  void deleteFile(const char* path) {
    // Files are deleted relative to the installation folder: never absolute, never climbing.
    if (inInstallDir && strcmp(path, mw::kUninstallerFileName) != 0 && !mw::isContainedPath(path))
      abort();
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
    if (root < 0x80000000u || root > 0x80000006u || !mw::isDeletableKey(subkey)) abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t* log = static_cast<uint8_t*>(malloc(size ? size : 1));
  if (size) memcpy(log, data, size);
  mw::UninstallLog parsed;
  if (mw::readUninstallLog(size ? log : nullptr, uint32_t(size), &parsed)) {
    char scratch[1024];
    CheckingOps ops;
    mw::removeInstallation(parsed, "T:\\Temp\\", scratch, sizeof scratch, ops);
  }
  free(log);
  return 0;
}
