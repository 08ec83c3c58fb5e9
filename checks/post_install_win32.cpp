// The restart request and the opening of the run-after target on Windows.
#include <windows.h>
#include <shellapi.h>

#include "checks/checks_win32.h"

namespace mw {
namespace {

// A restart needs the shutdown privilege enabled in the process's own token on NT. Failures are
// not reported: the restart request then fails and the installer ends anyway.
void enableShutdownPrivilege() {
  HANDLE token = nullptr;
  // The current process's pseudo-handle, the constant GetCurrentProcess returns.
  HANDLE self = reinterpret_cast<HANDLE>(-1);
  if (!OpenProcessToken(self, TOKEN_ADJUST_PRIVILEGES, &token)) return;
  TOKEN_PRIVILEGES privileges;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid))
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
}

}  // namespace

bool postInstall(uint8_t rebootMode, uint8_t runKind, const char* runTarget,
                 const char* windowCaption, const OSVERSIONINFOEXA& osInfo, char* installDir,
                 uint32_t size) {
  const RestartQuestion question = restartQuestion(rebootMode, runKind, windowCaption);
  if (question.ask) {
    Sleep(200);
    if (MessageBoxA(nullptr, question.text, question.caption, question.style) == IDYES) {
      if (osInfo.dwPlatformId == VER_PLATFORM_WIN32_NT) enableShutdownPrivilege();
      ExitWindowsEx(EWX_REBOOT, 0);
      return true;
    }
  }
  Win32FolderQuery folders;
  const RunAction action = runAfterAction(runKind, runTarget, folders, installDir, size);
  if (action.run) {
    Sleep(400);
    ShellExecuteA(nullptr, "open", action.file, action.parameters, nullptr, SW_SHOWNORMAL);
  }
  return false;
}

}  // namespace mw
