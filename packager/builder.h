// Writing an installer: the stub, every file's chunks, the setup script, the uninstaller blob
// and finally the locator record inside the stub.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "packager/project.h"

namespace mw::packager {

struct BuildOptions {
  std::filesystem::path stub;         // the engine (at least 15,868 bytes, starting "MZ")
  std::filesystem::path uninstaller;  // the 8,088-byte uninstaller image
  std::filesystem::path output;
  unsigned threads = 0;               // 0: one per core
  bool progress = false;              // draw a progress bar on stderr
};

struct BuildSummary {
  uint64_t installerSize = 0;
  size_t files = 0;           // rows of the file table
  size_t storedContents = 0;  // distinct non-empty contents actually stored
  size_t chunks = 0;
  uint64_t inputBytes = 0;    // bytes of all files, duplicates counted each time
  uint64_t storedBytes = 0;   // bytes of file data in the installer
  uint32_t scriptLength = 0;  // decompressed script
};

class BuildError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Builds the installer described by `project`. The output appears only when the build
// succeeded. The bytes do not depend on the thread count. Throws BuildError.
BuildSummary buildInstaller(Project project, const BuildOptions& options);

// Frames a chunk body: [u32 h = body + 10][body].
std::vector<uint8_t> frameChunk(const std::vector<uint8_t>& body);

// The uninstaller blob for an image: exactly 4,272 bytes. Throws BuildError when the image is
// not 8,088 bytes or its compressed stream does not fit the 4,268-byte body.
std::vector<uint8_t> makeUninstallerBlob(const std::vector<uint8_t>& image);

}  // namespace mw::packager
