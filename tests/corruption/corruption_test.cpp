// The corruption campaign: hundreds of damaged copies of a real installer of the sample
// product, each run through the whole engine natively (the start-up's payload steps and the
// installation worker on the host platform) in silent mode with every question answered Yes
// (Ignore where a question has no Yes, Cancel where it has neither).
//
// For every variant: no crash and no hang (each runs in a child process with a time limit), no
// file or folder outside the destination and the shell folders, and an outcome that is either a
// refusal the user was told about or a finished installation. The sanitizer build runs the same
// campaign, which adds: no access outside any buffer.
//
//   corruption_test INSTALLER [--write-variants DIR N]   (the second form only writes N variants)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/bytes.h"
#include "decompress/stored_writer.h"
#include "install/fake_system.h"
#include "format/arena.h"
#include "format/payload.h"
#include "format/script.h"
#include "tests/support/host_engine.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// How a run ended; also the child's exit code: the engine's outcomes, and the defects found
// around them.
enum Outcome : int {
  Finished = mw::test::EngineFinished,
  FinishedIncomplete = mw::test::EngineFinishedIncomplete,
  RefusedPayload = mw::test::EngineRefusedPayload,
  RefusedScript = mw::test::EngineRefusedScript,
  StoppedAtQuestion = mw::test::EngineStopped,
  OutsideWrite = 30,        // something appeared outside the destination
  SilentDamage = 31,        // reported as complete, but the files differ from the product's
  SilentStop = mw::test::EngineStoppedSilently,
};

const char* outcomeName(int code) {
  switch (code) {
    case Finished: return "finished";
    case FinishedIncomplete: return "finished, incomplete (user went on)";
    case RefusedPayload: return "refused: payload unusable";
    case RefusedScript: return "refused: script lists corrupt";
    case StoppedAtQuestion: return "stopped at a question";
    case OutsideWrite: return "DEFECT: written outside the destination";
    case SilentDamage: return "DEFECT: reported complete with damaged files";
    case SilentStop: return "DEFECT: stopped without a question";
    default: return "DEFECT: crashed, hung or failed";
  }
}

// Every question is answered Yes; Ignore where a question has no Yes, Cancel where it has
// neither Yes nor Ignore.
int32_t answerYes(const mw::HostPlatform::Question& q) {
  switch (q.style & 0xF) {
    case 3:
    case 4: return mw::AnswerYes;
    case 2: return mw::AnswerIgnore;
    case 5: return mw::AnswerCancel;
    default: return mw::AnswerOk;
  }
}

int runEngine(const Bytes& installer, const fs::path& root) {
  mw::HostPlatform os(root);
  os.installer = installer;
  os.responder = answerYes;
  return mw::test::runSilentEngine(os, "C:\\Dest");
}

// True when every path under `root` lies in the destination, in a shell folder (shortcuts and
// the program group go there), or on the way to one of them.
bool onlyAllowedPaths(const fs::path& root, const std::vector<fs::path>& allowed) {
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::path p = it->path();
    bool ok = false;
    for (const fs::path& a : allowed) {
      auto [ai, pi] = std::mismatch(a.begin(), a.end(), p.begin(), p.end());
      if (ai == a.end() || pi == p.end()) { ok = true; break; }  // inside `a`, or an ancestor of it
    }
    if (!ok) {
      std::cerr << "  outside the destination: " << p << "\n";
      return false;
    }
  }
  return true;
}

using Tree = std::map<std::string, std::string>;

// Every file below `dir` with its content.
Tree readTree(const fs::path& dir) {
  Tree t;
  if (!fs::exists(dir)) return t;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (!it->is_regular_file()) continue;
    std::ifstream f(it->path(), std::ios::binary);
    t[fs::relative(it->path(), dir).string()] = std::string(std::istreambuf_iterator<char>(f), {});
  }
  return t;
}

// What the undamaged installer installs; a variant reported complete must install the same.
Tree expectedTree;

int runVariant(const Bytes& installer, const fs::path& root) {
  fs::remove_all(root);
  fs::create_directories(root);
  std::vector<fs::path> allowed;
  int code;
  {
    // The shell folders are created by the platform; list them before the run.
    mw::HostPlatform probe(root);
    for (const auto& [id, path] : probe.shellFolders) allowed.push_back(probe.hostPath(path));
    allowed.push_back(probe.hostPath("C:\\Dest"));
  }
  code = runEngine(installer, root);
  if (!onlyAllowedPaths(root, allowed)) return OutsideWrite;
  if (code == Finished && !expectedTree.empty() && readTree(allowed.back()) != expectedTree)
    return SilentDamage;
  return code;
}

