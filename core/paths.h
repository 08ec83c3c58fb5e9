// The one test of a relative name read from an installer or from an uninstall log: the installer
// refuses a script whose file, shortcut or group names fail it, and the uninstaller skips such a
// name, so neither ever reaches outside the folder the name is resolved against.
#pragma once

namespace mw {

// True when `name` stays inside the folder it is resolved against: not null or empty, no ':'
// (drive letters, streams), no leading separator, and no component made only of dots and blanks.
// Windows drops a component's trailing dots and blanks, so such a component is empty, "." or
// ".." (as "..." and ". ." become) once the system has read it. Both '\' and '/' separate.
// Kept out of line: the uninstaller calls it from several places and has no room to spare.
__attribute__((noinline)) inline bool isContainedPath(const char* name) {
  if (!name || *name == 0 || *name == '\\' || *name == '/') return false;
  bool onlyDotsAndBlanks = true;
  for (const char* p = name;; ++p) {
    const char c = *p;
    if (c == ':') return false;
    if (c == 0 || c == '\\' || c == '/') {
      if (onlyDotsAndBlanks) return false;
      if (c == 0) return true;
      onlyDotsAndBlanks = true;
    } else if (c != '.' && c != ' ') {
      onlyDotsAndBlanks = false;
    }
  }
}

}  // namespace mw
