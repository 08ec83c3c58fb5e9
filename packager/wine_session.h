// Running Windows programs under wine from Linux: a throwaway wine prefix, programs run in it
// with a time limit, and a look at what they left behind (files, and the registry as wine keeps
// it in the prefix's .reg files). Used by `marlowick try` and by the engine's wine end-to-end
// tests. Host-only code.
//
// A prefix is a copy of a prepared template when the project's scripts/wine-env is found (it
// keeps one per machine, and its environment makes wine start quickly where 32-bit code runs
// emulated); otherwise wineboot makes a new one, which takes minutes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace mw::wine {

struct RunResult {
  int exitCode = -1;     // the program's exit status; -1 when it could not be started
  bool timedOut = false; // ended by the time limit
  bool interrupted = false;  // ended because this program received an interrupt
  std::string stoppedBy; // the line of standard error that ended it (RunControl::stopOnError)
  std::string out;       // its standard output
};

using Environment = std::map<std::string, std::string>;

// Interrupts (SIGINT, SIGTERM, SIGHUP) are caught and remembered instead of ending this program
// at once, so that whoever runs wine can end what it started first: a running program is
// killed (its whole process group) and every later interruptible run returns at once.
void catchInterrupts();
int interruptSignal();  // the signal caught, 0 when none

struct RunControl {
  bool interruptible = true;  // an interrupt ends the program; off for cleaning up
  std::string stopOnError;    // a line of standard error holding this ends the program at once
};

// Runs argv (argv[0] searched in PATH) with `env` as its whole environment, standard output
// captured, standard error to `errSink` (nullptr: discarded), in its own process group, which is
// killed when the time limit passes.
RunResult run(const std::vector<std::string>& argv, const Environment& env, double timeoutSeconds,
              const std::filesystem::path& cwd = {}, std::ostream* errSink = nullptr,
              const RunControl& control = {});

std::optional<std::filesystem::path> findInPath(const std::string& program);

// One registry value as wine stores it.
struct RegValue {
  uint32_t type = 0;           // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, REG_MULTI_SZ 7, ...
  std::string text;            // string types: the value (ANSI, as far as it goes); others: empty
  uint32_t dword = 0;          // REG_DWORD
  std::vector<uint8_t> bytes;  // hex types: the raw bytes
  std::string raw;             // the data exactly as written in the file, for comparisons
};

// A view of a prefix's registry: HKEY_LOCAL_MACHINE (system.reg) and HKEY_CURRENT_USER (user.reg).
// Key paths are compared without regard to case, as Windows does.
class Registry {
 public:
  static Registry load(const std::filesystem::path& prefix);
  // root: "HKLM" or "HKCU"; subkey as a program wrote it. A 32-bit program's HKLM\Software\X is
  // stored under Software\Wow6432Node\X on a 64-bit prefix: `bits32` looks there first.
  bool hasKey(const std::string& root, const std::string& subkey, bool bits32 = true) const;
  // name "" is the key's default value.
  std::optional<RegValue> value(const std::string& root, const std::string& subkey,
                                const std::string& name, bool bits32 = true) const;

  struct Key {
    std::string path;  // "HKLM\Software\..." as written by wine
    std::map<std::string, RegValue> values;  // "" = default value; names as written
  };
  // Every key, by lower-cased full path.
  const std::map<std::string, Key>& keys() const { return keys_; }

 private:
  const Key* find(const std::string& root, const std::string& subkey, bool bits32) const;
  std::map<std::string, Key> keys_;
};

// How a value reads for people: REG_SZ "text", REG_DWORD 0x00000001 (1), ...
std::string describe(const RegValue& v);

class Session {
 public:
  // Makes a prefix in a new temporary folder ($TMPDIR, else /tmp). `wineEnv`: the project's scripts/wine-env, or
  // empty to look for it (MARLOWICK_WINE_ENV, then ../../scripts/wine-env from this program).
  // Starts Xvfb when there is no display. Null, with `error` set, when wine is missing or the
  // prefix cannot be made.
  static std::unique_ptr<Session> create(std::string& error, std::ostream* progress = nullptr,
                                         const std::filesystem::path& wineEnv = {});
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  const std::filesystem::path& prefix() const { return prefix_; }
  std::filesystem::path driveC() const { return prefix_ / "drive_c"; }
  // A scratch folder beside the prefix, removed with it.
  const std::filesystem::path& scratch() const { return scratch_; }
  // Keeps the prefix on disk after the session (for a look afterwards).
  void keep() { keep_ = true; }

  // `wine ARGS...` in the prefix.
  RunResult wine(const std::vector<std::string>& args, double timeoutSeconds,
                 const std::filesystem::path& cwd = {}, const RunControl& control = {});
  // Ends the prefix's wine server and every program still running in it, which writes the
  // registry files; the next wine command starts afresh.
  void waitIdle(double timeoutSeconds = 120);
  // Ends every program of the prefix at once. Never interrupted: it is how an interrupted run
  // cleans up.
  void kill();

  // Host path of a Windows path: C:\x -> drive_c/x; other drive letters through dosdevices.
  std::filesystem::path hostPath(const std::string& windowsPath) const;
  // Windows path of a host path (drive Z: maps the host's root).
  static std::string windowsPath(const std::filesystem::path& hostPath);

  Registry registry() const { return Registry::load(prefix_); }
  const Environment& environment() const { return env_; }

 private:
  Session() = default;
  std::filesystem::path root_, prefix_, scratch_;
  Environment env_;
  int xvfbPid_ = 0;
  bool keep_ = false;
};

}  // namespace mw::wine
