#include "uninstall/log_reader.h"

#include "core/bytes.h"
#include "format/log_format.h"

namespace mw {
namespace {

// Past the NUL of the string at p, or null when no NUL comes before `end`.
uint8_t* skipString(uint8_t* p, const uint8_t* end) {
  while (p < end)
    if (*p++ == 0) return p;
  return nullptr;
}

// Past the empty string that ends a list of strings, or null.
uint8_t* skipList(uint8_t* p, const uint8_t* end) {
  while (p && p < end) {
    if (*p == 0) return p + 1;
    p = skipString(p, end);
  }
  return nullptr;
}

}  // namespace

bool readUninstallLog(uint8_t* data, uint32_t size, UninstallLog* log) {
  if (!data || !size) return false;
  const uint8_t* end = data + size;
  uint8_t* p = data;
  log->productName = reinterpret_cast<char*>(p);
  if (!(p = skipString(p, end))) return false;
  log->installDir = reinterpret_cast<char*>(p);
  if (!(p = skipString(p, end))) return false;
  log->files = reinterpret_cast<char*>(p);
  if (!(p = skipList(p, end))) return false;
  log->programGroup = reinterpret_cast<char*>(p);
  if (!(p = skipString(p, end))) return false;
  log->shortcuts = reinterpret_cast<char*>(p);
  if (!(p = skipList(p, end))) return false;
  log->records = p;
  log->end = const_cast<uint8_t*>(end);

  while (p < end && *p != kRecordEnd) {
    if ((*p != kRecordCreated && *p != kRecordOpened) || end - p < 6) return false;
    const uint32_t root = readU32(p + 1);
    if (root < kRootFirst || root > kRootLast) return false;
    if (!(p = skipString(p + 5, end)) || p == end) return false;
    if (*p == kDefaultValueMarker)
      ++p;
    else if (!(p = skipString(p, end)))
      return false;
  }
  return true;
}

bool nextRegistryRecord(uint8_t** cursor, const uint8_t* end, RegistryRecord* record) {
  uint8_t* p = *cursor;
  if (p >= end || *p == kRecordEnd) return false;
  record->kind = p[0];
  record->root = readU32(p + 1);
  record->subkey = reinterpret_cast<char*>(p + 5);
  p = reinterpret_cast<uint8_t*>(nextEntry(record->subkey));
  if (*p == kDefaultValueMarker || *p == 0) {
    record->valueName = nullptr;
    ++p;
  } else {
    char* name = reinterpret_cast<char*>(p);
    record->valueName = name;
    p = reinterpret_cast<uint8_t*>(nextEntry(name));
  }
  *cursor = p;
  return true;
}

}  // namespace mw
