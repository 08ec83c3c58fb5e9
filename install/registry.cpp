// The script's registry values and the uninstall registration, each key logged with whether
// this installation created it ('C') or found it ('O'). A key that could be neither opened nor
// created is not logged at all (nothing was made there to undo), and like a value that could not
// be set it makes the installation incomplete.
#include "core/bytes.h"
#include "install/paths.h"
#include "install/texts.h"
#include "install/worker.h"
#include "format/log_format.h"

namespace mw {

namespace {

// A record's kind, root and subkey; the subkey is `lead` (`leadLength` bytes, no NUL) followed
// by `subkey`.
bool logRecordHead(Worker& w, uint8_t kind, uint32_t root, const char* lead, uint32_t leadLength,
                   const char* subkey) {
  uint8_t head[5] = {kind, 0, 0, 0, 0};
  writeU32(head + 1, root);
  return logBytes(w, head, sizeof head) && logBytes(w, lead, leadLength) && logString(w, subkey);
}

// The uninstall registration: DisplayName and UninstallString under HKLM, logged as created
// whatever it was before (the key is this product's own), with an empty value name. The command
// is quoted: unquoted, a blank in the folder makes the system try the path's first word as a
// program ("C:\Program" for "C:\Program Files\...").
bool registerUninstaller(Worker& w) {
  const char* product = w.job.front->productName;
  TextBuilder key(w.arena.pathScratch, kPathScratchSize);
  key.append(kUninstallKeyPrefix);
  key.append(product);
  TextBuilder command(w.arena.messageScratch, kMessageScratchSize);
  command.appendChar('"');
  command.append(w.arena.installDir);
  command.append(kUninstallerName);
  command.appendChar('"');
  // Without a key name or a command that fit, the product cannot be registered whole.
  RegKey handle = nullptr;
  bool created = false;
  if (key.fits() && command.fits())
    handle = w.os.openOrCreateKey(kRootLocalMachine, w.arena.pathScratch, created);
  if (!handle) {
    w.lose();
    return true;
  }
  const bool set =
      w.os.setValue(handle, kValueDisplayName, 1, product, uint32_t(textLength(product))) &&
      w.os.setValue(handle, kValueUninstallString, 1, w.arena.messageScratch, command.length);
  w.os.closeKey(handle);
  if (!set) w.lose();
  return logRecordHead(w, kRecordCreated, kRootLocalMachine, kUninstallKeyPrefix,
                       kUninstallKeyPrefixLength, product) &&
         logByte(w, 0);
}

}  // namespace

bool writeRegistry(Worker& w) {
  // The end of the shortcut paths.
  if (!logByte(w, 0)) return false;
  w.logSection = LogRecords;
  RegistryEntry entry;
  while (nextRegistryEntry(w.cursor, entry) == ReadItem) {
    if (!w.pause()) return false;
    bool created = false;
    RegKey key = w.os.openOrCreateKey(entry.root, entry.subkey, created);
    if (!key) {
      w.lose();
      continue;
    }
    const bool isDefault = entry.typeByte < 0;
    const bool logged =
        logRecordHead(w, created ? kRecordCreated : kRecordOpened, entry.root, "", 0,
                      entry.subkey) &&
        (isDefault ? logByte(w, kDefaultValueMarker) : logString(w, entry.valueName));
    if (!logged) {
      w.os.closeKey(key);
      return false;
    }
    const char* name = isDefault ? nullptr : entry.valueName;
    bool set = false;
    if (entry.valueType == kRegDword) {
      set = w.os.setValue(key, name, entry.valueType, entry.data, 4);
    } else {
      // A value that does not fit is not written cut.
      const int32_t length = expandSetupPath(reinterpret_cast<const char*>(entry.data),
                                             w.arena.installDir, w.arena.pathScratch,
                                             kPathScratchSize);
      set = length >= 0 &&
            w.os.setValue(key, name, entry.valueType, w.arena.pathScratch, uint32_t(length));
    }
    if (!set) w.lose();
    w.os.closeKey(key);
  }
  return registerUninstaller(w);
}

}  // namespace mw
