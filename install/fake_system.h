// The seam on Linux, for tests: the worker runs natively against real files.
//
//   files      real files under a root folder; drive letter X: is the folder root/X, so
//              "C:\Apps\Tool" is root/C/Apps/Tool. '\' and '/' both separate; "." and ".."
//              are resolved as the system resolves them. Names are case-sensitive here.
//   installer  a byte vector the test fills, or a file (readInstaller reads it).
//   registry   in memory; keys compare without regard to case, as the system's do.
//   shortcuts  a small text file at the shortcut's path: the target and the working folder.
//   user       answers are taken from a queue; every question, label and bar position is kept.
//   faults     a disk that fills after a set number of bytes, a failing allocation, denied keys,
//              a shell folder that cannot be resolved, a quit at the n-th pause point, a file
//              that cannot be replaced, shortcuts that cannot be saved.
//
// Host-only code: full C++ and the standard library.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "install/system.h"

namespace mw {

class HostPlatform {
 public:
  // `root` must exist; drive C: (root/C) and the shell folders below it are created.
  explicit HostPlatform(std::filesystem::path root);
  ~HostPlatform();

  // ---- What a test sets up ----
  std::vector<uint8_t> installer;
  std::string installerFile;                 // when set, read instead of `installer` (large payloads)
  std::deque<int32_t> answers;               // taken in order by ask(); empty: AnswerCancel
  std::vector<uint8_t> manifestBytes;        // empty: no manifest resource
  LocalTime now{2001, 9, 9, 1, 46, 40};
  bool failAllocation = false;
  std::optional<uint64_t> diskSpace;         // bytes all files together may still take
  int quitAtPause = -1;                      // pausePoint returns false from this call on (1-based)
  std::set<std::string> deniedKeys;          // "root\subkey" (hex root, any case) never opened
  std::map<int32_t, std::string> shellFolders;  // ShellFolder -> Windows path; "" unresolvable
  bool failReplace = false;                  // replaceFile fails (a file in use, access denied)
  std::set<std::string> failLinks;           // shortcut paths (Windows, any case) never saved
  std::set<std::string> failValues;          // value names (any case; "" the default) never set
  bool threads = true;                       // false: startThread starts none (the system refused)
  int failSignalAfter = -1;                  // makeSignal fails once this many were made (-1: never)

  // ---- What a test inspects ----
  struct Question {
    std::string caption;
    std::string text;
    uint32_t style;
    bool ownedByWizard;
  };
  std::vector<Question> questions;
  // When set, answers every question instead of the queue (and may change the world first,
  // e.g. remove an obstacle before answering Retry).
  std::function<int32_t(const Question&)> responder;
  std::vector<std::string> labels;
  std::vector<uint32_t> progress;
  int pauseCalls = 0;
  int installerReads = 0;  // readInstaller calls
  int openFiles = 0;                         // files created and not yet closed
  int liveBlocks = 0;                        // allocations not yet released
  int threadsStarted = 0;
  int liveThreads = 0;                       // threads started and not yet joined
  int liveSignals = 0;                       // signals made and not yet dropped

  struct Value {
    uint32_t type;
    std::vector<uint8_t> data;
  };
  struct Key {
    std::string name;                        // as first written
    std::map<std::string, Value> values;     // by lower-case name; "" is the default value
  };
  // Creates a key as if it had existed before the installation.
  void addKey(uint32_t root, const std::string& subkey);
  const Key* key(uint32_t root, const std::string& subkey) const;
  const Value* value(uint32_t root, const std::string& subkey, const std::string& name) const;
  size_t keyCount() const { return registry_.size(); }

  // The host path of a Windows path (relative paths against the current folder).
  std::filesystem::path hostPath(const std::string& windowsPath) const;
  std::string currentWindowsFolder() const { return current_; }

  // ---- Platform ----
  void* allocateZeroed(uint32_t size);
  void release(void* block);
  uint32_t readInstaller(uint32_t offset, void* buffer, uint32_t length);
  FileHandle createFile(const char* path);
  uint32_t writeFile(FileHandle file, const void* data, uint32_t length);
  bool closeFile(FileHandle file);
  uint32_t readFileAt(const char* path, uint32_t offset, void* buffer, uint32_t length);
  uint8_t* mapFile(FileHandle file, uint32_t length);
  bool unmapFile(FileHandle file, uint8_t* view, uint32_t length);
  bool replaceFile(const char* from, const char* to);
  bool removeFile(const char* path);
  bool folderExists(const char* path);
  bool makeFolder(const char* path);
  bool setCurrentFolder(const char* path);
  uint32_t currentFolder(char* buffer, uint32_t size);
  uint32_t shellFolder(ShellFolder folder, char* buffer, uint32_t size);
  bool makeShellLink(const char* targetPath, const char* shortcutPath);
  RegKey openOrCreateKey(uint32_t root, const char* subkey, bool& created);
  bool setValue(RegKey key, const char* name, uint32_t type, const void* data,
                uint32_t size);
  void closeKey(RegKey key);
  int32_t ask(const char* caption, const char* text, uint32_t style, bool ownedByWizard);
  void showFileLabel(const char* text);
  void setProgress(uint32_t percent);
  bool pausePoint();
  ThreadHandle startThread(ThreadEntry run, void* arg);
  void joinThread(ThreadHandle thread);
  SignalHandle makeSignal(bool raised);
  void raiseSignal(SignalHandle signal);
  void waitSignal(SignalHandle signal);
  void dropSignal(SignalHandle signal);
  const uint8_t* manifest(uint32_t& length);
  void localTime(LocalTime& now);

 private:
  int installerFd_ = -1;  // installerFile, opened on first read
  // A Windows path made absolute and normalised: "C:\a\b" (a drive's root is "C:\").
  // Empty when it cannot be resolved (no drive, a server path).
  std::string absolute(const std::string& windowsPath) const;
  static std::string keyId(uint32_t root, const std::string& subkey);

  std::filesystem::path root_;
  std::string current_ = "C:\\";
  std::map<std::string, Key> registry_;
};

}  // namespace mw

static_assert(mw::Platform<mw::HostPlatform>, "the platform implementation misses a call");
