// pack_bench: how fast and how small `marlowick build` packs compared with bzip2 -9.
//
// Copies at least 64 MiB of real files of this machine (programs, libraries, data under /usr)
// into a scratch tree, then in one run
//   1. packs the tree with `marlowick build` (all cores, the default), and
//   2. compresses every file of the same tree with `bzip2 -9`, one stream per file (the files
//      are handed to bzip2 in batches, so process starts do not dominate).
// Compared are the wall times and the bytes: the installer's size less its stub against the sum
// of the .bz2 files. Not a test: it prints figures and never fails on a timing. Last lines:
//   pack processor-time ratio vs bzip2 -9: P  (bzip2's processor seconds / marlowick's)
//   pack speed ratio vs bzip2 -9: R     (bzip2 time / marlowick time; > 1 means faster)
//   size ratio vs bzip2 -9: S           (marlowick bytes / bzip2 bytes; < 1 means smaller)
//
//   pack_bench [--megabytes N] [--keep]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Processor time (user and system) used so far by finished child processes. On a machine
// shared with other work the wall times swing; these show the work itself.
double childCpuSeconds() {
  struct rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

int run(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Names Windows and the packager accept as they are; others are skipped rather than renamed.
bool portableName(const std::string& relative) {
  if (relative.size() > 200) return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    std::string c = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (c.empty() || c.back() == '.' || c[0] == '.') return false;
    for (char ch : c)
      if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '.' && ch != '_' && ch != '-' && ch != '+') return false;
    std::string stem = c.substr(0, c.find('.'));
    for (char& ch : stem) ch = char(std::toupper(static_cast<unsigned char>(ch)));
    static const std::set<std::string> reserved = {"CON", "PRN", "AUX", "NUL"};
    if (reserved.count(stem)) return false;
    if (stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) && std::isdigit(static_cast<unsigned char>(stem[3])))
      return false;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Whether a file of this size already taken has the same bytes.
bool sameAsTaken(const fs::path& src, uint64_t size, const std::vector<fs::path>& taken) {
  std::string content = readAll(src);
  for (const fs::path& t : taken)
    if (fs::file_size(t) == size && readAll(t) == content) return true;
  return false;
}

// Copies regular files from a few system folders, in sorted order, until `want` bytes.
std::vector<fs::path> gatherTree(const fs::path& into, uint64_t want, uint64_t& total) {
  const char* const roots[] = {"/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/share", "/usr/lib"};
  std::vector<fs::path> files;
  std::set<std::string> folded;
  std::set<std::pair<uint64_t, uint64_t>> inodes;
  std::set<uint64_t> sizes;
  total = 0;
  for (const char* root : roots) {
    std::vector<fs::path> candidates;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_symlink() || !it->is_regular_file()) continue;
      candidates.push_back(it->path());
    }
    std::sort(candidates.begin(), candidates.end());
    for (const fs::path& src : candidates) {
      if (total >= want) return files;
      std::string relative = (fs::path(root).filename() / src.lexically_relative(root)).generic_string();
      if (!portableName(relative)) continue;
      std::string key = relative;
      for (char& ch : key) ch = char(std::tolower(static_cast<unsigned char>(ch)));
      if (!folded.insert(key).second) continue;
      std::error_code copyError;
      uint64_t size = fs::file_size(src, copyError);
      if (copyError || size == 0 || size > (64u << 20)) continue;
      // The packager stores identical contents once; leaving duplicates (hard links among
      // them) out keeps the comparison about compression.
      struct stat st;
      if (stat(src.c_str(), &st) != 0 || !inodes.insert({uint64_t(st.st_dev), uint64_t(st.st_ino)}).second) continue;
      if (!sizes.insert(size).second && sameAsTaken(src, size, files)) continue;
      fs::path dst = into / relative;
      fs::create_directories(dst.parent_path());
      if (!fs::copy_file(src, dst, fs::copy_options::overwrite_existing, copyError)) continue;
      files.push_back(dst);
      total += size;
    }
  }
  return files;
}

