#include "packager/signing.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "packager/installer_reader.h"
#include "packager/output_file.h"

namespace fs = std::filesystem;

namespace mw::packager {
namespace {

struct ToolRun {
  int code = -1;       // exit status; 127 when the program could not be started
  std::string output;  // standard output and standard error together
};

bool inPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && ::access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
  return false;
}

// Runs a tool with `input` on its standard input (a password never goes on a command line,
// where every user of the machine can read it).
ToolRun runTool(const std::vector<std::string>& argv, const std::string& input = {}) {
  ToolRun result;
  int in[2], out[2];
  if (::pipe(in) != 0) return result;
  if (::pipe(out) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return result;
  }
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    ::close(in[1]);
    ::close(out[0]);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  if (pid < 0) {
    ::close(in[1]);
    ::close(out[0]);
    return result;
  }
  const ChildEndedOnInterrupt onInterrupt(pid);
  // A tool that does not read its input must not end us with SIGPIPE.
  struct sigaction ignore {}, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previous);
  for (size_t done = 0; done < input.size();) {
    ssize_t n = ::write(in[1], input.data() + done, input.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  ::close(in[1]);
  sigaction(SIGPIPE, &previous, nullptr);
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(out[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, size_t(n));
  }
  ::close(out[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

// The lines of a tool's output worth showing when it failed.
std::string essentials(const std::string& output) {
  std::istringstream in(output);
  std::string line, kept;
  int lines = 0;
  while (std::getline(in, line) && lines < 2) {
    if (line.find("rror") == std::string::npos && line.find("not supported") == std::string::npos) continue;
    if (line.size() > 160) line = line.substr(0, 157) + "...";
    kept += (lines++ ? "; " : "") + line;
  }
  return kept.empty() ? output.substr(0, output.find('\n')) : kept;
}

// What osslsigncode's verify found, in a few words: OpenSSL's error lines name the failing
// step, which is all a reader needs.
std::string verdict(const std::string& output) {
  if (output.find("Failed to extract current message digest") != std::string::npos ||
      output.find("asn1 encoding routines") != std::string::npos)
    return "the signature cannot be read (its encoding is damaged)";
  if (output.find("signature failure") != std::string::npos || output.find("padding check failed") != std::string::npos)
    return "the signature's value does not verify with its certificate (the signature is damaged)";
  for (const char* marker : {"Verify error:", "\tError: "}) {
    const size_t at = output.find(marker);
    if (at == std::string::npos) continue;
    const size_t from = at + std::strlen(marker);
    std::string reason = output.substr(from, output.find('\n', from) - from);
    while (!reason.empty() && reason.front() == ' ') reason.erase(0, 1);
    return reason;
  }
  return essentials(output);
}

std::string field(const std::string& output, const std::string& name) {
  const size_t at = output.find(name);
  if (at == std::string::npos) return {};
  const size_t colon = output.find(':', at);
  const size_t end = output.find('\n', at);
  if (colon == std::string::npos || colon > end) return {};
  std::string value = output.substr(colon + 1, end - colon - 1);
  while (!value.empty() && (value.front() == ' ')) value.erase(0, 1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
  return value;
}

// A private scratch folder, removed with everything in it.
struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::path(tmp && *tmp ? tmp : "/tmp") / "marlowick-sign-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    if (!path.empty()) fs::remove_all(path, ec);
  }
};

}  // namespace

std::string signingProblem(const SigningSettings& s) {
  const bool pair = !s.certificate.empty() || !s.key.empty();
  if (pair && !s.pkcs12.empty()) return "give either a certificate and a key, or a PKCS#12 file, not both";
  if (!pair && s.pkcs12.empty()) return "give a certificate and a key, or a PKCS#12 file";
  if (pair && (s.certificate.empty() || s.key.empty()))
    return s.certificate.empty() ? "a key without a certificate" : "a certificate without a key";
  for (const fs::path* p : {&s.certificate, &s.key, &s.pkcs12}) {
    if (p->empty()) continue;
    std::error_code ec;
    if (!fs::is_regular_file(*p, ec)) return "cannot read '" + p->string() + "'";
  }
  if (!s.passwordVariable.empty() && !std::getenv(s.passwordVariable.c_str()))
    return "the environment variable " + s.passwordVariable + " that holds the password is not set";
  return {};
}

void signInstaller(const fs::path& input, const fs::path& output, const SigningSettings& s) {
  if (std::string problem = signingProblem(s); !problem.empty()) throw SigningError(problem);
  {
    Installer installer(input);
    if (!installer.isInstaller())
      throw SigningError("'" + input.string() + "' is not an installer: " + installer.notInstallerReason());
    if (!installer.peHeaders())
      throw SigningError("'" + input.string() + "' has no PE headers for a signature (its stub is no Windows program)");
  }
  if (!inPath("osslsigncode"))
    throw SigningError("osslsigncode is not installed (Debian's package osslsigncode; scripts/bootstrap installs it)");
  prepareOutputPath(output);

  std::vector<std::string> argv{"osslsigncode", "sign"};
  if (!s.pkcs12.empty()) {
    argv.insert(argv.end(), {"-pkcs12", s.pkcs12.string()});
  } else {
    argv.insert(argv.end(), {"-certs", s.certificate.string(), "-key", s.key.string()});
  }
  std::string password;
  if (!s.passwordVariable.empty()) {
    password = std::getenv(s.passwordVariable.c_str());
    argv.insert(argv.end(), {"-readpass", "-"});
  }
  argv.insert(argv.end(), {"-h", "sha256"});
  if (!s.description.empty()) argv.insert(argv.end(), {"-n", s.description});
  if (!s.timestampUrl.empty()) argv.insert(argv.end(), {"-ts", s.timestampUrl});

  AtomicOutput out(output);
  // osslsigncode writes only new files: it gets the temporary name, freed for it.
  out.releaseForWriter();
  argv.insert(argv.end(), {"-in", input.string(), "-out", out.temporaryPath()});
  ToolRun run = runTool(argv, password);
  if (run.code != 0) throw SigningError("osslsigncode could not sign '" + input.string() + "': " + essentials(run.output));
  Installer signedFile(out.temporaryPath());
  if (!signedFile.isInstaller() || !signedFile.isSigned())
    throw SigningError("osslsigncode wrote a file that does not read as a signed installer");
  out.commit();
}

SignatureCheck checkSignature(const fs::path& installer) {
  SignatureCheck check;
  if (!inPath("osslsigncode")) {
    check.detail = "osslsigncode is not installed";
    return check;
  }
  ToolRun trusted = runTool({"osslsigncode", "verify", "-in", installer.string()});
  if (trusted.code == 127) {
    check.detail = "osslsigncode could not be run";
    return check;
  }
  check.checked = true;
  if (trusted.code == 0) {
    check.matches = check.trusted = true;
    return check;
  }
  const std::string current = field(trusted.output, "Current message digest");
  const std::string computed = field(trusted.output, "Calculated message digest");
  if (!current.empty() && current != computed) {
    check.digestMismatch = true;
    check.detail = "the file's bytes give another digest than the signature holds";
    return check;
  }
  // Trusting the signature's own certificates leaves only the signature's soundness and its
  // digest to check: whatever still fails is damage, not a lack of trust.
  ScratchFolder scratch;
  if (scratch.path.empty() || !inPath("openssl")) {
    check.checked = false;
    check.detail = "the certificate is not trusted; openssl is needed to tell that from a damaged signature";
    return check;
  }
  const std::string pem = (scratch.path / "signature.pem").string(), certs = (scratch.path / "certs.pem").string();
  ToolRun extracted = runTool({"osslsigncode", "extract-signature", "-pem", "-in", installer.string(), "-out", pem});
  ToolRun printed = extracted.code == 0
                        ? runTool({"openssl", "pkcs7", "-in", pem, "-print_certs", "-out", certs})
                        : extracted;
  if (printed.code != 0) {
    check.detail = "the signature cannot be read (its encoding is damaged)";
    return check;
  }
  ToolRun own = runTool({"osslsigncode", "verify", "-in", installer.string(), "-CAfile", certs});
  if (own.code == 0) {
    check.matches = true;
    check.detail = verdict(trusted.output);
    return check;
  }
  check.detail = verdict(own.output);
  return check;
}

}  // namespace mw::packager
