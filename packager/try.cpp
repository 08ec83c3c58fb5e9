// `marlowick try`: a smoke test of an installer for packagers on Linux. The installer runs under
// wine in a throwaway prefix, silently by default; every question it asks is printed and
// answered with its stopping answer by the test driver (mw_driver.exe, next to marlowick), so a
// run never hangs. Afterwards the prefix is compared with how it was before, and what the
// installation made is printed: files with sizes, shortcuts, registry values, the uninstall
// registration, and the exit code with its meaning.
//
//   marlowick try INSTALLER.exe [--keep] [--timeout S] [-- ARGS...]
//   (ARGS without /s: the wizard is walked through with its defaults, Next until Finish)
//   marlowick try PROJECT.toml [-D NAME=VALUE]... ...   (builds it first, into a temporary folder)
//
// Exit code: 0 when the installer reported a complete installation (exit code 0), 1 when it did
// not, 2 when nothing could be run (no wine, no driver, bad arguments), 3 when the run timed out,
// 4 when the installer crashed (wine started its debugger; the run is ended at once).
//
// An interrupt (Ctrl-C, or SIGTERM from a CI time-out) ends the running programs, the prefix's
// wine server, the Xvfb started for the run and removes the prefix; then the signal ends
// marlowick as it would have.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "packager/commands.h"
#include "packager/try.h"
#include "packager/wine_session.h"
#include "format/exit_codes.h"

namespace mw::packager {
namespace {

namespace fs = std::filesystem;

struct TryOptions {
  fs::path input;
  Defines defines;  // -D NAME=VALUE, for a project built first
  std::vector<std::string> args{"/s"};
  bool keep = false;
  double timeout = 600;
};

// Wine prints this when a program fails with an exception nobody handles; the debugger it then
// starts waits for good.
constexpr const char* kCrashMarker = "starting debugger";

int usage(const std::string& why) {
  if (!why.empty()) {
    std::cerr << "marlowick: error: try: " << why << " (marlowick try --help shows the usage)\n";
    return 2;
  }
  std::cout << "usage: marlowick try INSTALLER.exe|PROJECT.toml [-D NAME=VALUE]... [--keep] [--timeout SECONDS]\n"
      << "                     [-- ARGS...]\n"
      << "  runs the installer under wine in a throwaway prefix (with /s unless ARGS are given),\n"
      << "  a project built first (-D as for build),\n"
      << "  answers any question with its stopping answer and prints what it installed\n"
      << "  exit: 0 installed, 1 not complete, 2 nothing could be run, 3 timed out, 4 crashed\n";
  return 0;
}

bool endsWithNoCase(const std::string& s, const std::string& tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - tail.size() + i])) != tail[i]) return false;
  return true;
}

bool parse(int argc, char** argv, TryOptions& o, int& status) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      o.args.assign(argv + i + 1, argv + argc);
      break;
    }
    if (a == "--keep") {
      o.keep = true;
    } else if (a == "--timeout" && i + 1 < argc) {
      char* end = nullptr;
      o.timeout = std::strtod(argv[++i], &end);
      if (*end) o.timeout = 0;
      if (o.timeout <= 0) return status = usage("--timeout needs a positive number of seconds"), false;
    } else if (a == "-D" || a == "--define" || (a.size() > 2 && a.compare(0, 2, "-D") == 0)) {
      std::string error;
      const bool joined = a.size() > 2 && a[1] == 'D';
      if (!joined && i + 1 >= argc) return status = usage(a + " needs NAME=VALUE"), false;
      if (!addDefine(joined ? a.substr(2) : argv[++i], o.defines, error))
        return status = usage(error), false;
    } else if (a == "-h" || a == "--help") {
      return status = usage(""), false;
    } else if (!a.empty() && a[0] == '-') {
      return status = usage("unknown option " + a), false;
    } else if (o.input.empty()) {
      o.input = a;
    } else {
      return status = usage("more than one installer given (put the installer's own arguments after --)"), false;
    }
  }
  if (o.input.empty()) return status = usage("no installer given"), false;
  if (!o.defines.empty() && !endsWithNoCase(o.input.string(), ".toml"))
    return status = usage("-D applies to a project (.toml), not to a built installer"), false;
  return true;
}

// Files of drive C: with their sizes; the Windows folder is the system's, not the product's.
std::map<std::string, uintmax_t> snapshotFiles(const fs::path& driveC) {
  std::map<std::string, uintmax_t> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(driveC, fs::directory_options::skip_permission_denied, ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const fs::path rel = it->path().lexically_relative(driveC);
    if (it.depth() == 0 && rel == "windows") {
      it.disable_recursion_pending();
      continue;
    }
    if (it->is_symlink(ec)) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file(ec)) files[rel.string()] = it->file_size(ec);
  }
  return files;
}