void writeStandIns(const fs::path& dir, fs::path& stub, fs::path& uninstaller) {
  stub = fs::path(MW_DIST) / "stub.exe";
  uninstaller = fs::path(MW_DIST) / "uninstaller.exe";
  if (fs::exists(stub) && fs::exists(uninstaller)) return;
  // Stand-ins of the right sizes when the Windows programs were not built.
  stub = dir / "stub.exe";
  uninstaller = dir / "uninstaller.exe";
  std::string s(16384, '\0'), u(8088, '\0');
  s[0] = u[0] = 'M';
  s[1] = u[1] = 'Z';
  std::ofstream(stub, std::ios::binary) << s;
  std::ofstream(uninstaller, std::ios::binary) << u;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t megabytes = 64;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--megabytes") && i + 1 < argc) megabytes = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--keep")) keep = true;
    else {
      std::fprintf(stderr, "usage: pack_bench [--megabytes N] [--keep]\n");
      return 2;
    }
  }
  if (run("command -v bzip2 >/dev/null") != 0) {
    std::fprintf(stderr, "pack_bench: bzip2 is not installed\n");
    return 2;
  }

  std::string scratchPattern = (fs::temp_directory_path() / "pack-bench-XXXXXX").string();
  if (!mkdtemp(scratchPattern.data())) return 2;
  fs::path scratch = scratchPattern;
  fs::path tree = scratch / "tree";
  uint64_t total = 0;
  std::vector<fs::path> files = gatherTree(tree, megabytes << 20, total);
  std::printf("tree: %zu files, %.1f MiB copied from /usr (no two with the same content)\n", files.size(),
              double(total) / 1048576.0);
  if (total < (megabytes << 20)) std::printf("note: fewer bytes than asked for were found\n");

  fs::path stub, uninstaller;
  writeStandIns(scratch, stub, uninstaller);
  fs::path project = scratch / "project.toml";
  std::ofstream(project) << "[product]\nname = \"Pack Bench\"\n[destination]\nkind = \"program-files\"\npath = \"PB\"\n"
                            "[[files]]\nsource = \"tree\"\n";

  // Read every file once before timing anything, so both runs start from the page cache.
  run("find " + quote(tree.string()) + " -type f -exec cat {} + >/dev/null");

  fs::path installer = scratch / "setup.exe";
  double cpu0 = childCpuSeconds();
  auto t0 = Clock::now();
  int rc = run(quote(MARLOWICK_BINARY) + " build " + quote(project.string()) + " -o " + quote(installer.string()) +
               " --stub " + quote(stub.string()) + " --uninstaller " + quote(uninstaller.string()) + " --no-progress");
  double packSeconds = since(t0);
  double packCpu = childCpuSeconds() - cpu0;
  if (rc != 0) {
    std::fprintf(stderr, "pack_bench: marlowick build failed (%d); the tree is kept in %s\n", rc, scratch.c_str());
    return 1;
  }
  uint64_t packBytes = fs::file_size(installer) - fs::file_size(stub);
  std::printf("marlowick build (%u threads): %.2f s (%.2f s of processor time), %llu bytes after the stub\n",
              std::thread::hardware_concurrency(), packSeconds, packCpu, (unsigned long long)packBytes);

  // bzip2 -9 over the same files, one stream per file, next to each file.
  cpu0 = childCpuSeconds();
  t0 = Clock::now();
  rc = run("find " + quote(tree.string()) + " -type f ! -name '*.bz2' -print0 | xargs -0 -n 64 bzip2 -9 -k -f");
  double bzipSeconds = since(t0);
  double bzipCpu = childCpuSeconds() - cpu0;
  if (rc != 0) {
    std::fprintf(stderr, "pack_bench: bzip2 failed (%d)\n", rc);
    return 1;
  }
  uint64_t bzipBytes = 0;
  size_t streams = 0;
  for (auto& e : fs::recursive_directory_iterator(tree))
    if (e.is_regular_file() && e.path().extension() == ".bz2") {
      bzipBytes += e.file_size();
      ++streams;
    }
  std::printf("bzip2 -9 per file (%zu streams, one thread): %.2f s (%.2f s of processor time), %llu bytes\n", streams,
              bzipSeconds, bzipCpu, (unsigned long long)bzipBytes);
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) > 0)
    std::printf("machine load average: %.2f (other work on the machine lowers the speed ratio)\n", load[0]);

  if (!keep) fs::remove_all(scratch);
  else std::printf("kept: %s\n", scratch.c_str());
  // On a machine shared with other work the wall times say little; the processor times show
  // the work itself (with every core free, the wall-time ratio approaches this one times the
  // threads used).
  std::printf("pack processor-time ratio vs bzip2 -9: %.2f\n", bzipCpu / packCpu);
  std::printf("pack speed ratio vs bzip2 -9: %.2f\n", bzipSeconds / packSeconds);
  std::printf("size ratio vs bzip2 -9: %.4f\n", double(packBytes) / double(bzipBytes));
  return 0;
}
