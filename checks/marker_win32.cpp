// checks_marker.exe: a stand-in for a framework installer in tests. When the installer's .NET
// question is answered Yes it opens this program, which leaves C:\checks_marker.txt behind with
// its own command line, so a test can see that it was opened and with what.
#include <windows.h>

extern "C" void __stdcall entryPoint() {
  const char* commandLine = GetCommandLineA();
  DWORD length = 0;
  while (commandLine[length]) ++length;
  HANDLE file = CreateFileA("C:\\checks_marker.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, commandLine, length, &written, nullptr);
    CloseHandle(file);
  }
  ExitProcess(0);
}
