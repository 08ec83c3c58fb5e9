// The script's registry values and the uninstall registration, each key logged with whether
// this installation created it ('C') or found it ('O').
#include "core/bytes.h"
#include "install/paths.h"
#include "install/texts.h"
#include "install/worker.h"
#include "uninstall/log_format.h"

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
// whatever it was before, with an empty value name.
bool registerUninstaller(Worker& w) {
  const char* product = w.job.front->productName;
  TextBuilder key(w.arena.pathScratch, kPathScratchSize);
  key.append(kUninstallKeyPrefix);
  key.append(product);
  TextBuilder command(w.arena.messageScratch, kMessageScratchSize);
  command.append(w.arena.installDir);
  command.append(kUninstallerName);
  if (key.fits()) {
    bool created = false;
    if (RegKey handle = w.os.openOrCreateKey(kRootLocalMachine, w.arena.pathScratch, created)) {
      w.os.setValue(handle, kValueDisplayName, 1, product, uint32_t(textLength(product)));
      if (command.fits())
        w.os.setValue(handle, kValueUninstallString, 1, w.arena.messageScratch, command.length);
      w.os.closeKey(handle);
    }
  }
  // Without a key name or a command that fit, the product cannot be registered whole.
  if (!key.fits() || !command.fits()) w.lose();
  return logRecordHead(w, kRecordCreated, kRootLocalMachine, kUninstallKeyPrefix,
                       kUninstallKeyPrefixLength, product) &&
         logByte(w, 0);
}

}  // namespace

bool writeRegistry(Worker& w) {
  // The end of the shortcut paths.
  if (!logByte(w, 0)) return false;
  RegistryEntry entry;
  while (nextRegistryEntry(w.cursor, entry) == ReadItem) {
    if (!w.pause()) return false;
    bool created = false;
    RegKey key = w.os.openOrCreateKey(entry.root, entry.subkey, created);
    // A key that could be neither opened nor made is logged as created: the uninstaller's
    // attempt on it is harmless.
    const uint8_t kind = (key && !created) ? kRecordOpened : kRecordCreated;
    if (!logRecordHead(w, kind, entry.root, "", 0, entry.subkey)) {
      if (key) w.os.closeKey(key);
      return false;
    }
    const bool isDefault = entry.typeByte < 0;
    const bool logged = isDefault ? logByte(w, kDefaultValueMarker) : logString(w, entry.valueName);
    if (!logged) {
      if (key) w.os.closeKey(key);
      return false;
    }
    if (!key) continue;
    const char* name = isDefault ? nullptr : entry.valueName;
    if (entry.valueType == kRegDword) {
      w.os.setValue(key, name, entry.valueType, entry.data, 4);
    } else {
      const int32_t length = expandSetupPath(reinterpret_cast<const char*>(entry.data),
                                             w.arena.installDir, w.arena.pathScratch,
                                             kPathScratchSize);
      if (length >= 0)
        w.os.setValue(key, name, entry.valueType, w.arena.pathScratch, uint32_t(length));
      else
        w.lose();  // a value that does not fit is not written cut
    }
    w.os.closeKey(key);
  }
  return registerUninstaller(w);
}

}  // namespace mw
