#include "packager/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace mw::packager {
namespace {

// The temporary file an interrupt must remove. One build writes one installer at a time; the
// handler only reads this fixed buffer and calls unlink, both safe in a signal handler.
char pendingPath[4096];
volatile sig_atomic_t havePending = 0;

extern "C" void removePendingAndRaise(int sig) {
  if (havePending) unlink(pendingPath);
  signal(sig, SIG_DFL);
  raise(sig);
}

void installHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction action;
      std::memset(&action, 0, sizeof action);
      action.sa_handler = removePendingAndRaise;
      sigemptyset(&action.sa_mask);
      sigaction(sig, &action, nullptr);
    }
  });
}

std::runtime_error failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

AtomicOutput::AtomicOutput(const std::filesystem::path& destination) : destination_(destination) {
  std::filesystem::path dir = destination.has_parent_path() ? destination.parent_path() : ".";
  std::string name = ".";
  name.append(destination.filename().string()).append(".partial-XXXXXX");
  std::string pattern = (dir / name).string();
  if (pattern.size() >= sizeof pendingPath) throw std::runtime_error("output path too long");
  installHandlers();
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) throw failure("cannot create a file in", dir.string());
  temporary_ = pattern;
  std::memcpy(pendingPath, temporary_.c_str(), temporary_.size() + 1);
  havePending = 1;
  // mkstemp makes the file private; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

AtomicOutput::~AtomicOutput() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
  havePending = 0;
}

void AtomicOutput::write(const void* data, size_t size) {
  writeAt(size_, data, size);
}

void AtomicOutput::writeAt(uint64_t offset, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  uint64_t at = offset;
  while (size > 0) {
    ssize_t n = pwrite(fd_, p, size, off_t(at));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw failure("cannot write", destination_.string());
    }
    p += n;
    at += uint64_t(n);
    size -= size_t(n);
  }
  if (at > size_) size_ = at;
}

void AtomicOutput::commit() {
  if (fsync(fd_) != 0 || close(fd_) != 0) {
    fd_ = -1;
    throw failure("cannot write", destination_.string());
  }
  fd_ = -1;
  if (rename(temporary_.c_str(), destination_.c_str()) != 0) throw failure("cannot create", destination_.string());
  committed_ = true;
  havePending = 0;
}

}  // namespace mw::packager
