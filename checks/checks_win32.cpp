// The Win32 views behind the checks (version query, .NET registry keys, the account database)
// and the start-up's handling of a refusal.
#include "checks/checks_win32.h"

#include "core/bytes.h"
#include "core/dll_search_win32.h"

#include <lm.h>
#include <shellapi.h>

namespace mw {
namespace {

constexpr char kV4FullKey[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
constexpr char kNdpKey[] = "Software\\Microsoft\\NET Framework Setup\\NDP";
constexpr char kPolicyKey[] = "Software\\Microsoft\\.NET Framework\\Policy\\v1.0";

typedef DWORD(WINAPI* NetUserGetInfoFn)(LPCWSTR server, LPCWSTR user, DWORD level, LPBYTE* info);
typedef DWORD(WINAPI* NetApiBufferFreeFn)(LPVOID buffer);
typedef BOOL(WINAPI* CheckTokenMembershipFn)(HANDLE token, PSID sid, PBOOL isMember);

}  // namespace

void fillOsInfo(OSVERSIONINFOEXA& osInfo) {
  fillBytes(&osInfo, 0, sizeof osInfo);
  osInfo.dwOSVersionInfoSize = 156;
  GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&osInfo));
}

OsVersion osVersionOf(const OSVERSIONINFOEXA& osInfo) {
  return OsVersion{osInfo.dwMajorVersion, osInfo.dwMinorVersion, osInfo.dwPlatformId};
}

HKEY openMachineKey(const char* path) {
  HKEY key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
}

DWORD readMachineValue(const char* path, const char* name, void* out, DWORD& size) {
  const HKEY key = openMachineKey(path);
  if (!key) return REG_NONE;
  DWORD type = REG_NONE;
  const LONG rc = RegQueryValueExA(key, name, nullptr, &type, static_cast<BYTE*>(out), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS ? type : REG_NONE;
}

bool Win32DotNetRegistry::readRelease(uint32_t& release) {
  DWORD size = 4, value = 0;
  // Anything but a whole 4-byte number is a value that cannot be read.
  if (readMachineValue(kV4FullKey, "Release", &value, size) != REG_DWORD || size != 4) return false;
  release = value;
  return true;
}

bool Win32DotNetRegistry::openNdpKey() {
  ndp_ = openMachineKey(kNdpKey);
  return ndp_ != nullptr;
}

static_assert(sizeof(HKEY) == sizeof(void*), "the NDP key is kept as a pointer");

SubkeyRead Win32DotNetRegistry::ndpSubkey(uint32_t index, char* name, uint32_t room) {
  DWORD length = room;
  const LONG rc = RegEnumKeyExA(static_cast<HKEY>(ndp_), index, name, &length, nullptr, nullptr,
                                nullptr, nullptr);
  if (rc == ERROR_SUCCESS) return SubkeyRead::entry;
  // A name too long for the buffer is still an entry; any other failure (no more items, a key
  // that went away) ends the walk instead of asking the same question forever.
  if (rc == ERROR_MORE_DATA) return SubkeyRead::unreadable;
  return SubkeyRead::end;
}

void Win32DotNetRegistry::closeNdpKey() {
  if (ndp_) RegCloseKey(static_cast<HKEY>(ndp_));
  ndp_ = nullptr;
}

bool Win32DotNetRegistry::policyKeyExists() {
  const HKEY key = openMachineKey(kPolicyKey);
  if (!key) return false;
  RegCloseKey(key);
  return true;
}

int32_t Win32AdminQuery::privilegeLevel() {
  char name[257];
  WCHAR wideName[257];
  name[0] = 0;
  wideName[0] = 0;
  DWORD length = 256;
  GetUserNameA(name, &length);
  name[256] = 0;
  MultiByteToWideChar(CP_ACP, 0, name, -1, wideName, 256);
  wideName[256] = 0;

  // Loaded at run time (the engine has no import of the account library), by its full path:
  // netapi32 is no known DLL, so its bare name would find a copy planted beside the installer.
  HMODULE library = loadSystemLibrary("netapi32.dll");
  if (!library) return kPrivilegeNoService;
  int32_t level = kPrivilegeNoService;
  NetUserGetInfoFn getInfo =
      reinterpret_cast<NetUserGetInfoFn>(reinterpret_cast<void*>(GetProcAddress(library, "NetUserGetInfo")));
  if (getInfo) {
    LPBYTE info = nullptr;
    level = kPrivilegeLookupFailed;
    if (getInfo(nullptr, wideName, 1, &info) == 0 && info) {
      // A level that is none of guest, user and administrator is simply not an administrator.
      level = int32_t(reinterpret_cast<USER_INFO_1*>(info)->usri1_priv);
      if (level < 0) level = 0;
      NetApiBufferFreeFn freeBuffer = reinterpret_cast<NetApiBufferFreeFn>(
          reinterpret_cast<void*>(GetProcAddress(library, "NetApiBufferFree")));
      if (freeBuffer) freeBuffer(info);
    }
  }
  FreeLibrary(library);
  return level;
}

bool Win32AdminQuery::memberOfAdministrators() {
  // Loaded already (the engine imports from it): this only finds it, as GetModuleHandle would.
  HMODULE advapi = loadSystemLibrary("advapi32.dll");
  if (!advapi) return false;
  CheckTokenMembershipFn checkMembership = reinterpret_cast<CheckTokenMembershipFn>(
      reinterpret_cast<void*>(GetProcAddress(advapi, "CheckTokenMembership")));
  if (!checkMembership) return false;
  SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
    return false;
  // A token that holds the group only for denying (an administrator not elevated) is no member.
  BOOL member = FALSE;
  const bool asked = checkMembership(nullptr, administrators, &member) != 0;
  FreeSid(administrators);
  return asked && member;
}

void showRefusal(const CheckOutcome& outcome, const char* dotNetInstaller) {
  const int answer = MessageBoxA(nullptr, outcome.text, outcome.caption, outcome.style);
  if (outcome.openOnYes && answer == IDYES && dotNetInstaller && dotNetInstaller[0])
    ShellExecuteA(nullptr, "open", dotNetInstaller, nullptr, nullptr, SW_SHOW);
}

bool runEnvironmentChecks(uint8_t minimumOs, uint8_t dotNetRequired, const char* dotNetInstaller,
                          uint8_t requireAdmin, const char* productName,
                          const OSVERSIONINFOEXA& osInfo, char* textBuffer, uint32_t size) {
  CheckOutcome outcome = osGate(minimumOs, osVersionOf(osInfo));
  if (outcome.pass) {
    Win32DotNetRegistry registry;
    outcome = dotNetCheck(dotNetRequired, dotNetInstaller, registry, textBuffer, size);
  }
  if (outcome.pass) {
    Win32AdminQuery accounts;
    outcome = adminCheck(requireAdmin, osInfo.dwPlatformId, productName, accounts, textBuffer, size);
  }
  if (outcome.pass) return true;
  showRefusal(outcome, dotNetInstaller);
  return false;
}

}  // namespace mw
