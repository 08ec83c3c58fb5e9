#include "packager/wine_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace mw::wine {
namespace fs = std::filesystem;

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

Environment currentEnvironment() {
  Environment env;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (eq) env[std::string(static_cast<const char*>(*e), eq)] = eq + 1;
  }
  return env;
}

std::optional<fs::path> findInPathOf(const std::string& program, const std::string& pathList) {
  if (program.find('/') != std::string::npos) return fs::path(program);
  std::stringstream dirs(pathList);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty()) continue;
    fs::path candidate = fs::path(dir) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

volatile sig_atomic_t caughtSignal = 0;

extern "C" void rememberInterrupt(int sig) { caughtSignal = sig; }

}  // namespace

void catchInterrupts() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = rememberInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

int interruptSignal() { return caughtSignal; }

std::optional<fs::path> findInPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  return findInPathOf(program, path ? path : "/usr/bin:/bin");
}

RunResult run(const std::vector<std::string>& argv, const Environment& env, double timeoutSeconds,
              const fs::path& cwd, std::ostream* errSink, const RunControl& control) {
  RunResult result;
  if (control.interruptible && caughtSignal) {
    result.interrupted = true;
    return result;
  }
  auto pathIt = env.find("PATH");
  auto exe = findInPathOf(argv.at(0), pathIt != env.end() ? pathIt->second : "/usr/bin:/bin");
  if (!exe) return result;

  int outPipe[2], errPipe[2];
  if (::pipe(outPipe) != 0) return result;
  if (::pipe(errPipe) != 0) {
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return result;
  }
  std::vector<std::string> envText;
  for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
  std::vector<char*> envp, args;
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (auto& a : argCopy) args.push_back(a.data());
  args.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setpgid(0, 0);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    int devnull = ::open("/dev/null", O_RDONLY);
    ::dup2(devnull, 0);
    ::dup2(outPipe[1], 1);
    ::dup2(errPipe[1], 2);
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    ::execve(exe->c_str(), args.data(), envp.data());
    ::_exit(127);
  }
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (pid < 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return result;
  }

  const auto start = std::chrono::steady_clock::now();
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  char buf[4096];
  int status = 0;
  bool exited = false;
  std::string errLine;  // the line of standard error being read, for stopOnError
  // Reads until the program has ended and its output is drained. A program may leave children
  // behind that hold the pipes open for good (a wine server), so the end of the program, not
  // the end of the pipes, ends the wait; what is already in the pipes is still read.
  for (;;) {
    if (!exited && ::waitpid(pid, &status, WNOHANG) == pid) exited = true;
    const double left = timeoutSeconds - secondsSince(start);
    const bool interrupted = control.interruptible && caughtSignal;
    if (!exited && (left <= 0 || interrupted || !result.stoppedBy.empty())) {
      if (interrupted) result.interrupted = true;
      else if (result.stoppedBy.empty()) result.timedOut = true;
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      exited = true;
    }
    const int ready = ::poll(fds, 2, exited ? 100 : 200);
    if (ready < 0 && errno != EINTR) break;
    bool got = false;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      got = true;
      if (i == 0) {
        result.out.append(buf, size_t(n));
        continue;
      }
      if (errSink) {
        errSink->write(buf, n);
        errSink->flush();
      }
      if (control.stopOnError.empty() || !result.stoppedBy.empty()) continue;
      for (ssize_t k = 0; k < n; ++k) {
        if (buf[k] != '\n') {
          if (errLine.size() < 1024) errLine.push_back(buf[k]);
          continue;
        }
        if (errLine.find(control.stopOnError) != std::string::npos) {
          result.stoppedBy = errLine;
          break;
        }
        errLine.clear();
      }
    }
    if (fds[0].fd < 0 && fds[1].fd < 0 && exited) break;
    if (exited && !got) break;
  }
  for (auto& f : fds)
    if (f.fd >= 0) ::close(f.fd);
  if (!exited) ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  else result.exitCode = 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  return result;
}

// ---- Registry files ------------------------------------------------------------------------

