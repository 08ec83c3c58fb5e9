// wizard_preview.exe: the wizard on its own, without a payload, for looking at the pages while
// the engine is being worked on. A pretend worker walks ten files with the progress bar and then
// turns to the finished page; nothing is installed.
//
// Command line (words separated by blanks, in any order):
//   side=FILE.bmp  banner=FILE.bmp  align=0|1|2  splash=FILE.bmp  nolicence  notitles  nolink
//   dest=FOLDER (no blanks)
#include <windows.h>

#include "core/command_line.h"
#include "core/bytes.h"
#include "core/text.h"
#include "wizard/wizard.h"

namespace mw {
namespace {

SetupScript script;
char installDir[1024] = "C:\\Program Files\\Sample Product";
char words[2048];

Picture loadPicture(const char* path) {
  Picture p{};
  HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return p;
  const DWORD size = GetFileSize(f, nullptr);
  uint8_t* bytes = static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 16));
  DWORD got = 0;
  ReadFile(f, bytes, size, &got, nullptr);
  CloseHandle(f);
  if (got < 26) return p;
  p.length = got;
  p.file = bytes;
  p.info = bytes + 14;
  p.bits = bytes + readU32(bytes + 10);
  p.bitsLength = got - readU32(bytes + 10);
  const bool core = readU32(p.info) == 12;
  p.width = core ? readU16(bytes + 18) : int32_t(readU32(bytes + 18));
  p.height = core ? readU16(bytes + 20) : int32_t(readU32(bytes + 22));
  return p;
}

void pretendWorker() {
  static const char* const files[] = {
      "C:\\Program Files\\Sample Product\\sample.exe",
      "C:\\Program Files\\Sample Product\\readme.txt",
      "C:\\Program Files\\Sample Product\\lib\\core.dll",
      "C:\\Program Files\\Sample Product\\lib\\extra.dll",
      "C:\\Program Files\\Sample Product\\data\\table.dat",
      "C:\\Program Files\\Sample Product\\data\\words.dat",
      "C:\\Program Files\\Sample Product\\docs\\manual.txt",
      "C:\\Program Files\\Sample Product\\docs\\licence.txt",
      "C:\\Program Files\\Sample Product\\icons\\app.ico",
      "C:\\Program Files\\Sample Product\\Uninstall.exe",
  };
  for (int i = 0; i < 10; ++i) {
    if (!wizardPausePoint()) return;
    wizardShowFile(files[i]);
    Sleep(400);
    wizardSetProgress(uint32_t(i + 1) * 10);
  }
  showFinishedPage("Sample Product is ready. Thank you for installing it.");
}

[[noreturn]] void run() {
  static constexpr char kLicence[] =
      "SAMPLE PRODUCT LICENCE\r\n\r\nThis is the licence text of the sample product. You may "
      "install and use the sample product on any number of computers.\r\n\r\n1. Grant. ...\r\n"
      "2. Restrictions. ...\r\n3. No warranty. ...\r\n4. Termination. ...\r\n5. ...\r\n6. ...\r\n"
      "7. ...\r\n8. ...\r\n9. ...\r\n10. ...\r\n11. ...\r\n12. The end.";
  script.windowCaption = "Sample Product Setup";
  script.productName = "Sample Product";
  script.welcomeText =
      "This wizard will guide you through the installation of Sample Product.\r\n\r\nIt is "
      "recommended that you close all other applications before continuing.";
  script.licenceText = kLicence;
  script.destinationPath = "Sample Product";
  script.linkText = "www.example.com";
  script.linkTarget = "http://www.example.com/";
  script.headerTextColour = 0x00000000;
  script.sideTextColour = 0x00000000;

  const char* line = skipProgramPath(GetCommandLineA());
  uint32_t n = 0;
  while (line[n] && n + 1 < sizeof words) {
    words[n] = line[n] == ' ' ? 0 : line[n];
    ++n;
  }
  words[n] = 0;
  Picture splash{};
  for (uint32_t i = 0; i < n; i += textLength(words + i) + 1) {
    const char* w = words + i;
    if (!*w) continue;
    if (startsWith(w, "side=")) script.sideBitmap = loadPicture(w + 5);
    if (startsWith(w, "banner=")) script.bannerBitmap = loadPicture(w + 7);
    if (startsWith(w, "splash=")) splash = loadPicture(w + 7);
    if (startsWith(w, "align=")) script.bannerAlignment = uint8_t(w[6] - '0');
    if (startsWith(w, "dest=")) copyBytes(installDir, w + 5, textLength(w + 5) + 1);
    if (startsWith(w, "nolicence")) script.licenceText = "";
    if (startsWith(w, "nolink")) script.linkText = script.linkTarget = "";
    if (startsWith(w, "notitles")) {
      script.headerTextColour = kNoTitleTexts;
      script.noTitleTexts = true;
    }
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  if (splash.length) showSplash(splash, 1, instance);
  WizardStart start{&script, installDir, instance, LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)),
                    &pretendWorker};
  runWizard(start);
  ExitProcess(wizardPage);
}

}  // namespace
}  // namespace mw

extern "C" void __stdcall entryPoint() { mw::run(); }
