// The packager's commands, callable from tests with their own streams. Each returns the
// process exit code.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>

#include "packager/builder.h"
#include "packager/signing.h"

namespace mw::packager {

struct BuildCommand {
  std::filesystem::path project;
  BuildOptions options;
  bool quiet = false;
  Defines defines;  // -D NAME=VALUE
};
// 0 built (and signed, when the project has a [signing] table); 1 the project, its inputs or the
// signing were refused (messages on `err`); 2 the project file or the output is no file, or
// could not be written. Nothing is left behind on failure.
int runBuild(const BuildCommand& command, std::ostream& out, std::ostream& err);

// Signs an installer with osslsigncode, into `output` (empty: in place). 0 signed; 1 refused
// (no installer, settings, osslsigncode failed); 2 the files cannot be read or written.
int runSign(const std::filesystem::path& installer, const std::filesystem::path& output,
            const SigningSettings& settings, std::ostream& out, std::ostream& err);

// 0 listed; 1 not an installer, or too damaged to list (what could be read is still printed);
// 2 the file cannot be read.
int runList(const std::filesystem::path& installer, bool json, uint32_t codePage, std::ostream& out,
            std::ostream& err);

// 0 intact (a signature, when present, matches the bytes; whether its certificate is trusted
// is reported but not required); 1 damaged, with one line per damaged piece on `out`, or not an
// installer; 2 the file cannot be read.
int runVerify(const std::filesystem::path& installer, std::ostream& out, std::ostream& err);

// 0 every file written; 1 not an installer, or some file was refused or damaged (the others are
// still written); 2 the installer or the folder cannot be used.
int runExtract(const std::filesystem::path& installer, const std::filesystem::path& directory,
               uint32_t codePage, std::ostream& out, std::ostream& err);

// Where the default stub and uninstaller image live: next to the running marlowick binary.
std::filesystem::path defaultDistFile(const char* name);

}  // namespace mw::packager