namespace {

// Wine's escapes inside quoted strings and key names: \\ \" \n \r \t \0 and \xHHHH (a UTF-16
// code unit; those below 256 are the ANSI characters the installer wrote, others become '?').
std::string unescape(const std::string& s, size_t& i, char end) {
  std::string out;
  while (i < s.size() && s[i] != end) {
    char c = s[i++];
    if (c != '\\' || i >= s.size()) {
      out.push_back(c);
      continue;
    }
    char e = s[i++];
    switch (e) {
      case 'n': out.push_back('\n'); break;
      case 'r': out.push_back('\r'); break;
      case 't': out.push_back('\t'); break;
      case '0': out.push_back('\0'); break;
      case 'x': {
        unsigned v = 0;
        int digits = 0;
        while (digits < 4 && i < s.size() && std::isxdigit(static_cast<unsigned char>(s[i]))) {
          v = v * 16 + unsigned(std::isdigit(static_cast<unsigned char>(s[i])) ? s[i] - '0'
                                                                                 : (std::tolower(s[i]) - 'a' + 10));
          ++i;
          ++digits;
        }
        out.push_back(v < 256 ? char(v) : '?');
        break;
      }
      default: out.push_back(e);
    }
  }
  return out;
}

std::vector<uint8_t> hexBytes(const std::string& s) {
  std::vector<uint8_t> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty()) continue;
    out.push_back(uint8_t(std::strtoul(item.c_str(), nullptr, 16)));
  }
  return out;
}

RegValue parseData(const std::string& data) {
  RegValue v;
  v.raw = data;
  size_t i = 0;
  if (data.rfind("\"", 0) == 0) {
    v.type = 1;
    i = 1;
    v.text = unescape(data, i, '"');
  } else if (data.rfind("str(", 0) == 0) {
    v.type = uint32_t(std::strtoul(data.c_str() + 4, nullptr, 16));
    i = data.find(":\"");
    if (i != std::string::npos) {
      i += 2;
      v.text = unescape(data, i, '"');
    }
  } else if (data.rfind("dword:", 0) == 0) {
    v.type = 4;
    v.dword = uint32_t(std::strtoul(data.c_str() + 6, nullptr, 16));
  } else if (data.rfind("hex:", 0) == 0) {
    v.type = 3;
    v.bytes = hexBytes(data.substr(4));
  } else if (data.rfind("hex(", 0) == 0) {
    v.type = uint32_t(std::strtoul(data.c_str() + 4, nullptr, 16));
    const size_t colon = data.find("):");
    if (colon != std::string::npos) v.bytes = hexBytes(data.substr(colon + 2));
    // String types stored as UTF-16 bytes: take the low bytes as the text.
    if (v.type == 1 || v.type == 2 || v.type == 7)
      for (size_t k = 0; k + 1 < v.bytes.size(); k += 2) v.text.push_back(char(v.bytes[k]));
  }
  return v;
}

void loadFile(const fs::path& file, const std::string& root, std::map<std::string, Registry::Key>& keys) {
  std::ifstream in(file);
  std::string line, pending;
  Registry::Key* current = nullptr;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Long hex data continues on the next line after a backslash.
    if (!pending.empty()) {
      size_t s = line.find_first_not_of(" \t");
      line = pending + (s == std::string::npos ? "" : line.substr(s));
      pending.clear();
    }
    if (!line.empty() && line.back() == '\\' && line.find('=') != std::string::npos &&
        (line.find("=hex") != std::string::npos)) {
      pending = line.substr(0, line.size() - 1);
      continue;
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      size_t i = 1;
      std::string name = unescape(line, i, ']');
      std::string path = root + "\\" + name;
      current = &keys[lower(path)];
      current->path = path;
      continue;
    }
    if (!current) continue;
    std::string name;
    size_t i = 0;
    if (line[0] == '@') {
      i = 1;
    } else if (line[0] == '"') {
      i = 1;
      name = unescape(line, i, '"');
      ++i;
    } else {
      continue;
    }
    if (i >= line.size() || line[i] != '=') continue;
    current->values[name] = parseData(line.substr(i + 1));
  }
}

}  // namespace

Registry Registry::load(const fs::path& prefix) {
  Registry r;
  loadFile(prefix / "system.reg", "HKLM", r.keys_);
  loadFile(prefix / "user.reg", "HKCU", r.keys_);
  return r;
}

const Registry::Key* Registry::find(const std::string& root, const std::string& subkey, bool bits32) const {
  const std::string key = lower(subkey);
  if (bits32 && root == "HKLM" && key.rfind("software\\", 0) == 0) {
    auto it = keys_.find("hklm\\software\\wow6432node\\" + key.substr(9));
    if (it != keys_.end()) return &it->second;
  }
  auto it = keys_.find(lower(root) + "\\" + key);
  return it == keys_.end() ? nullptr : &it->second;
}

