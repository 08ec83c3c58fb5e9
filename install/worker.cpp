#include "install/worker.h"

#include "core/bytes.h"
#include "core/text.h"
#include "decompress/decompress.h"
#include "install/paths.h"
#include "install/texts.h"
#include "format/chunk.h"

namespace mw {

namespace {

// A name the installation may create: inside its folder and no device's name.
bool isInstallableName(const char* name) { return isContainedPath(name) && !namesDevice(name); }

// Walks a copy of the cursor over every list before anything is created. A script whose lists
// run past its end, or that names a file, program group or shortcut target outside the folder
// it belongs in or after a device, is refused whole: nothing is ever written outside installDir, and a corrupt
// installer leaves no half installation behind. On the way it counts the progress units.
// Not inlined: its entries would widen installWorker's frame, and the worker's own state with it.
[[gnu::noinline]] bool checkLists(const ScriptCursor& start, uint32_t& units) {
  ScriptCursor cursor = start;
  units = 0;
  FileEntry file;
  ReadResult r;
  while ((r = nextFileEntry(cursor, file)) == ReadItem) {
    if (!isInstallableName(file.name)) return false;
    if (file.dataOffset != 0 && file.chunkCount == 0) return false;
    const uint32_t add = file.dataOffset != 0 ? file.chunkCount : 1;
    if (units + add < units) return false;
    units += add;
  }
  if (r != ReadEnd) return false;
  const char* group = nullptr;
  r = readProgramGroup(cursor, group);
  if (r == ReadCorrupt || (group && !isInstallableName(group))) return false;
  ShortcutEntry shortcut;
  while ((r = nextShortcut(cursor, shortcut)) == ReadItem)
    if (!isInstallableName(shortcut.target)) return false;
  if (r != ReadEnd) return false;
  RegistryEntry value;
  while ((r = nextRegistryEntry(cursor, value)) == ReadItem) {
  }
  if (r != ReadEnd) return false;
  const char* finish = nullptr;
  if (readFinishText(cursor, finish) != ReadItem) return false;
  PostInstall post;
  return readPostInstall(cursor, post) == ReadItem;
}

// Creates installDir level by level and makes it the current folder. The levels below it are
// tried once; the folder itself again on every Retry.
bool makeDestination(Worker& w) {
  char* dir = w.arena.installDir;
  w.makeFoldersAlong(dir, 3, false);
  for (;;) {
    w.os.makeFolder(dir);
    if (w.os.setCurrentFolder(dir)) return true;
    if (w.ask(kTextCreateFolder, dir, "", StyleRetryCancelStop) != AnswerRetry)
      return w.stop(InstallStopped);
  }
}

}  // namespace

int32_t Worker::ask(const char* pattern, const char* first, const char* second, uint32_t style) {
  formatMessage(arena.messageScratch, kMessageScratchSize, pattern, first, second);
  return os.ask(kErrorCaption, arena.messageScratch, style, wizard);
}

int32_t Worker::askAboutFile(const char* pattern, const char* name) {
  const int32_t answer = ask(pattern, arena.installDir, name, StyleAbortRetryIgnoreStop);
  if (answer == AnswerIgnore)
    lose();
  else if (answer != AnswerRetry)
    stop(InstallStopped);
  return answer;
}

bool Worker::writeAll(FileHandle file, const void* data, uint32_t length, const char* name,
                      bool& ignored) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  ignored = false;
  while (length) {
    const uint32_t written = os.writeFile(file, p, length);
    if (written >= length) return true;
    p += written;
    length -= written;
    if (settling) return false;
    const int32_t answer = askAboutFile(kTextWriteFile, name);
    if (answer == AnswerRetry) continue;
    ignored = answer == AnswerIgnore;
    return ignored;
  }
  return true;
}

void Worker::makeFoldersAlong(char* path, uint32_t from, bool slashes) {
  for (uint32_t i = from; path[i]; ++i) {
    const char c = path[i];
    if (c != '\\' && !(slashes && c == '/')) continue;
    path[i] = 0;
    os.makeFolder(path);
    path[i] = c;
  }
}

void Worker::unitDone() {
  if (!wizard) return;
  ++unitsDone;
  os.setProgress(progressPosition(unitsDone, unitsTotal));
}

InstallOutcome installWorker(InstallJob& job) {
  Worker w(job);
  job.finishText = nullptr;
  startLists(*job.cursor, w.arena.base, w.arena.scriptLength, *job.front);

  // The three refusals below come before anything is made; the caller tells the user.
  if (!checkLists(*job.cursor, w.unitsTotal)) return InstallCorrupt;

  // The final backslash every later step relies on; the log keeps the folder as given.
  char* dir = w.arena.installDir;
  w.installDirGiven = boundedLength(dir, kInstallDirSize - 1);
  dir[w.installDirGiven] = 0;
  const bool needsBackslash = w.installDirGiven == 0 || dir[w.installDirGiven - 1] != '\\';
  if (needsBackslash && w.installDirGiven + 1 >= kInstallDirSize) return InstallBadDestination;

  w.chunkBuffer = static_cast<uint8_t*>(w.os.allocateZeroed(kChunkBufferSize + kOutputRegionSize));
  if (!w.chunkBuffer) return InstallNoMemory;

  if (job.payloadSuspect) w.lose();
  bool going = makeDestination(w);
  if (going && needsBackslash) {
    dir[w.installDirGiven] = '\\';
    dir[w.installDirGiven + 1] = 0;
  }
  going = going && startUninstaller(w) && extractFiles(w);
  w.os.release(w.chunkBuffer);
  w.chunkBuffer = nullptr;
  going = going && createShortcuts(w) && writeRegistry(w) && finishUninstaller(w);
  if (!going) {
    settleStoppedUninstaller(w);
    return w.outcome;
  }
  const char* finish = nullptr;
  if (readFinishText(*job.cursor, finish) == ReadItem) job.finishText = finish;
  return w.outcome;
}

}  // namespace mw
