// The ANSI Win32 side of the worker's seam (install/system.h), as the engine uses it; part of mw_install.
//
// The object is made by the start-up once the installer file is open and lives until the process
// ends (the start-up's frame never returns). In wizard mode the start-up hands it the wizard's
// worker-side calls, so this library does not depend on the wizard; without them (silent mode)
// the label, progress and pause calls do nothing and questions have no owner window.
#pragma once

#include <windows.h>

#include "core/win32.h"
#include "install/system.h"

namespace mw {

// The worker-side calls of a running wizard (wizard/wizard.h).
struct WizardHooks {
  void (*showFile)(const char* displayPath);
  void (*setProgress)(uint32_t position);
  bool (*pausePoint)();
  void* (*window)();
};

class Win32Platform {
 public:
  explicit Win32Platform(HANDLE installerFile) : installer_(installerFile) {}

  // Every hook must be set: the worker calls them only in wizard mode, and then all of them.
  void attachWizard(const WizardHooks& hooks) { wizard_ = hooks; }

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
  bool setValue(RegKey key, const char* name, uint32_t type, const void* data, uint32_t size);
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
  // Where the installer file's position stands after the last readInstaller (the start-up's
  // reads before this object existed moved it too, so it starts unknown).
  static constexpr uint32_t kPositionUnknown = 0xFFFFFFFFu;
  HANDLE installer_;
  uint32_t installerAt_ = kPositionUnknown;
  HANDLE mapping_ = nullptr;  // the one file mapping open at a time (the header patch)
  WizardHooks wizard_{};      // all null until a wizard is attached (silent mode)
};

}  // namespace mw

static_assert(mw::Platform<mw::Win32Platform>, "the platform implementation misses a call");
