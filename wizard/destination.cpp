// Destination rules: the edit's text check and the folder browser's result.
#include "wizard/destination.h"

#include "core/paths.h"
#include "core/text_builder.h"

namespace mw {

bool isRefusedDestinationChar(char c) {
  return c == '"' || c == '*' || c == '/' || c == '<' || c == '>' || c == '?' || c == '|';
}

bool destinationAcceptable(const char* text, uint32_t length, DriveTypeQuery driveType,
                           void* context) {
  if (length < 3 || length > kMaxDestinationChars || !isAbsoluteFolder(text)) return false;
  if (text[1] == ':') {
    const char root[4] = {text[0], ':', '\\', 0};
    if (driveType(root, context) < kFirstUsableDriveType) return false;
  }
  for (uint32_t i = length; i-- > 0;)
    if (isRefusedDestinationChar(text[i])) return false;
  return true;
}

uint32_t composeBrowseResult(const char* chosen, const char* destinationPath, char* out,
                             uint32_t room) {
  TextBuilder result(out, room);
  result.append(chosen);
  if (result.length == 0 || out[result.length - 1] != '\\') result.appendChar('\\');
  if (destinationPath) result.append(destinationPath);
  return result.length;
}

const char* browseSubfolder(uint8_t destinationKind, const char* destinationPath) {
  if (!destinationPath) return "";
  if (destinationKind >= 1 && destinationKind <= 10) return destinationPath;
  // The start of the last non-empty name; separators after it stay (a final backslash is fine
  // in a destination).
  const char* last = destinationPath;
  for (const char* p = destinationPath; *p; ++p) {
    if ((*p == '\\' || *p == '/' || *p == ':') && p[1] && p[1] != '\\' && p[1] != '/')
      last = p + 1;
  }
  return last;
}

}  // namespace mw
