// Reading the uninstall log back (its layout is in format/log_format.h). The uninstaller
// gets the log as a resource of its own image: a pointer and the size the installer patched
// into the resource entry. Nothing past that size is read, and a log whose lists or strings
// are not all terminated inside it is refused as a whole, so a damaged Uninstall.exe removes
// nothing rather than something half-understood. Engine core: no C library, no allocation.
#pragma once

#include <stdint.h>

namespace mw {

struct UninstallLog {
  char* productName;   // shown in the messages; names the uninstall key
  char* installDir;    // the installation folder (may lack its final backslash)
  char* files;         // first file name; the list ends with an empty string
  char* programGroup;  // relative to a Programs folder; empty when there is none
  char* shortcuts;     // first shortcut path; the list ends with an empty string
  uint8_t* records;    // first registry record
  uint8_t* end;        // one past the log's last byte
};

struct RegistryRecord {
  uint8_t kind;            // kRecordCreated or kRecordOpened
  uint32_t root;           // a predefined key, kRootFirst..kRootLast
  char* subkey;
  const char* valueName;   // null for the key's default value (0xFF marker or empty name)
};

// Checks the whole log and fills `log`. False for a missing log (null or empty), a string or
// list without its terminator, a record with an unknown kind or root, or a record cut short.
// The records end at a 0 kind byte or exactly at the end of the data: the writer's final 0
// lies just outside the size it records.
bool readUninstallLog(uint8_t* data, uint32_t size, UninstallLog* log);

// Reads the record at `*cursor` and moves the cursor past it. False at the end of the records.
// Only meaningful on a log that readUninstallLog accepted.
bool nextRegistryRecord(uint8_t** cursor, const uint8_t* end, RegistryRecord* record);

// Steps over a NUL-terminated entry of an accepted log's lists.
inline char* nextEntry(char* s) {
  while (*s) ++s;
  return s + 1;
}

}  // namespace mw
