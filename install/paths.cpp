#include "install/paths.h"

#include "core/bytes.h"
#include "install/texts.h"

namespace mw {

bool formatMessage(char* out, uint32_t size, const char* pattern, const char* first,
                   const char* second) {
  TextBuilder text(out, size);
  // The first "%s" takes `first`, every later one `second` (the texts have at most two).
  const char* next = first;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      text.append(next);
      next = second;
      ++p;
    } else {
      text.appendChar(*p);
    }
  }
  if (text.fits()) return true;
  // Cut: let the end say so.
  for (uint32_t i = 0; i < 3 && i < text.length; ++i) out[text.length - 1 - i] = '.';
  return false;
}

void shortenDisplayPath(char* path) {
  const uint32_t length = uint32_t(textLength(path));
  if (length <= kDisplayPathLimit) return;
  const uint32_t from = (path[0] == '\\' && path[1] == '\\') ? 3 : 1;
  uint32_t head = from;
  while (head < length && path[head] != '\\') ++head;
  if (head >= length) return;
  // The tail starts at the first backslash that leaves head, " ..." and tail within the limit.
  const uint32_t tailFrom = length - (kDisplayPathLimit - 5) + head;
  uint32_t tail = tailFrom;
  while (tail < length && path[tail] != '\\') ++tail;
  if (tail >= length) return;
  // head + 5 <= tail, so the tail moves towards the start and a forward copy is safe.
  char* out = path + head + 1;
  *out++ = ' ';
  *out++ = '.';
  *out++ = '.';
  *out++ = '.';
  for (uint32_t i = tail; i <= length; ++i) *out++ = path[i];
}

int32_t expandSetupPath(const char* text, const char* installDir, char* out, uint32_t size) {
  TextBuilder result(out, size);
  const uint32_t dirLength = uint32_t(textLength(installDir));
  const uint32_t dirKept = dirLength ? dirLength - 1 : 0;  // without the final backslash
  for (const char* p = text; *p;) {
    bool marker = true;
    for (uint32_t i = 0; i < kSetupPathMarkerLength; ++i) {
      if (p[i] != kSetupPathMarker[i]) {  // stops at the NUL too: the marker has none
        marker = false;
        break;
      }
    }
    if (marker) {
      result.append(installDir, dirKept);
      p += kSetupPathMarkerLength;
    } else {
      result.appendChar(*p++);
    }
  }
  return result.fits() ? int32_t(result.length) : -1;
}

static char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

// The component `name` of `length` characters up to its first dot, without trailing blanks,
// against the device names.
static bool isDeviceStem(const char* name, uint32_t length) {
  uint32_t n = 0;
  while (n < length && name[n] != '.') ++n;
  while (n && name[n - 1] == ' ') --n;
  char stem[7];
  if (n < 3 || n > 6) return false;
  for (uint32_t i = 0; i < n; ++i) stem[i] = lower(name[i]);
  stem[n] = 0;
  static constexpr char kNames[][7] = {"nul", "con", "prn", "aux", "clock$"};
  for (const char* device : kNames) {
    uint32_t i = 0;
    while (device[i] && device[i] == stem[i]) ++i;
    if (device[i] == 0 && stem[i] == 0) return true;
  }
  const bool port = (stem[0] == 'c' && stem[1] == 'o' && stem[2] == 'm') ||
                    (stem[0] == 'l' && stem[1] == 'p' && stem[2] == 't');
  return n == 4 && port && stem[3] >= '1' && stem[3] <= '9';
}

bool namesDevice(const char* path) {
  const char* start = path;
  for (const char* p = path;; ++p) {
    if (*p && !isSeparator(*p)) continue;
    if (isDeviceStem(start, uint32_t(p - start))) return true;
    if (!*p) return false;
    start = p + 1;
  }
}

static bool endsWithNoCase(const char* text, uint32_t length, const char* ending) {
  const uint32_t n = uint32_t(textLength(ending));
  if (length < n) return false;
  for (uint32_t i = 0; i < n; ++i)
    if (lower(text[length - n + i]) != ending[i]) return false;
  return true;
}

LinkExtension linkExtensionFor(const char* target) {
  const uint32_t length = uint32_t(textLength(target));
  // Shorter names are never examined: "a.ex" is a plain link.
  if (length < 5) return LinkLnk;
  if (endsWithNoCase(target, length, ".com")) return LinkPif;
  if (endsWithNoCase(target, length, ".exe")) return LinkLookAtPe;
  return LinkLnk;
}

bool isDosProgram(const uint8_t* head, uint32_t headLength, const uint8_t* signature,
                  uint32_t signatureLength) {
  if (headLength < 2) return false;
  if (head[0] == 'Z' && head[1] == 'M') return true;
  if (head[0] != 'M' || head[1] != 'Z') return false;
  return !(signatureLength >= 2 && signature[0] == 'P' && signature[1] == 'E');
}

void appendShortcutName(TextBuilder& out, const char* target, bool pif) {
  // The name starts after the last separator and ends at its last dot (position 0 of the
  // target never counts as one), or at the end without a dot.
  uint32_t start = 0, dot = 0, i = 0;
  for (; target[i]; ++i) {
    if (isSeparator(target[i])) {
      start = i + 1;
      dot = 0;
    } else if (target[i] == '.' && i) {
      dot = i;
    }
  }
  out.append(target + start, (dot ? dot : i) - start);
  out.append(pif ? ".pif" : ".lnk");
}

uint32_t progressPosition(uint32_t done, uint32_t total) {
  if (total == 0 || done >= total) return 100;
  // done * 100 / total, which must not wrap for a huge unit count, without 64-bit arithmetic
  // (a 32-bit program would call a runtime routine for the division): add done a hundred
  // times, keeping the sum below total, and count how often it passed total.
  uint32_t position = 0, rest = 0;
  for (int i = 0; i < 100; ++i) {
    if (rest >= total - done) {
      rest -= total - done;
      ++position;
    } else {
      rest += done;
    }
  }
  return position;
}

}  // namespace mw
