// checks_probe.exe: runs the Win32 views of the checks on a real (or wine) system and writes what
// they answered, one "name=value" line each, into the file named on the command line. The .NET
// view is exercised over registry states the probe sets up itself under HKEY_LOCAL_MACHINE (and
// removes again), so one run covers every way the framework keys are read.
#include <windows.h>

#include "core/command_line.h"
#include "checks/checks_win32.h"
#include "core/bytes.h"

namespace {

char output[16384];
uint32_t outputLength = 0;

void line(const char* name, const char* value) {
  char text[1200];
  const int n = wsprintfA(text, "%s=%s\r\n", name, value ? value : "(null)");
  for (int i = 0; i < n && outputLength + 1 < sizeof output; ++i) output[outputLength++] = text[i];
}

void number(const char* name, int value) {
  char text[16];
  wsprintfA(text, "%d", value);
  line(name, text);
}

constexpr char kSetup[] = "Software\\Microsoft\\NET Framework Setup";
constexpr char kNdp[] = "Software\\Microsoft\\NET Framework Setup\\NDP";

void createKey(const char* path) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) == ERROR_SUCCESS)
    RegCloseKey(key);
}

void setRelease(DWORD type, const void* data, DWORD size) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
                      0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, "Release", 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(key);
}

void removeKeys() {
  const char* const keys[] = {
      "Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full",
      "Software\\Microsoft\\NET Framework Setup\\NDP\\v4",
      "Software\\Microsoft\\NET Framework Setup\\NDP\\v4.0",
      "Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5",
      "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
      kNdp,
      kSetup,
      "Software\\Microsoft\\.NET Framework\\Policy\\v1.0",
      "Software\\Microsoft\\.NET Framework\\Policy",
  };
  for (const char* k : keys) RegDeleteKeyA(HKEY_LOCAL_MACHINE, k);
}

void dotNetScenario(const char* name) {
  mw::Win32DotNetRegistry registry;
  number(name, mw::installedDotNet(registry));
}

}  // namespace

extern "C" void __stdcall entryPoint() {
  // The output file: everything after the program's own (possibly quoted) path.
  const char* p = mw::skipProgramPath(GetCommandLineA());
  while (*p == ' ') ++p;
  const char* outputPath = *p ? p : "checks_probe.txt";

  OSVERSIONINFOEXA osInfo;
  mw::fillOsInfo(osInfo);
  char text[1100];
  wsprintfA(text, "%lu.%lu.%lu", osInfo.dwMajorVersion, osInfo.dwMinorVersion, osInfo.dwPlatformId);
  line("os.version", text);
  number("os.releaseCode", mw::releaseCode(osInfo.dwMajorVersion, osInfo.dwMinorVersion,
                                           osInfo.dwPlatformId));

  mw::Win32AdminQuery accounts;
  number("admin.level", accounts.privilegeLevel());
  number("admin.member", accounts.memberOfAdministrators() ? 1 : 0);

  mw::Win32FolderQuery folders;
  const struct {
    const char* name;
    mw::Folder which;
  } kFolders[] = {{"folder.windows", mw::Folder::windows},
                  {"folder.system", mw::Folder::system},
                  {"folder.programFiles", mw::Folder::programFiles},
                  {"folder.commonFiles", mw::Folder::commonFiles},
                  {"folder.userProfile", mw::Folder::userProfile},
                  {"folder.appData", mw::Folder::appData},
                  {"folder.documents", mw::Folder::documents},
                  {"folder.desktop", mw::Folder::desktop},
                  {"folder.current", mw::Folder::current}};
  for (const auto& f : kFolders) {
    text[0] = 0;
    folders.folder(f.which, text, mw::kBaseFolderRoom);
    line(f.name, text);
  }
  // A room too small for the answer must give no folder rather than a cut one.
  text[0] = 0;
  number("folder.windows.room4", int(folders.folder(mw::Folder::windows, text, 4)));

  char installDir[mw::kInstallDirRoom];
  for (int kind = 0; kind <= 11; ++kind) {
    mw::fillBytes(installDir, 0, sizeof installDir);
    char name[32];
    wsprintfA(name, "destination.%d", kind);
    if (mw::fillDefaultDestination(uint8_t(kind), "Acme Tool", installDir, sizeof installDir))
      line(name, installDir);
    else
      line(name, "(refused)");
  }

  for (int kind = 2; kind <= 4; ++kind) {
    installDir[0] = 0;
    const mw::RunAction action = mw::runAfterAction(uint8_t(kind), "tool.exe /quiet", folders,
                                                    installDir, sizeof installDir);
    char name[32];
    wsprintfA(name, "run.%d.file", kind);
    line(name, action.run ? action.file : "(none)");
    wsprintfA(name, "run.%d.parameters", kind);
    line(name, action.parameters);
  }

  // .NET: from nothing to the newest release, one registry state at a time.
  removeKeys();
  dotNetScenario("dotnet.nothing");
  createKey("Software\\Microsoft\\.NET Framework\\Policy\\v1.0");
  dotNetScenario("dotnet.policy");
  createKey("Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5");
  createKey("Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727");
  dotNetScenario("dotnet.v2v35");
  createKey("Software\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full");  // no Release yet
  dotNetScenario("dotnet.v4FullWithoutRelease");
  createKey("Software\\Microsoft\\NET Framework Setup\\NDP\\v4.0");
  dotNetScenario("dotnet.v40");
  const char releaseText[] = "528040";
  setRelease(REG_SZ, releaseText, sizeof releaseText);
  dotNetScenario("dotnet.releaseAsText");
  DWORD release = 460798;
  setRelease(REG_DWORD, &release, 4);
  dotNetScenario("dotnet.release460798");
  release = 528040;
  setRelease(REG_DWORD, &release, 4);
  dotNetScenario("dotnet.release528040");
  removeKeys();
  dotNetScenario("dotnet.removed");

  HANDLE file = CreateFileA(outputPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, output, outputLength, &written, nullptr);
    CloseHandle(file);
  }
  ExitProcess(0);
}