std::string windowsForm(const std::string& relative) {
  std::string p = "C:\\" + relative;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

std::string lowerText(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Keys the system itself touches on every run; not the installer's doing.
bool registryNoise(const std::string& lowerPath) {
  static const char* const kNoise[] = {
      "hklm\\system\\",  "hkcu\\software\\wine", "hklm\\software\\wine", "hkcu\\volatile environment",
      "hklm\\software\\wow6432node\\wine", "\\microsoft\\windows\\currentversion\\explorer",
      "hklm\\hardware\\", "hklm\\software\\microsoft\\windows nt\\currentversion\\fonts",
  };
  for (const char* n : kNoise)
    if (lowerPath.find(n) != std::string::npos) return true;
  return false;
}

struct DriverReport {
  std::vector<std::string> questions;
  std::string failure;  // a FAIL or TIMEOUT line of the driver
};

DriverReport readDriverOutput(const std::string& out) {
  DriverReport r;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("box ", 0) == 0) r.questions.push_back(line.substr(4));
    else if (line.rfind("FAIL", 0) == 0 || line.rfind("TIMEOUT", 0) == 0) r.failure = line;
  }
  return r;
}

}  // namespace

static int tryInstaller(const TryOptions& o) {
  std::error_code ec;
  if (!fs::is_regular_file(o.input, ec)) {
    std::cerr << "marlowick: error: try: '" << o.input.string() << "' "
              << (fs::is_directory(o.input, ec) ? "is a folder" : fs::exists(o.input, ec) ? "is not a regular file" : "does not exist")
              << "\n";
    return 2;
  }
  const fs::path driver = defaultDistFile("mw_driver.exe");
  if (!fs::exists(driver)) {
    std::cerr << "marlowick try: the test driver " << driver.string()
              << " is missing (it is built with the Windows programs)\n";
    return 2;
  }

  std::string error;
  auto session = wine::Session::create(error, &std::cerr);
  if (wine::interruptSignal()) return 2;
  if (!session) {
    std::cerr << "marlowick try: " << error << "\n";
    return 2;
  }
  if (o.keep) session->keep();

  // The installer runs from the scratch folder, under its own name.
  fs::path installer = session->scratch() / o.input.filename();
  if (endsWithNoCase(o.input.string(), ".toml")) {
    BuildCommand build;
    build.project = o.input;
    build.defines = o.defines;
    installer = session->scratch() / "setup.exe";
    build.options.output = installer;
    build.options.stub = defaultDistFile("stub.exe");
    build.options.uninstaller = defaultDistFile("uninstaller.exe");
    build.options.progress = false;
    build.quiet = true;
    if (runBuild(build, std::cout, std::cerr) != 0 || wine::interruptSignal()) {
      std::cerr << "marlowick try: the project could not be built\n";
      return 1;
    }
  } else {
    fs::copy_file(o.input, installer, fs::copy_options::overwrite_existing);
  }
  const fs::path localDriver = session->scratch() / "mw_driver.exe";
  fs::copy_file(driver, localDriver, fs::copy_options::overwrite_existing);

  const auto filesBefore = snapshotFiles(session->driveC());
  session->waitIdle();
  const wine::Registry registryBefore = session->registry();

  std::string shown;
  for (const std::string& a : o.args) shown += " " + a;
  // Flushed: a CI log shows what runs while it runs.
  std::cout << "marlowick try: " << o.input.filename().string() << shown << std::endl;

  std::vector<std::string> args{wine::Session::windowsPath(localDriver), "--stop-boxes", "--timeout",
                                std::to_string(int(o.timeout))};
  // Without /s the wizard runs: it is walked through with its defaults (Next until Finish).
  bool silent = false;
  for (const std::string& a : o.args) silent = silent || a.find("/s") != std::string::npos;
  if (!silent) {
    std::cout << "(no /s: walking the wizard with its defaults)\n";
    for (const char* step : {"dialog", "*", "click-through", "16", "15", "Finish"}) args.push_back(step);
  }
  args.push_back("--");
  args.push_back(wine::Session::windowsPath(installer));
  args.insert(args.end(), o.args.begin(), o.args.end());
  wine::RunControl control;
  control.stopOnError = kCrashMarker;
  const wine::RunResult run = session->wine(args, o.timeout + 120, session->scratch(), control);
  session->waitIdle();
  if (run.interrupted || wine::interruptSignal()) return 2;
  const DriverReport report = readDriverOutput(run.out);

  // ---- What happened ----
  std::cout << "\nQuestions asked: " << (report.questions.empty() ? "none" : "") << "\n";
  for (const std::string& q : report.questions) std::cout << "  " << q << "\n";

  const auto filesAfter = snapshotFiles(session->driveC());
  std::vector<std::pair<std::string, uintmax_t>> newFiles, shortcuts;
  for (const auto& [path, size] : filesAfter) {
    auto before = filesBefore.find(path);
    if (before != filesBefore.end() && before->second == size && path.find("Uninstall.exe") == std::string::npos)
      continue;
    const std::string lowerPath = lowerText(path);
    if (lowerPath.find("/temp/") != std::string::npos) continue;
    if (endsWithNoCase(path, ".lnk") || endsWithNoCase(path, ".pif")) shortcuts.push_back({path, size});
    else newFiles.push_back({path, size});
  }

  std::cout << "\nFiles installed:" << (newFiles.empty() ? " none" : "") << "\n";
  std::set<std::string> shownFolders;
  for (const auto& [path, size] : newFiles) {
    const fs::path p(path);
    std::string folder;
    int depth = 0;
    for (auto part = p.begin(); part != p.end(); ++part) {
      if (std::next(part) == p.end()) break;
      folder += (folder.empty() ? "" : "/") + part->string();
      ++depth;
      if (shownFolders.insert(folder).second)
        std::cout << "  " << std::string(size_t(2 * (depth - 1)), ' ') << part->string() << "\\\n";
    }
    std::cout << "  " << std::string(size_t(2 * depth), ' ') << p.filename().string() << "  " << size << " bytes\n";
  }

  std::cout << "\nShortcuts:" << (shortcuts.empty() ? " none" : "") << "\n";
  for (const auto& [path, size] : shortcuts) std::cout << "  " << windowsForm(path) << "\n";

  const wine::Registry registryAfter = session->registry();
  std::vector<std::string> registryLines, uninstallLines;
  for (const auto& [lowerPath, key] : registryAfter.keys()) {
    if (registryNoise(lowerPath)) continue;
    const auto* old = registryBefore.keys().count(lowerPath) ? &registryBefore.keys().at(lowerPath) : nullptr;
    std::vector<std::string> changed;
    for (const auto& [name, value] : key.values) {
      if (old) {
        auto o2 = old->values.find(name);
        if (o2 != old->values.end() && o2->second.raw == value.raw) continue;
      }
      changed.push_back("    " + (name.empty() ? std::string("(default)") : name) + " = " + wine::describe(value));
    }
    if (!old && key.values.empty()) changed.push_back("    (new key, no values)");
    if (changed.empty()) continue;
    const bool uninstall = lowerPath.find("\\microsoft\\windows\\currentversion\\uninstall\\") != std::string::npos;
    auto& lines = uninstall ? uninstallLines : registryLines;
    lines.push_back("  " + key.path);
    lines.insert(lines.end(), changed.begin(), changed.end());
  }
  std::cout << "\nRegistry values:" << (registryLines.empty() ? " none" : "") << "\n";
  for (const auto& l : registryLines) std::cout << l << "\n";
  std::cout << "\nUninstall registration:" << (uninstallLines.empty() ? " none" : "") << "\n";
  for (const auto& l : uninstallLines) std::cout << l << "\n";

  std::cout << "\n";
  if (!run.stoppedBy.empty()) {
    std::string line = run.stoppedBy;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::cout << "Result: the installer CRASHED: " << line << "\n";
    return 4;
  }
  if (run.timedOut || run.exitCode == 124) {
    std::cout << "Result: timed out after " << int(o.timeout) << " s" << (report.failure.empty() ? "" : ": " + report.failure) << "\n";
    return 3;
  }
  if (run.exitCode == 125 || run.exitCode == 126 || run.exitCode < 0) {
    std::cout << "Result: the installer could not be run" << (report.failure.empty() ? "" : ": " + report.failure) << "\n";
    return 2;
  }
  std::cout << "Exit code: " << run.exitCode << " (" << silentExitMeaning(uint32_t(run.exitCode)) << ")\n";
  const bool complete = run.exitCode == 0 && !uninstallLines.empty();
  std::cout << "Result: " << (complete ? "installation complete" : "installation NOT complete") << "\n";
  if (o.keep) std::cout << "Prefix kept: " << session->prefix().string() << "\n";
  return complete ? 0 : 1;
}

int runTry(int argc, char** argv) {
  TryOptions o;
  int status = 0;
  if (!parse(argc, argv, o, status)) return status;
  wine::catchInterrupts();
  status = tryInstaller(o);  // the session, its programs, Xvfb and prefix are gone on return
  if (const int sig = wine::interruptSignal()) {
    std::cerr << "marlowick try: interrupted by signal " << sig << "; wine, its Xvfb and the prefix were ended\n";
    std::cout.flush();
    signal(sig, SIG_DFL);
    raise(sig);
  }
  return status;
}

}  // namespace mw::packager
