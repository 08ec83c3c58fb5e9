#include "packager/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace mw::packager {
namespace {

// What an interrupt must clean up: the temporary files of the moment (a signed build has two,
// its unsigned installer and the signer's output) and the tool running on one of them. The
// handler only reads these fixed buffers and calls kill, waitpid and unlink, all safe in a
// signal handler.
constexpr int kPendingSlots = 4;
char pendingPath[kPendingSlots][4096];
volatile sig_atomic_t pendingUsed[kPendingSlots];
volatile pid_t pendingChild = 0;

// Whatever handled the signals before (`try` ends its wine session on them) still runs after
// the temporary files are gone; without one the signal ends the program as usual.
struct sigaction previous[NSIG];

extern "C" void removePendingAndRaise(int sig) {
  // The tool first, so that it cannot write a file after it was removed.
  if (const pid_t child = pendingChild; child > 0) {
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    pendingChild = 0;
  }
  for (int i = 0; i < kPendingSlots; ++i) {
    if (pendingUsed[i]) unlink(pendingPath[i]);
    pendingUsed[i] = 0;
  }
  if (previous[sig].sa_handler != SIG_DFL && previous[sig].sa_handler != SIG_IGN) {
    previous[sig].sa_handler(sig);
    return;
  }
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
      sigaction(sig, &action, &previous[sig]);
    }
  });
}

int claimSlot(const std::string& path) {
  if (path.size() >= sizeof pendingPath[0]) throw std::runtime_error("output path too long");
  installHandlers();
  for (int i = 0; i < kPendingSlots; ++i) {
    if (pendingUsed[i]) continue;
    std::memcpy(pendingPath[i], path.c_str(), path.size() + 1);
    pendingUsed[i] = 1;
    return i;
  }
  throw std::runtime_error("too many temporary files at once");
}

std::runtime_error failure(const std::string& what, const std::string& path) {
  return std::runtime_error(what + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

void prepareOutputPath(const std::filesystem::path& destination) {
  namespace fs = std::filesystem;
  const std::string shown = destination.string();
  if (shown == "-") throw std::runtime_error("cannot write an installer to standard output; give a file name with -o");
  if (shown.empty() || !destination.has_filename())
    throw std::runtime_error("'" + shown + "' names a folder, not a file");
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(destination, ec);
  if (st.type() == fs::file_type::directory) throw std::runtime_error("'" + shown + "' is a folder, not a file");
  if (st.type() == fs::file_type::symlink)
    throw std::runtime_error("'" + shown + "' is a symbolic link; it would be replaced by a file, so it is left alone");
  if (fs::exists(st) && st.type() != fs::file_type::regular)
    throw std::runtime_error("'" + shown + "' is not a regular file (a device, a pipe or a socket); refusing to replace it");
  const fs::path folder = destination.parent_path();
  if (folder.empty()) return;
  if (fs::exists(folder, ec) && !fs::is_directory(folder, ec))
    throw std::runtime_error("'" + folder.string() + "' is not a folder");
  fs::create_directories(folder, ec);
  if (ec) throw std::runtime_error("cannot create the folder '" + folder.string() + "': " + ec.message());
}

AtomicOutput::AtomicOutput(const std::filesystem::path& destination) : destination_(destination) {
  std::filesystem::path dir = destination.has_parent_path() ? destination.parent_path() : ".";
  std::string name = ".";
  name.append(destination.filename().string()).append(".partial-XXXXXX");
  std::string pattern = (dir / name).string();
  onInterrupt_.emplace(pattern);
  fd_ = mkstemp(pattern.data());
  if (fd_ < 0) throw failure("cannot create a file in", dir.string());
  onInterrupt_->named(pattern);
  temporary_ = pattern;
  // mkstemp makes the file private; give it the usual permissions.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_, 0666 & ~mask);
}

AtomicOutput::~AtomicOutput() {
  if (fd_ >= 0) close(fd_);
  if (!committed_ && !temporary_.empty()) unlink(temporary_.c_str());
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

bool AtomicOutput::readAt(uint64_t offset, uint8_t* data, size_t size) const {
  while (size > 0) {
    ssize_t n = pread(fd_, data, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    offset += uint64_t(n);
    size -= size_t(n);
  }
  return true;
}

void AtomicOutput::releaseForWriter() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  unlink(temporary_.c_str());
}

void AtomicOutput::commit() {
  if (fd_ >= 0 && (fsync(fd_) != 0 || close(fd_) != 0)) {
    fd_ = -1;
    throw failure("cannot write", destination_.string());
  }
  fd_ = -1;
  if (rename(temporary_.c_str(), destination_.c_str()) != 0) throw failure("cannot create", destination_.string());
  committed_ = true;
  onInterrupt_.reset();
}

RemovedOnInterrupt::RemovedOnInterrupt(const std::string& path) : slot_(claimSlot(path)) {}

RemovedOnInterrupt::~RemovedOnInterrupt() { pendingUsed[slot_] = 0; }

void RemovedOnInterrupt::named(const std::string& path) {
  std::memcpy(pendingPath[slot_], path.c_str(), std::min(path.size() + 1, sizeof pendingPath[0]));
}

ChildEndedOnInterrupt::ChildEndedOnInterrupt(pid_t child) {
  installHandlers();
  pendingChild = child;
}

ChildEndedOnInterrupt::~ChildEndedOnInterrupt() { pendingChild = 0; }

}  // namespace mw::packager