bool Registry::hasKey(const std::string& root, const std::string& subkey, bool bits32) const {
  return find(root, subkey, bits32) != nullptr;
}

std::optional<RegValue> Registry::value(const std::string& root, const std::string& subkey,
                                        const std::string& name, bool bits32) const {
  const Key* k = find(root, subkey, bits32);
  if (!k) return std::nullopt;
  for (const auto& [n, v] : k->values)
    if (lower(n) == lower(name)) return v;
  return std::nullopt;
}

std::string describe(const RegValue& v) {
  auto quoted = [](const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
      if (c == '"' || c == '\\') out += '\\', out += char(c);
      else if (c == '\r') out += "\\r";
      else if (c == '\n') out += "\\n";
      else if (c == 0) out += "\\0";
      else out += char(c);
    }
    return out + "\"";
  };
  char buf[64];
  switch (v.type) {
    case 1: return "REG_SZ " + quoted(v.text);
    case 2: return "REG_EXPAND_SZ " + quoted(v.text);
    case 7: return "REG_MULTI_SZ " + quoted(v.text);
    case 4:
      std::snprintf(buf, sizeof buf, "REG_DWORD 0x%08X (%u)", v.dword, v.dword);
      return buf;
    default: {
      std::string out = (v.type == 3 ? std::string("REG_BINARY") : "type " + std::to_string(v.type)) + " ";
      for (size_t i = 0; i < v.bytes.size() && i < 32; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", v.bytes[i]);
        out += buf;
      }
      if (v.bytes.size() > 32) out += "...";
      return out;
    }
  }
}

// ---- Sessions ------------------------------------------------------------------------------