// Runs one variant in a child process, with a time limit.
int runIsolated(const Bytes& installer, const fs::path& root) {
  std::cout.flush();
  pid_t pid = fork();
  if (pid == 0) {
    alarm(30);
    int code = runVariant(installer, root);
    std::fflush(nullptr);
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  std::cerr << "  child ended by signal " << WTERMSIG(status) << (WTERMSIG(status) == SIGALRM ? " (hang)" : "") << "\n";
  return 98;
}

struct Layout {
  uint32_t stubEnd = 0;         // first byte after the stub: where file data begins
  mw::LocatorRecord record{};
  uint32_t blobStart = 0;
  Bytes script;                 // decoded
  std::vector<uint32_t> checksumAt;  // offsets of file checksums inside the decoded script
};

Layout inspect(const Bytes& installer) {
  Layout l;
  l.record = mw::parseLocator(installer.data() + mw::kLocatorOffset);
  l.blobStart = l.record.scriptOffset + l.record.scriptLength;
  uint32_t allocate = 0, toRead = 0;
  mw::readBufferSizes(l.record, allocate, toRead);
  Bytes readBuffer(allocate);
  std::memcpy(readBuffer.data() + mw::kReadBufferLead, installer.data() + l.record.scriptOffset, toRead);
  uint32_t length = mw::scriptDecodedLength(readBuffer.data()), arenaSize = 0;
  mw::arenaSizeFor(length, arenaSize);
  std::unique_ptr<uint8_t[]> block(new uint8_t[arenaSize]());
  mw::Arena arena{};
  mw::layOutArena(arena, block.get(), length);
  if (mw::loadScript(readBuffer.data(), l.record, arena) != mw::LoadOk) throw std::runtime_error("the sample does not load");
  l.script.assign(arena.base, arena.base + length);
  mw::SetupScript front;
  mw::parseFront(l.script.data(), length, front);
  mw::ScriptCursor cursor;
  mw::startLists(cursor, l.script.data(), length, front);
  mw::FileEntry entry;
  l.stubEnd = l.record.scriptOffset;
  while (mw::nextFileEntry(cursor, entry) == mw::ReadItem) {
    if (!entry.dataOffset) continue;
    l.stubEnd = std::min(l.stubEnd, entry.dataOffset);
    l.checksumAt.push_back(cursor.position - 4);
  }
  return l;
}

// Rebuilds the payload around a changed script: new compressed script, same blob, new record.
Bytes withScript(const Bytes& installer, const Layout& l, const Bytes& script) {
  Bytes out(installer.begin(), installer.begin() + l.record.scriptOffset);
  Bytes body = mw::writeStoredStream(script.data(), script.size());
  uint8_t prefix[4];
  mw::writeU32(prefix, uint32_t(script.size()));
  out.insert(out.end(), prefix, prefix + 4);
  out.insert(out.end(), body.begin(), body.end());
  out.insert(out.end(), installer.begin() + l.blobStart, installer.begin() + l.blobStart + mw::kBlobSize);
  mw::LocatorRecord record = l.record;
  record.scriptLength = uint32_t(4 + body.size());
  record.checksum = mw::adler32Update(1, out.data() + record.scriptOffset, record.scriptLength + mw::kBlobSize);
  mw::writeLocator(out.data() + mw::kLocatorOffset, record);
  return out;
}

struct Variant {
  std::string kind;
  Bytes bytes;
};

std::vector<Variant> makeVariants(const Bytes& installer) {
  const Layout l = inspect(installer);
  std::mt19937 rng(20261208);
  auto pick = [&](uint32_t from, uint32_t to) { return std::uniform_int_distribution<uint32_t>(from, to - 1)(rng); };
  std::vector<Variant> v;
  auto flips = [&](const std::string& kind, uint32_t from, uint32_t to, int count) {
    for (int i = 0; i < count && from < to; ++i) {
      Bytes b = installer;
      int n = 1 + int(pick(0, 3));
      for (int k = 0; k < n; ++k) b[pick(from, to)] ^= uint8_t(1u << pick(0, 8));
      v.push_back({kind, std::move(b)});
    }
  };
  const uint32_t size = uint32_t(installer.size());
  flips("flip in the locator record", mw::kLocatorOffset, mw::kLocatorOffset + mw::kLocatorSize, 40);
  flips("flip in the stub", 0, mw::kLocatorOffset, 20);
  flips("flip in file data", l.stubEnd, l.record.scriptOffset, 110);
  flips("flip in the script", l.record.scriptOffset, l.blobStart, 110);
  flips("flip in the blob", l.blobStart, size, 100);
  for (int i = 0; i < 80; ++i) {
    // Cuts spread over the whole file, a few of them in each region.
    uint32_t at = i < 20 ? pick(0, l.stubEnd) : i < 40 ? pick(l.stubEnd, l.record.scriptOffset)
                 : i < 60 ? pick(l.record.scriptOffset, l.blobStart) : pick(l.blobStart, size);
    v.push_back({"truncated", Bytes(installer.begin(), installer.begin() + at)});
  }
  for (int i = 0; i < 30; ++i) {
    Bytes b = installer;
    uint32_t n = pick(1, 5000);
    for (uint32_t k = 0; k < n; ++k) b.push_back(uint8_t(pick(0, 256)));
    v.push_back({"bytes appended", std::move(b)});
  }
  for (int i = 0; i < 50 && !l.checksumAt.empty(); ++i) {
    Bytes script = l.script;
    uint32_t at = l.checksumAt[pick(0, uint32_t(l.checksumAt.size()))];
    script[at + pick(0, 4)] ^= uint8_t(1u << pick(0, 8));
    v.push_back({"wrong file checksum", withScript(installer, l, script)});
  }
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: corruption_test INSTALLER [--write-variants DIR N]\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  Bytes installer((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (installer.size() < mw::kMinimumStubSize) {
    std::cerr << "corruption_test: cannot read the installer " << argv[1] << "\n";
    return 2;
  }
  std::vector<Variant> variants = makeVariants(installer);

  if (argc == 5 && std::string(argv[2]) == "--write-variants") {
    // An even sample across the kinds, for the run under wine. Variants that damage the stub
    // itself stay out of it: under wine a flip there changes the running program's own code,
    // which may then crash like any damaged program, and a file cut inside the stub is no
    // program the system will start. Natively the stub's bytes are never read, and the host
    // campaign shows that they do not matter to the engine.
    const uint32_t stubEnd = inspect(installer).stubEnd;
    std::vector<Variant> payload;
    for (Variant& var : variants)
      if (var.kind != "flip in the stub" && var.bytes.size() >= stubEnd)
        payload.push_back(std::move(var));
    fs::path dir = argv[3];
    size_t n = std::stoul(argv[4]);
    fs::create_directories(dir);
    for (size_t i = 0; i < n; ++i) {
      const Variant& var = payload[i * payload.size() / n];
      std::ofstream(dir / ("variant-" + std::to_string(i) + ".exe"), std::ios::binary)
          .write(reinterpret_cast<const char*>(var.bytes.data()), std::streamsize(var.bytes.size()));
      std::cout << "variant-" << i << ".exe: " << var.kind << "\n";
    }
    return 0;
  }

  fs::path root = fs::temp_directory_path() / ("mw-corruption-" + std::to_string(getpid()));
  std::map<int, int> counts;
  std::map<std::string, std::map<int, int>> byKind;
  int defects = 0;
  // The untouched installer must install completely, or the campaign proves nothing.
  int baseline = runIsolated(installer, root);
  expectedTree = readTree(root / "C" / "Dest");
  if (baseline != Finished || expectedTree.size() < 2) {
    std::cerr << "the undamaged installer did not install: " << outcomeName(baseline) << "\n";
    return 1;
  }
  for (size_t i = 0; i < variants.size(); ++i) {
    int code = runIsolated(variants[i].bytes, root);
    ++counts[code];
    ++byKind[variants[i].kind][code];
    if (code >= OutsideWrite || code < Finished) {
      ++defects;
      std::cerr << "variant " << i << " (" << variants[i].kind << "): " << outcomeName(code) << "\n";
    }
  }
  fs::remove_all(root);
  std::cout << variants.size() << " variants of " << argv[1] << "\n";
  for (const auto& [code, n] : counts) std::cout << "  " << n << "  " << outcomeName(code) << "\n";
  std::cout << "by kind:\n";
  for (const auto& [kind, m] : byKind) {
    std::cout << "  " << kind << ":";
    for (const auto& [code, n] : m) std::cout << " " << outcomeName(code) << " " << n << ";";
    std::cout << "\n";
  }
  std::cout << (variants.size() - defects) << " passed, " << defects << " failed\n";
  return defects ? 1 : 0;
}
