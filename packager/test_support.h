// Helpers shared by the packager's tests: scratch folders, stand-in engine images, running
// the real marlowick program.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mw::packager::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& content);
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readBytes(const std::filesystem::path& path);

// A stand-in stub ("MZ", zeros, 16 KiB) and a stand-in 8,088-byte uninstaller image that
// compresses well within the blob.
std::filesystem::path standInStub(const ScratchDir& dir);
std::filesystem::path standInUninstaller(const ScratchDir& dir);

// Deterministic bytes: `compressible` mixes text-like runs, otherwise noise.
std::vector<uint8_t> patternBytes(size_t n, uint32_t seed, bool compressible = true);

// A 24-bit bottom-up BMP of w x h pixels.
std::vector<uint8_t> smallBmp(int w, int h);

struct RunResult {
  int exitCode;
  std::string out;  // standard output and standard error together
};
// Runs the marlowick program with the arguments (each quoted for the shell).
RunResult runMarlowick(const std::vector<std::string>& args);

// Every regular file below a folder: relative '/' path -> content.
std::vector<std::pair<std::string, std::vector<uint8_t>>> treeContents(const std::filesystem::path& root);

}  // namespace mw::packager::test
