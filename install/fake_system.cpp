#include "install/fake_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace mw {

namespace fs = std::filesystem;

namespace {

struct HostFile {
  int fd;
};

// An auto-reset signal as the system's events behave: raised until one wait takes it.
struct HostSignal {
  std::mutex lock;
  std::condition_variable changed;
  bool raised;
};

std::string lowerCase(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool isSep(char c) { return c == '\\' || c == '/'; }

uint32_t copyOut(const std::string& text, char* buffer, uint32_t size) {
  if (text.empty() || text.size() + 1 > size) return 0;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return uint32_t(text.size());
}

}  // namespace

HostPlatform::HostPlatform(fs::path root) : root_(std::move(root)) {
  shellFolders = {
      {FolderPrograms, "C:\\Users\\tester\\Start Menu\\Programs"},
      {FolderStartup, "C:\\Users\\tester\\Start Menu\\Programs\\Startup"},
      {FolderStartMenu, "C:\\Users\\tester\\Start Menu"},
      {FolderDesktop, "C:\\Users\\tester\\Desktop"},
      {FolderAppData, "C:\\Users\\tester\\AppData"},
      {FolderPersonal, "C:\\Users\\tester\\Documents"},
      {FolderCommonPrograms, "C:\\ProgramData\\Start Menu\\Programs"},
      {FolderCommonStartMenu, "C:\\ProgramData\\Start Menu"},
      {FolderCommonStartup, "C:\\ProgramData\\Start Menu\\Programs\\Startup"},
      {FolderCommonDesktop, "C:\\Users\\Public\\Desktop"},
  };
  fs::create_directories(root_ / "C");
  for (const auto& [id, path] : shellFolders) fs::create_directories(hostPath(path));
}

HostPlatform::~HostPlatform() {
  if (installerFd_ >= 0) ::close(installerFd_);
}

std::string HostPlatform::absolute(const std::string& windowsPath) const {
  std::string path = windowsPath;
  if (path.empty()) return {};
  if (isSep(path[0]) && path.size() > 1 && isSep(path[1])) return {};  // \\server\share
  std::string drive;
  std::string rest;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) {
    drive = std::string(1, char(std::toupper(static_cast<unsigned char>(path[0])))) + ":";
    rest = path.substr(2);
    // "C:name" is relative to C:'s current folder; the only current folder kept is current_.
    if (rest.empty() || !isSep(rest[0])) {
      if (current_.compare(0, 2, drive) != 0) return {};
      rest = current_.substr(2) + "\\" + rest;
    }
  } else if (isSep(path[0])) {
    drive = current_.substr(0, 2);
    rest = path;
  } else {
    drive = current_.substr(0, 2);
    rest = current_.substr(2) + "\\" + path;
  }
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || isSep(rest[i])) {
      if (part == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += rest[i];
    }
  }
  std::string out = drive;
  if (parts.empty()) return out + "\\";
  for (const auto& p : parts) out += "\\" + p;
  return out;
}

fs::path HostPlatform::hostPath(const std::string& windowsPath) const {
  const std::string full = absolute(windowsPath);
  if (full.empty()) return {};
  fs::path out = root_ / full.substr(0, 1);
  std::string part;
  for (size_t i = 3; i <= full.size(); ++i) {
    if (i == full.size() || full[i] == '\\') {
      if (!part.empty()) out /= part;
      part.clear();
    } else {
      part += full[i];
    }
  }
  return out;
}

std::string HostPlatform::keyId(uint32_t root, const std::string& subkey) {
  char head[16];
  std::snprintf(head, sizeof head, "%08x\\", root);
  std::string sub;
  for (char c : subkey) {
    if (c == '\\' && (sub.empty() || sub.back() == '\\')) continue;
    sub += c;
  }
  while (!sub.empty() && sub.back() == '\\') sub.pop_back();
  return head + lowerCase(sub);
}

void HostPlatform::addKey(uint32_t root, const std::string& subkey) {
  registry_[keyId(root, subkey)].name = subkey;
}

const HostPlatform::Key* HostPlatform::key(uint32_t root, const std::string& subkey) const {
  auto it = registry_.find(keyId(root, subkey));
  return it == registry_.end() ? nullptr : &it->second;
}

const HostPlatform::Value* HostPlatform::value(uint32_t root, const std::string& subkey,
                                               const std::string& name) const {
  const Key* k = key(root, subkey);
  if (!k) return nullptr;
  auto it = k->values.find(lowerCase(name));
  return it == k->values.end() ? nullptr : &it->second;
}

