// The uninstaller program: reads its log from its own resources, hands itself over to a copy
// in a folder of its own in the temporary folder so that the installed Uninstall.exe can be
// deleted, asks, removes, reports, and has the running file removed at the next restart.
//
// The whole image must fit in 8088 bytes with its icons, and all code, strings and import
// tables between the headers and the resource section (3 KB): every buffer lives in .bss,
// which costs no file space, and only the calls below are imported.
#include <windows.h>
#include <shlobj.h>

#include "core/dll_search_win32.h"
#include "uninstall/log_reader.h"
#include "uninstall/removal_plan.h"

namespace {

constexpr uint32_t kPathSize = MAX_PATH;
constexpr uint32_t kTextSize = 1024;

char ownPath[kPathSize];     // this module's file
char tempFolder[kPathSize];  // the temporary folder with its final backslash, or empty
char pathBuffer[kPathSize];  // the copy's folder and path; a Programs folder
char caption[kPathSize];     // the question's caption; then a short path for wininit.ini
char text[kTextSize];        // message texts; the copy's command line; the uninstall key's path
char section[1536];          // wininit.ini's [Rename] section, with the line added

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
  // Systems before 2000 know no reparse points and never set the attribute.
  bool isLink(const char* path) { return GetFileAttributesA(path) & FILE_ATTRIBUTE_REPARSE_POINT; }
  bool createFolder(const char* path) { return CreateDirectoryA(path, nullptr); }
};

// Starts a copy of this program from a new folder in the temporary folder. The copy is held
// open, sharing for reading only, until its process exists, so nothing can replace it between
// the copy and the start. True when the copy runs.
bool handOver() {
  Win32Ops ops;
  if (!mw::makeCopyFolder(pathBuffer, kPathSize, tempFolder, GetTickCount(), ops)) return false;
  const uint32_t folderLength = uint32_t(mw::textLength(pathBuffer));
  mw::joinText(pathBuffer + folderLength, kPathSize - folderLength, "\\", mw::kUninstallerFileName);
  if (CopyFileA(ownPath, pathBuffer, TRUE)) {
    HANDLE copy = CreateFileA(pathBuffer, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (copy != INVALID_HANDLE_VALUE) {
      mw::formatEach(text, kTextSize, "\"%s\" U", pathBuffer);
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION process;
      // CreateProcessA copies its command line before use (only the wide form writes to it).
      if (CreateProcessA(pathBuffer, text, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                         nullptr, &startup, &process))
        return true;
      CloseHandle(copy);
    }
    DeleteFileA(pathBuffer);
  }
  pathBuffer[folderLength] = 0;
  RemoveDirectoryA(pathBuffer);
  return false;
}

// Has `file` deleted at the next restart, and then its folder when `withFolder` (the folder goes
// only if it is empty by then). Systems outside the NT family do not implement MoveFileExA;
// they read wininit.ini, whose [Rename] lines delete files only, so the folder stays there.
void removeAtRestart(char* file, bool withFolder) {
  if (int(GetVersion()) >= 0) {
    MoveFileExA(file, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (withFolder) {
      char* end = file;
      for (char* p = file; *p; ++p)
        if (*p == '\\') end = p;
      *end = 0;
      MoveFileExA(file, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return;
  }
  // The 16-bit code that reads wininit.ini knows short names only. A profile named without a
  // path is the one in the Windows folder.
  const DWORD shortLength = GetShortPathNameA(file, caption, kPathSize);
  if (!shortLength || shortLength >= kPathSize) return;
  const DWORD read = GetPrivateProfileSectionA("Rename", section, sizeof section, "wininit.ini");
  if (mw::appendRenameLine(section, read, sizeof section, caption))
    WritePrivateProfileSectionA("Rename", section, "wininit.ini");
}

}  // namespace

extern "C" void __stdcall entryPoint() {
  using namespace mw;
  // Before anything can make the system load a library on our behalf.
  hardenDllSearch();

  // Without a complete log there is nothing this program may safely do. (A loaded resource's
  // handle is its address in every 32-bit Windows, so LockResource is not imported.)
  UninstallLog log;
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10));
  if (!resource ||
      !readUninstallLog(static_cast<uint8_t*>(LoadResource(nullptr, resource)),
                        SizeofResource(nullptr, resource), &log))
    ExitProcess(0);

  // A path that filled the buffer may have been cut: then it names no file to copy or delete,
  // and is left empty (every use of an empty path fails).
  if (GetModuleFileNameA(nullptr, ownPath, kPathSize) >= kPathSize) *ownPath = 0;

  if (!finishTempFolder(tempFolder, GetEnvironmentVariableA("TMP", tempFolder, kPathSize),
                        kPathSize))
    finishTempFolder(tempFolder, GetEnvironmentVariableA("TEMP", tempFolder, kPathSize),
                     kPathSize);

  // Hand over to a copy in the temporary folder; this process ends as soon as it runs, so the
  // copy can delete the installed Uninstall.exe and the installation folder.
  const bool copyCommand = isCopyCommandLine(GetCommandLineA());
  if (*ownPath && *tempFolder && !copyCommand && handOver()) ExitProcess(0);
  // A copy this program made is removed with its folder whatever the answer; the installed
  // file only once the user has chosen to uninstall.
  const bool ownCopy = copyCommand && isInCopyFolder(ownPath, tempFolder);

  formatEach(caption, kPathSize, "Uninstall %s", log.productName);
  formatEach(text, kTextSize,
             "This program will remove %s and all of its components from your computer.\r\n"
             "Do you wish to proceed?",
             log.productName);
  const bool yes = MessageBoxA(nullptr, text, caption, MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
  if (yes || ownCopy) removeAtRestart(ownPath, ownCopy);  // an empty path names nothing
  if (yes) {
    Win32Ops ops;
    removeInstallation(log, tempFolder, text, kTextSize, ops);
    formatEach(text, kTextSize, "%s has been successfully removed from your computer.",
               log.productName);
    MessageBoxA(nullptr, text, "Uninstall Complete", MB_OK | MB_ICONINFORMATION);
  }
  ExitProcess(0);
}
