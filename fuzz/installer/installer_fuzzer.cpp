// `marlowick list`, `verify` and `extract` on arbitrary installer files: a damaged or hostile
// installer may be refused, but the packager must not crash, read outside its buffers, or
// write anything outside the folder it extracts into.
#include <stddef.h>
#include <stdint.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "packager/commands.h"

namespace fs = std::filesystem;

namespace {

// Everything below `root` that exists after the run, as a sorted list of relative paths.
size_t countEntries(const fs::path& root) {
  size_t n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) ++n;
  return n;
}

const fs::path& workRoot() {
  static fs::path root = [] {
    fs::path r = fs::temp_directory_path() / ("mw-fuzz-installer-" + std::to_string(getpid()));
    fs::create_directories(r);
    return r;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path& root = workRoot();
  fs::path file = root / "setup.exe";
  fs::path fence = root / "fence";  // the extraction folder lies inside it, alone
  fs::path out = fence / "out";
  fs::remove_all(fence);
  fs::create_directories(out);
  {
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  std::ostringstream sink, errors;
  mw::packager::runList(file, false, 1252, sink, errors);
  mw::packager::runList(file, true, 1252, sink, errors);
  mw::packager::runVerify(file, sink, errors);
  mw::packager::runExtract(file, out, 1252, sink, errors);
  // Only `out` and what lies below it may exist inside the fence.
  if (countEntries(fence) != 1 + countEntries(out)) abort();
  return 0;
}