void* HostPlatform::allocateZeroed(uint32_t size) {
  if (failAllocation) return nullptr;
  void* p = std::calloc(1, size);
  if (p) ++liveBlocks;
  return p;
}

void HostPlatform::release(void* block) {
  if (!block) return;
  --liveBlocks;
  std::free(block);
}

uint32_t HostPlatform::readInstaller(uint32_t offset, void* buffer, uint32_t length) {
  ++installerReads;
  if (!installerFile.empty()) {
    if (installerFd_ < 0) installerFd_ = ::open(installerFile.c_str(), O_RDONLY);
    uint32_t done = 0;
    while (installerFd_ >= 0 && done < length) {
      const ssize_t n = ::pread(installerFd_, static_cast<uint8_t*>(buffer) + done, length - done,
                                off_t(offset) + done);
      if (n <= 0) break;
      done += uint32_t(n);
    }
    return done;
  }
  if (offset >= installer.size()) return 0;
  const uint32_t n = uint32_t(std::min<uint64_t>(length, installer.size() - offset));
  std::memcpy(buffer, installer.data() + offset, n);
  return n;
}

FileHandle HostPlatform::createFile(const char* path) {
  const fs::path host = hostPath(path);
  if (host.empty()) return nullptr;
  const int fd = ::open(host.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return nullptr;
  ++openFiles;
  return new HostFile{fd};
}

uint32_t HostPlatform::writeFile(FileHandle file, const void* data, uint32_t length) {
  auto* f = static_cast<HostFile*>(file);
  uint32_t allowed = length;
  if (diskSpace && *diskSpace < allowed) allowed = uint32_t(*diskSpace);
  uint32_t done = 0;
  while (done < allowed) {
    const ssize_t n = ::write(f->fd, static_cast<const uint8_t*>(data) + done, allowed - done);
    if (n <= 0) break;
    done += uint32_t(n);
  }
  if (diskSpace) *diskSpace -= done;
  return done;
}

bool HostPlatform::closeFile(FileHandle file) {
  auto* f = static_cast<HostFile*>(file);
  const bool ok = ::close(f->fd) == 0;
  delete f;
  --openFiles;
  return ok;
}

uint32_t HostPlatform::readFileAt(const char* path, uint32_t offset, void* buffer, uint32_t length) {
  const fs::path host = hostPath(path);
  if (host.empty()) return 0;
  const int fd = ::open(host.c_str(), O_RDONLY);
  if (fd < 0) return 0;
  const ssize_t n = ::pread(fd, buffer, length, offset);
  ::close(fd);
  return n > 0 ? uint32_t(n) : 0;
}

uint8_t* HostPlatform::mapFile(FileHandle file, uint32_t length) {
  auto* f = static_cast<HostFile*>(file);
  struct stat st {};
  if (::fstat(f->fd, &st) != 0 || uint64_t(st.st_size) < length) return nullptr;
  auto* view = static_cast<uint8_t*>(std::malloc(length ? length : 1));
  if (::pread(f->fd, view, length, 0) != ssize_t(length)) {
    std::free(view);
    return nullptr;
  }
  return view;
}

bool HostPlatform::unmapFile(FileHandle file, uint8_t* view, uint32_t length) {
  auto* f = static_cast<HostFile*>(file);
  const bool ok = ::pwrite(f->fd, view, length, 0) == ssize_t(length);
  std::free(view);
  return ok;
}

bool HostPlatform::replaceFile(const char* from, const char* to) {
  const fs::path source = hostPath(from), target = hostPath(to);
  std::error_code ec;
  if (failReplace || source.empty() || target.empty() || !fs::is_regular_file(source, ec))
    return false;
  fs::rename(source, target, ec);
  return !ec;
}

bool HostPlatform::removeFile(const char* path) {
  const fs::path host = hostPath(path);
  std::error_code ec;
  return !host.empty() && fs::is_regular_file(host, ec) && fs::remove(host, ec);
}

bool HostPlatform::folderExists(const char* path) {
  const fs::path host = hostPath(path);
  std::error_code ec;
  return !host.empty() && fs::is_directory(host, ec);
}

bool HostPlatform::makeFolder(const char* path) {
  const fs::path host = hostPath(path);
  if (host.empty()) return false;
  return ::mkdir(host.c_str(), 0755) == 0;
}

bool HostPlatform::setCurrentFolder(const char* path) {
  const std::string full = absolute(path);
  if (full.empty()) return false;
  std::error_code ec;
  if (!fs::is_directory(hostPath(full), ec)) return false;
  current_ = full;
  return true;
}

uint32_t HostPlatform::currentFolder(char* buffer, uint32_t size) {
  return copyOut(current_, buffer, size);
}

uint32_t HostPlatform::shellFolder(ShellFolder folder, char* buffer, uint32_t size) {
  auto it = shellFolders.find(folder);
  if (it == shellFolders.end()) return 0;
  return copyOut(it->second, buffer, size);
}

bool HostPlatform::makeShellLink(const char* targetPath, const char* shortcutPath) {
  const fs::path host = hostPath(shortcutPath);
  std::error_code ec;
  if (host.empty() || !fs::is_directory(host.parent_path(), ec)) return false;
  for (const auto& denied : failLinks)
    if (lowerCase(denied) == lowerCase(shortcutPath)) return false;
  std::string target = targetPath;
  const size_t cut = target.find_last_of('\\');
  std::ofstream out(host, std::ios::binary);
  out << target << "\n" << (cut == std::string::npos ? std::string() : target.substr(0, cut)) << "\n";
  return bool(out);
}

RegKey HostPlatform::openOrCreateKey(uint32_t root, const char* subkey, bool& created) {
  const std::string id = keyId(root, subkey);
  for (const auto& denied : deniedKeys)
    if (lowerCase(denied) == id) return nullptr;
  auto it = registry_.find(id);
  created = it == registry_.end();
  if (created) it = registry_.emplace(id, Key{subkey, {}}).first;
  return &it->second;
}

bool HostPlatform::setValue(RegKey key, const char* name, uint32_t type, const void* data,
                            uint32_t size) {
  auto* k = static_cast<Key*>(key);
  for (const auto& denied : failValues)
    if (lowerCase(denied) == lowerCase(name ? name : "")) return false;
  const auto* bytes = static_cast<const uint8_t*>(data);
  k->values[lowerCase(name ? name : "")] = Value{type, std::vector<uint8_t>(bytes, bytes + size)};
  return true;
}

void HostPlatform::closeKey(RegKey) {}

int32_t HostPlatform::ask(const char* caption, const char* text, uint32_t style, bool ownedByWizard) {
  questions.push_back({caption, text, style, ownedByWizard});
  if (responder) return responder(questions.back());
  if (answers.empty()) return AnswerCancel;
  const int32_t answer = answers.front();
  answers.pop_front();
  return answer;
}

void HostPlatform::showFileLabel(const char* text) { labels.emplace_back(text); }

void HostPlatform::setProgress(uint32_t percent) { progress.push_back(percent); }

bool HostPlatform::pausePoint() {
  ++pauseCalls;
  return quitAtPause < 0 || pauseCalls < quitAtPause;
}

ThreadHandle HostPlatform::startThread(ThreadEntry run, void* arg) {
  if (!threads) return nullptr;
  ++threadsStarted;
  ++liveThreads;
  return new std::thread(run, arg);
}

void HostPlatform::joinThread(ThreadHandle thread) {
  auto* t = static_cast<std::thread*>(thread);
  t->join();
  delete t;
  --liveThreads;
}

SignalHandle HostPlatform::makeSignal(bool raised) {
  if (failSignalAfter == 0) return nullptr;
  if (failSignalAfter > 0) --failSignalAfter;
  ++liveSignals;
  return new HostSignal{{}, {}, raised};
}

void HostPlatform::raiseSignal(SignalHandle signal) {
  auto* s = static_cast<HostSignal*>(signal);
  {
    std::lock_guard<std::mutex> hold(s->lock);
    s->raised = true;
  }
  s->changed.notify_one();
}

void HostPlatform::waitSignal(SignalHandle signal) {
  auto* s = static_cast<HostSignal*>(signal);
  std::unique_lock<std::mutex> hold(s->lock);
  s->changed.wait(hold, [s] { return s->raised; });
  s->raised = false;
}

void HostPlatform::dropSignal(SignalHandle signal) {
  delete static_cast<HostSignal*>(signal);
  --liveSignals;
}

const uint8_t* HostPlatform::manifest(uint32_t& length) {
  length = uint32_t(manifestBytes.size());
  return manifestBytes.empty() ? nullptr : manifestBytes.data();
}

void HostPlatform::localTime(LocalTime& out) { out = now; }

}  // namespace mw
