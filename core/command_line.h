// The command line after the program's own path, for the Windows programs that take arguments
// (the test and benchmark probes, the wizard's preview): a quoted path ends at its closing quote,
// an unquoted one at the first blank, as the system reads it. The blanks after it are left for
// the caller. Engine core: builds freestanding.
#pragma once

namespace mw {

inline char* skipProgramPath(char* line) {
  if (*line == '"') {
    ++line;
    while (*line && *line != '"') ++line;
    if (*line) ++line;
  } else {
    while (*line && *line != ' ') ++line;
  }
  return line;
}

inline const char* skipProgramPath(const char* line) {
  return skipProgramPath(const_cast<char*>(line));
}

}  // namespace mw
