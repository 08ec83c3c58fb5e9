// The uninstaller program: reads its log from its own resources, hands itself over to a copy
// in the temporary folder so that the installed Uninstall.exe can be deleted, schedules that
// copy's deletion at the next restart, asks, removes, reports.
//
// The whole image must fit in 8088 bytes with its icons, and all code, strings and import
// tables between the headers and the resource section (3 KB): every buffer lives in .bss,
// which costs no file space, and only the calls below are imported.
#include <windows.h>
#include <shlobj.h>

#include "uninstall/log_reader.h"
#include "uninstall/removal_plan.h"

namespace {

constexpr uint32_t kPathSize = MAX_PATH;
constexpr uint32_t kTextSize = 1024;

char ownPath[kPathSize];     // this module's file
char tempFolder[kPathSize];  // the temporary folder with its final backslash, or empty
char pathBuffer[kPathSize];  // the copy's path; the wininit.ini path; a Programs folder
char caption[kPathSize];
char text[kTextSize];        // message texts; the uninstall key's path

// CreateProcessA copies its command line before use (only the wide form may write to it).
const char kCopyCommandLine[] = "U";

struct Win32Ops {
  HKEY key;

  bool setFolder(const char* path) { return SetCurrentDirectoryA(path); }
  void deleteFile(const char* path) { DeleteFileA(path); }
  bool removeFolder(const char* path) { return RemoveDirectoryA(path); }
  bool setProgramsFolder(bool common) {
    LPITEMIDLIST list;
    return SHGetSpecialFolderLocation(nullptr, common ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS,
                                      &list) == S_OK &&
           SHGetPathFromIDListA(list, pathBuffer) && SetCurrentDirectoryA(pathBuffer);
  }
  bool openKey(uint32_t root, const char* subkey) {
    return RegOpenKeyExA(reinterpret_cast<HKEY>(uintptr_t(root)), subkey, 0, KEY_ALL_ACCESS,
                         &key) == ERROR_SUCCESS;
  }
  void deleteValue(const char* name) { RegDeleteValueA(key, name); }
  void closeKey() { RegCloseKey(key); }
  void deleteKey(uint32_t root, const char* subkey) {
    RegDeleteKeyA(reinterpret_cast<HKEY>(uintptr_t(root)), subkey);
  }
};

}  // namespace

extern "C" void __stdcall entryPoint() {
  using namespace mw;
  // Without a complete log there is nothing this program may safely do. (A loaded resource's
  // handle is its address in every 32-bit Windows, so LockResource is not imported.)
  UninstallLog log;
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));
  if (!resource ||
      !readUninstallLog(static_cast<uint8_t*>(LoadResource(nullptr, resource)),
                        SizeofResource(nullptr, resource), &log))
    ExitProcess(0);

  // A path that filled the buffer may have been cut: then it names no file to copy or delete.
  const DWORD ownLength = GetModuleFileNameA(nullptr, ownPath, kPathSize);
  const bool haveOwnPath = ownLength && ownLength < kPathSize;

  if (!finishTempFolder(tempFolder, GetEnvironmentVariableA("TMP", tempFolder, kPathSize),
                        kPathSize))
    finishTempFolder(tempFolder, GetEnvironmentVariableA("TEMP", tempFolder, kPathSize),
                     kPathSize);

  // Hand over to a copy in the temporary folder; this process ends as soon as it runs, so the
  // copy can delete the installed Uninstall.exe and the installation folder.
  if (haveOwnPath && *tempFolder && !isCopyCommandLine(GetCommandLineA()) &&
      joinText(pathBuffer, kPathSize, tempFolder, kUninstallerFileName) &&
      CopyFileA(ownPath, pathBuffer, FALSE)) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    if (CreateProcessA(pathBuffer, const_cast<char*>(kCopyCommandLine), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                       nullptr, nullptr, &startup, &process))
      ExitProcess(0);
  }

  // The running file goes at the next restart, whatever the answer below. Systems outside the
  // NT family do not implement MoveFileExA (it fails there); they read wininit.ini instead.
  if (haveOwnPath && !MoveFileExA(ownPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    const UINT length = GetWindowsDirectoryA(pathBuffer, kPathSize);
    if (length && length < kPathSize && joinText(text, kTextSize, pathBuffer, "\\wininit.ini"))
      WritePrivateProfileStringA("Rename", "NUL", ownPath, text);
  }

  formatText(caption, kPathSize, "Uninstall %s", log.productName);
  formatText(text, kTextSize,
             "This program will remove %s and all of its components from your computer.\r\n"
             "Do you wish to proceed?",
             log.productName);
  if (MessageBoxA(nullptr, text, caption, MB_YESNO | MB_ICONEXCLAMATION) == IDYES) {
    Win32Ops ops;
    removeInstallation(log, tempFolder, text, kTextSize, ops);
    formatText(text, kTextSize, "%s has been successfully removed from your computer.",
               log.productName);
    MessageBoxA(nullptr, text, "Uninstall Complete", MB_OK | MB_ICONINFORMATION);
  }
  ExitProcess(0);
}