namespace {

fs::path locateWineEnv(const fs::path& given) {
  if (!given.empty()) return given;
  if (const char* e = std::getenv("MARLOWICK_WINE_ENV"); e && *e) return e;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    // dist/ lies in the build folder, which lies in the project.
    for (fs::path dir = self.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
      if (fs::exists(dir / "scripts" / "wine-env")) return dir / "scripts" / "wine-env";
  }
  return {};
}

int startXvfb(Environment& env, std::ostream* progress) {
  auto xvfb = findInPath("Xvfb");
  if (!xvfb) return 0;
  for (int n = 140; n < 200; ++n) {
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
    const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
    if (fs::exists(socket) || fs::exists(lock)) continue;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setsid();
      int devnull = ::open("/dev/null", O_RDWR);
      ::dup2(devnull, 0);
      ::dup2(devnull, 1);
      ::dup2(devnull, 2);
      const std::string display = ":" + std::to_string(n);
      ::execl(xvfb->c_str(), "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 100 && !fs::exists(socket); ++i) {
      int status;
      if (::waitpid(pid, &status, WNOHANG) == pid) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (fs::exists(socket)) {
      env["DISPLAY"] = ":" + std::to_string(n);
      if (progress) *progress << "started Xvfb on display :" << n << "\n";
      return pid;
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }
  return 0;
}

}  // namespace

std::unique_ptr<Session> Session::create(std::string& error, std::ostream* progress, const fs::path& wineEnvGiven) {
  if (!findInPath("wine")) {
    error = "wine is not installed (install the packages wine and wine32, or run scripts/bootstrap)";
    return nullptr;
  }
  std::unique_ptr<Session> s(new Session());
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "marlowick-wine-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    error = "cannot make a temporary folder in " + fs::path(pattern).parent_path().string();
    return nullptr;
  }
  s->root_ = pattern;
  s->prefix_ = s->root_ / "prefix";
  s->scratch_ = s->root_ / "scratch";
  fs::create_directories(s->scratch_);

  const fs::path wineEnv = locateWineEnv(wineEnvGiven);
  Environment base = currentEnvironment();
  // Wine's own temporary files (its server's socket folder among them) stay inside the
  // session's folder and go with it; every wine command of the session, the first included,
  // must see the same folder to find the prefix's server.
  base["TMPDIR"] = (s->root_ / "tmp").string();
  fs::create_directories(s->root_ / "tmp");
  if (!wineEnv.empty() && fs::exists(wineEnv)) {
    if (progress) *progress << "preparing a wine prefix from the shared template\n";
    RunResult r = run({"bash", "-c", ". \"$1\" && mw_wine_prefix \"$2\" >&2 && env -0", "bash",
                       wineEnv.string(), s->prefix_.string()},
                      base, 1800, {}, progress);
    if (r.exitCode != 0) {
      error = "could not prepare a wine prefix with " + wineEnv.string();
      return nullptr;
    }
    s->env_.clear();
    size_t start = 0;
    while (start < r.out.size()) {
      size_t end = r.out.find('\0', start);
      if (end == std::string::npos) end = r.out.size();
      const std::string entry = r.out.substr(start, end - start);
      const size_t eq = entry.find('=');
      if (eq != std::string::npos) s->env_[entry.substr(0, eq)] = entry.substr(eq + 1);
      start = end + 1;
    }
    s->env_["WINEPREFIX"] = s->prefix_.string();
  } else {
    s->env_ = base;
    s->env_["WINEPREFIX"] = s->prefix_.string();
    s->env_["WINEDEBUG"] = "-all";
    s->env_["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d";
    if (progress) *progress << "creating a new wine prefix (this takes a few minutes)\n";
    RunResult r = run({"wineboot", "-i"}, s->env_, 1800, {}, nullptr);
    if (r.exitCode != 0 || !fs::exists(s->prefix_ / "system.reg")) {
      error = "wineboot could not make a prefix";
      return nullptr;
    }
    s->waitIdle(300);
  }
  // A prefix links the user's Desktop, Documents and the like to the Linux home folder; what an
  // installer puts there must stay inside the throwaway prefix.
  std::error_code ec;
  for (const auto& user : fs::directory_iterator(s->driveC() / "users", ec)) {
    for (const auto& entry : fs::directory_iterator(user.path(), ec)) {
      if (!entry.is_symlink(ec)) continue;
      const fs::path link = entry.path();
      fs::remove(link, ec);
      fs::create_directory(link, ec);
    }
  }
  // Message boxes need a screen; a display that is set but gone (a local ":N" without its
  // socket) counts as none.
  auto display = s->env_.find("DISPLAY");
  bool haveDisplay = display != s->env_.end() && !display->second.empty();
  if (haveDisplay && display->second[0] == ':') {
    const std::string number = display->second.substr(1, display->second.find('.') - 1);
    haveDisplay = fs::exists("/tmp/.X11-unix/X" + number);
  }
  if (!haveDisplay) s->xvfbPid_ = startXvfb(s->env_, progress);
  return s;
}

Session::~Session() {
  kill();
  if (xvfbPid_ > 0) {
    ::kill(xvfbPid_, SIGTERM);
    ::waitpid(xvfbPid_, nullptr, 0);
  }
  if (!keep_ && !root_.empty()) {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
}

RunResult Session::wine(const std::vector<std::string>& args, double timeoutSeconds, const fs::path& cwd,
                        const RunControl& control) {
  std::vector<std::string> argv{"wine"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, env_, timeoutSeconds, cwd, nullptr, control);
}

void Session::waitIdle(double timeoutSeconds) {
  // The server may be started to linger for good, so waiting for it to go idle could wait
  // forever: it is ended instead, which also writes the registry files. Programs still running
  // in the prefix end with it; the next wine command starts a new server.
  auto it = env_.find("WINESERVER");
  const std::string server = it != env_.end() ? it->second : "wineserver";
  RunControl cleanup;
  cleanup.interruptible = false;
  run({server, "-k"}, env_, timeoutSeconds, {}, nullptr, cleanup);
  run({server, "-w"}, env_, timeoutSeconds, {}, nullptr, cleanup);
}

void Session::kill() {
  if (prefix_.empty() || !fs::exists(prefix_)) return;
  waitIdle(60);
}

fs::path Session::hostPath(const std::string& windowsPath) const {
  if (windowsPath.size() < 2 || windowsPath[1] != ':') return {};
  const char letter = char(std::tolower(static_cast<unsigned char>(windowsPath[0])));
  fs::path base = letter == 'c' ? driveC() : prefix_ / "dosdevices" / (std::string(1, letter) + ":");
  std::string rest = windowsPath.substr(2);
  for (char& c : rest)
    if (c == '\\') c = '/';
  while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  return rest.empty() ? base : base / rest;
}

std::string Session::windowsPath(const fs::path& hostPath) {
  std::string p = fs::absolute(hostPath).lexically_normal().string();
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
}

}  // namespace mw::wine
