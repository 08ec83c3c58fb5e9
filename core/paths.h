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

// Whether `folder` names a folder from a root, as every destination must: a network path that
// begins with two backslashes, or a drive letter, ":" and "\". Anything else would be resolved
// against whatever folder the installer happened to start in. The wizard's destination check, the
// default destination and the silent mode's "/s FOLDER" all hold to it.
bool isAbsoluteFolder(const char* folder);

}  // namespace mw
