#include "packager/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace fs = std::filesystem;

namespace mw::packager::test {

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "marlowick-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void writeFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

void writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

fs::path standInStub(const ScratchDir& dir) {
  std::vector<uint8_t> stub(16384, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  for (size_t i = 64; i < 1024; ++i) stub[i] = uint8_t(i * 13);
  fs::path p = dir / "stub.exe";
  writeBytes(p, stub);
  return p;
}

fs::path standInUninstaller(const ScratchDir& dir) {
  std::vector<uint8_t> image = patternBytes(8088, 99, true);
  image[0] = 'M';
  image[1] = 'Z';
  fs::path p = dir / "uninstaller.exe";
  writeBytes(p, image);
  return p;
}

std::vector<uint8_t> patternBytes(size_t n, uint32_t seed, bool compressible) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(n);
  static const char words[] = "installer engine payload chunk script stream block header ";
  for (size_t i = 0; i < n;) {
    if (compressible && (rng() & 3) != 0) {
      size_t start = rng() % (sizeof words - 12);
      for (size_t k = 0; k < 12 && i < n; ++k) out[i++] = uint8_t(words[start + k]);
    } else {
      out[i++] = uint8_t(rng());
    }
  }
  return out;
}

std::vector<uint8_t> smallBmp(int w, int h) {
  uint32_t row = ((uint32_t(w) * 24 + 31) / 32) * 4;
  uint32_t size = 54 + row * uint32_t(h);
  std::vector<uint8_t> b(size, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (8 * k));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, uint32_t(w));
  put32(22, uint32_t(h));
  b[26] = 1;
  b[28] = 24;
  for (uint32_t i = 54; i < size; ++i) b[i] = uint8_t(i * 7);
  return b;
}

RunResult runMarlowick(const std::vector<std::string>& args) {
  std::string command = "'" MARLOWICK_BINARY "'";
  for (const std::string& a : args) {
    std::string q = "'";
    for (char c : a) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " " + q + "'";
  }
  command += " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("popen failed");
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> treeContents(const fs::path& root) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> out;
  for (auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) out.push_back({e.path().lexically_relative(root).generic_string(), readBytes(e.path())});
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace mw::packager::test
