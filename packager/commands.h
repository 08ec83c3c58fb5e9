// The packager's commands, callable from tests with their own streams. Each returns the
// process exit code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>

#include "packager/builder.h"

namespace mw::packager {

struct BuildCommand {
  std::filesystem::path project;
  BuildOptions options;
  bool quiet = false;
  Defines defines;  // -D NAME=VALUE
};
// 0 built; 1 the project or its inputs were refused (messages on `err`); 2 could not write.
int runBuild(const BuildCommand& command, std::ostream& out, std::ostream& err);

// 0 listed; 1 the installer is too damaged to list (what could be read is still printed).
int runList(const std::filesystem::path& installer, bool json, uint32_t codePage, std::ostream& out,
            std::ostream& err);

// 0 intact; 1 damaged, with one line per damaged piece on `out`; 2 the file cannot be read.
int runVerify(const std::filesystem::path& installer, std::ostream& out, std::ostream& err);

// 0 every file written; 1 some file was refused or damaged (the others are still written).
int runExtract(const std::filesystem::path& installer, const std::filesystem::path& directory,
               uint32_t codePage, std::ostream& out, std::ostream& err);

// Where the default stub and uninstaller image live: next to the running marlowick binary.
std::filesystem::path defaultDistFile(const char* name);

}  // namespace mw::packager
