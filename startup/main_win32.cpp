// The engine's entry: the whole life of an installer process, from the system starting it to
// ExitProcess. It runs on the main thread and calls the stages in a fixed order: narrow the DLL
// search and read the command line, find and check the payload, take the single-instance mutex,
// decode the setup script into the arena, show the splash, run the environment checks, work out the destination, then
// either install silently right here or run the wizard (which starts the worker on a thread of
// its own) and finish with the restart question and the run-after action.
//
// No C runtime: nothing runs before entryPoint, so there are no static constructors to rely on:
// every global here is zero-filled or constant-initialised, and the run's objects are made by run()
// (which never returns).
#include <windows.h>

#include "checks/checks_win32.h"
#include "checks/texts.h"
#include "core/bytes.h"
#include "install/install.h"
#include "core/dll_search_win32.h"
#include "install/system_win32.h"
#include "format/arena.h"
#include "startup/command_line.h"
#include "format/exit_codes.h"
#include "format/payload.h"
#include "format/script.h"
#include "wizard/wizard.h"

// The linker's name for the engine's own image in memory: its module handle.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace mw {
namespace {

// The run's state, one of each for the process, zero until run() fills it. None of them has a
// constructor, since nothing runs before entryPoint.
uint8_t silentMode;        // a SilentMode: 0 wizard, 1 "/s", 2 "/s" followed by a folder
// Set while the installation runs on the wizard's thread: a wizard closed by its quit question
// waits for the worker to put Uninstall.exe right before the process ends.
volatile LONG workerBusy;
InstallJob job;            // the installation, run here (silent) or on the wizard's thread
// The start-up's and the checks' message texts. Formatted messages embed productName, so the
// buffer has the room the checks ask for rather than one path's worth.
char textBuffer[kTextBufferSize];
OSVERSIONINFOEXA osInfo;
Arena arena;
SetupScript script;
ScriptCursor cursor;

constexpr char kCorruptQuestion[] =
    "Installer corrupted or incomplete.\r\nAre you sure that you want to continue installation?";
constexpr char kCorruptUnusable[] =
    "Installer corrupted or incomplete.\r\nThe setup information cannot be read.";
constexpr char kSelfUnreadable[] =
    "The installer cannot read its own file.\r\nIt may be incomplete: please obtain it again.";
constexpr char kNoMemory[] = "There is not enough memory to run the installer.";
constexpr char kFolderTooLong[] =
    "The destination folder given after /s is too long.\r\nIt must be shorter than 1024 characters.";
constexpr char kFolderRelative[] =
    "The destination folder given after /s must be a full path,\r\nsuch as C:\\Program Files\\Product.";
constexpr char kDefaultTooLong[] =
    "The destination folder is too long.\r\nIt must be shorter than 1023 characters.";

// Every message of the start-up has the caption "Error" and the stop icon.
int errorBox(HWND owner, const char* text, UINT buttons) {
  return MessageBoxA(owner, text, texts::kErrorCaption, buttons | MB_ICONHAND);
}

[[noreturn]] void endProcess(uint32_t silentCode) {
  // The wizard road ends with 0 whatever happened: only unattended runs report through the code.
  ExitProcess(silentMode ? silentCode : 0);
}

// A message and the end of the run. Used for what the installer cannot work around.
[[noreturn]] void fail(const char* text, uint32_t silentCode) {
  errorBox(nullptr, text, MB_OK);
  endProcess(silentCode);
}

// What an installation that did not run to its end means for the process. The worker never
// ends the process itself; it returns why it stopped, and this decides.
[[noreturn]] void endAfterWorker(InstallOutcome outcome, HWND owner) {
  // By outcome, from InstallDone to InstallBadDestination: the silent exit code, and the message
  // for the refusals the worker leaves to its caller.
  static constexpr uint8_t kCodes[] = {ExitInstalled,      ExitIncomplete,     ExitStoppedByUser,
                                       ExitStoppedByUser,  ExitPayloadCorrupt, ExitSelfUnreadable,
                                       ExitBadDestination};
  static constexpr const char* kTexts[] = {nullptr,          nullptr,   nullptr,        nullptr,
                                           kCorruptUnusable, kNoMemory, kDefaultTooLong};
  static_assert(sizeof kCodes == InstallBadDestination + 1 &&
                    sizeof kTexts / sizeof *kTexts == sizeof kCodes,
                "one entry per outcome");
  if (outcome > InstallBadDestination) endProcess(ExitStoppedByUser);
  if (kTexts[outcome]) errorBox(owner, kTexts[outcome], MB_OK);
  endProcess(kCodes[outcome]);
}

// The installation on the wizard's worker thread: install, then turn the wizard to its
// finished page, which lets the start-up go on once the user presses Finish.
void wizardWorker() {
  workerBusy = 1;
  const InstallOutcome outcome = installWorker(job);
  workerBusy = 0;
  if ((outcome == InstallDone || outcome == InstallIncomplete) && job.finishText) {
    showFinishedPage(job.finishText);
    return;
  }
  // The user chose to quit while the wizard asked: the wizard ends the run from its own thread.
  if (outcome == InstallQuit) return;
  endAfterWorker(outcome, static_cast<HWND>(wizardWindow()));
}

[[noreturn]] void run() {
  // 0. Before anything can load a library: no DLL beside the installer is ever loaded. Then the
  // mode, so that every way out below reports through the silent exit code.
  hardenDllSearch();
  const SilentSwitch commandLine = findSilentSwitch(GetCommandLineA());
  silentMode = commandLine.mode;

  // 1. The hand cursor for the wizard's hyperlink (null on systems without one: that is fine).
  const HCURSOR handCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32649));  // IDC_HAND

  // 2. The installer's own path.
  DWORD pathLength = GetModuleFileNameA(nullptr, textBuffer, MAX_PATH);
  if (pathLength == 0 || pathLength >= MAX_PATH) fail(kSelfUnreadable, ExitSelfUnreadable);

  // 3. Open it (kept open to the end: the worker reads file chunks through it) and read the
  // locator record. A file too short to hold one is no installer.
  const HANDLE installerFile = CreateFileA(textBuffer, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (installerFile == INVALID_HANDLE_VALUE) fail(kSelfUnreadable, ExitSelfUnreadable);
  uint8_t locatorBytes[kLocatorSize];
  uint32_t got = 0;
  if (!readAt(installerFile, kLocatorOffset, locatorBytes, kLocatorSize, got) || got != kLocatorSize)
    fail(kSelfUnreadable, ExitSelfUnreadable);
  const LocatorRecord record = parseLocator(locatorBytes);

  // The file's size, for the record's test below (a file this engine reads has less than 4 GiB).
  const DWORD fileSize = SetFilePointer(installerFile, 0, nullptr, FILE_END);
  if (fileSize == INVALID_SET_FILE_POINTER) fail(kSelfUnreadable, ExitSelfUnreadable);

  // 4. One copy of an installer at a time. The mutex is never released: the process's end does.
  char name[11];
  instanceName(locatorBytes, name);
  HANDLE mutex = CreateMutexA(nullptr, TRUE, name);
  if (!mutex || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) endProcess(ExitAlreadyRunning);

  // 5. The setup script and the uninstaller blob, checked against the record. A record whose
  // script or blob would reach past the file's end is a damaged payload: its sizes are not
  // asked of the heap.
  const HANDLE heap = GetProcessHeap();
  uint32_t allocate = 0, toRead = 0;
  uint8_t* readBuffer = nullptr;
  if (payloadInsideFile(record, fileSize) && readBufferSizes(record, allocate, toRead)) {
    readBuffer = static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, allocate));
    if (!readBuffer) fail(kNoMemory, ExitSelfUnreadable);
    if (!readAt(installerFile, record.scriptOffset, readBuffer + kReadBufferLead, toRead, got))
      fail(kSelfUnreadable, ExitSelfUnreadable);
  }
  // A record that cannot describe a script (a stub without payload) is a payload that fails
  // its check; the question below is the honest answer to both.
  const bool payloadSuspect = !readBuffer || !payloadIntact(readBuffer, record);
  if (payloadSuspect) {
    if (errorBox(nullptr, kCorruptQuestion, MB_YESNO) != IDYES)
      endProcess(ExitPayloadCorrupt);
    if (!readBuffer) fail(kCorruptUnusable, ExitPayloadCorrupt);
  }

  // 6. The arena, and the script decoded into its first region. A script that does not decode
  // to its stated length cannot be used, whatever the user answered above.
  const uint32_t scriptLength = scriptDecodedLength(readBuffer);
  uint32_t arenaSize = 0;
  if (!arenaSizeFor(scriptLength, arenaSize)) fail(kCorruptUnusable, ExitPayloadCorrupt);
  uint8_t* block = static_cast<uint8_t*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, arenaSize));
  if (!block) fail(kNoMemory, ExitSelfUnreadable);
  layOutArena(arena, block, scriptLength);
  const LoadResult loaded = loadScript(readBuffer, record, arena);
  HeapFree(heap, 0, readBuffer);

  // 7. The folder after "/s ", now that installDir exists: copied whole or refused, since a
  // cut or relative path would install somewhere else than the one given.
  if (silentMode == ModeSilentFolder) {
    const FolderVerdict verdict = checkSilentFolder(commandLine.folder, kInstallDirSize);
    if (verdict != FolderAccepted)
      fail(verdict == FolderTooLong ? kFolderTooLong : kFolderRelative, ExitBadDestination);
    copyBytes(arena.installDir, commandLine.folder, textLength(commandLine.folder) + 1);
  }
  if (loaded != LoadOk) fail(kCorruptUnusable, ExitPayloadCorrupt);

  // 8. The script's front.
  if (!parseFront(arena.base, arena.scriptLength, script)) fail(kCorruptUnusable, ExitPayloadCorrupt);

  // 9, 10. The module, and the splash in wizard mode.
  const HINSTANCE instanceHandle = reinterpret_cast<HINSTANCE>(&__ImageBase);
  if (script.splashBitmap.length && silentMode == 0)
    showSplash(script.splashBitmap, script.splashSeconds, instanceHandle);

  // 11 to 14. Version, operating system, .NET, administrator (silent mode too).
  fillOsInfo(osInfo);
  if (!runEnvironmentChecks(script.minimumOs, script.dotNetRequired, script.dotNetInstaller,
                            script.requireAdmin, script.productName, osInfo, textBuffer,
                            sizeof textBuffer))
    endProcess(ExitRefused);

  // 15. The default destination unless the command line gave one. In the wizard an empty
  // destination is only a starting point the user corrects; unattended it would be a guess.
  if (silentMode != 2 &&
      !fillDefaultDestination(script.destinationKind, script.destinationPath, arena.installDir,
                              kInstallDirSize) &&
      silentMode != 0)
    fail(kDefaultTooLong, ExitBadDestination);

  Win32Platform system(installerFile);
  job.platform = &system;
  job.arena = &arena;
  job.front = &script;
  job.blobOffset = record.scriptOffset + record.scriptLength;
  job.wizard = silentMode == 0;
  job.payloadSuspect = payloadSuspect;
  job.cursor = &cursor;

  // 16. Silent: the worker on this thread, then the end. No restart, no run-after action.
  if (silentMode != 0) {
    const InstallOutcome outcome = installWorker(job);
    if (outcome == InstallDone || outcome == InstallIncomplete) HeapFree(heap, 0, block);
    endAfterWorker(outcome, nullptr);
  }

  // 17. The wizard. Anything but the finished page means the user left before the end.
  static constexpr WizardHooks kHooks{&wizardShowFile, &wizardSetProgress, &wizardPausePoint,
                                      &wizardWindow};
  system.attachWizard(kHooks);
  WizardStart start{&script, arena.installDir, instanceHandle, handCursor, &wizardWorker};
  runWizard(start);
  // A quit while installing: the worker stops at its next pause point and puts Uninstall.exe
  // right (the old one kept, or the log finished) before it returns.
  while (workerBusy) Sleep(20);
  if (wizardPage != 6) ExitProcess(0);

  // 18. Restart question and run-after action, from the PostInstall record the worker reached.
  PostInstall post{};
  if (readPostInstall(cursor, post) != ReadItem) ExitProcess(0);
  if (postInstall(post.rebootMode, post.runKind, post.runTarget, script.windowCaption, osInfo,
                  arena.installDir, kInstallDirSize))
    ExitProcess(0);
  HeapFree(heap, 0, block);
  ExitProcess(0);
}

}  // namespace
}  // namespace mw

extern "C" void __stdcall entryPoint() { mw::run(); }
