// The worker's private state and its steps, shared by the files that implement them:
//
//   worker.cpp       the sequence, the destination folder, the check of the script's lists
//   extract.cpp      the files: creation with its question, chunks, checksum, progress
//   uninstaller.cpp  Uninstall.exe: the image, the log appends, the finishing and header patch
//   shortcuts.cpp    the program group and the shortcuts
//   registry.cpp     the script's values and the uninstall registration
//
// Every step returns true to go on and false when the installation ends; `outcome` then says
// why. The user-facing consequences of a step (a file skipped, a value lost) only ever lower
// the outcome from InstallDone to InstallIncomplete.
#pragma once

#include <stdint.h>

#include "install/install.h"
#include "format/chunk.h"

namespace mw {

// The log's lists in their order; each ends with a 0 byte that the next step writes.
enum LogSection : uint8_t {
  LogFiles = 0,      // file names, then 0 and the program group
  LogShortcuts = 1,  // shortcut paths, then 0
  LogRecords = 2,    // registry records, ended by the gap's first zero byte
};

// The chunk read buffer: one stored chunk, [u32 h][6 zero bytes][body], of the largest size a
// packager may write, and the next chunk's prefix read with it.
constexpr uint32_t kChunkBufferSize = kMaxChunkHeader + kChunkPrefix;

struct Worker {
  InstallJob& job;
  EnginePlatform& os;
  // Copies of what every step reads, so each read is one load rather than two.
  const Arena arena;
  ScriptCursor& cursor;      // the job's cursor, walked list by list
  const bool wizard;         // the job runs with the wizard
  InstallOutcome outcome;

  uint32_t installDirGiven;  // installDir's length as the worker found it (the log keeps that)
  uint32_t unitsTotal;       // progress units: a chunk of a file with data, or an empty file
  uint32_t unitsDone;
  uint8_t* chunkBuffer;      // kChunkBufferSize bytes, then a second output region (the
                             // decoding side's other slot; see extract.cpp)

  FileHandle log;            // the new uninstaller (kUninstallerTempName) while it is being
                             // written; null before, after, and when lost
  uint32_t logLength;        // log bytes written after the image (n)
  bool logUsable;            // the image and every log byte so far reached the file
  uint8_t logSection;        // the log's list being written (LogSection): what a stopped
                             // installation must still close to finish the log
  bool settling;             // finishing the log after a stop: a failed write is not asked
                             // about again (the user has already chosen to stop)

  explicit Worker(InstallJob& j)
      : job(j), os(*j.platform), arena(*j.arena), cursor(*j.cursor), wizard(j.wizard),
        outcome(InstallDone), installDirGiven(0),
        unitsTotal(0), unitsDone(0), chunkBuffer(nullptr),
        log(nullptr), logLength(0), logUsable(false), logSection(0), settling(false) {}

  void lose() {
    if (outcome == InstallDone) outcome = InstallIncomplete;
  }
  bool stop(InstallOutcome why) {
    outcome = why;
    return false;
  }
  // Wizard mode: the quit question may be open; false when the user chose to quit.
  bool pause() {
    if (!wizard || os.pausePoint()) return true;
    return stop(InstallQuit);
  }
  // One of the worker's error questions: caption "Error", owned by the wizard when it runs.
  int32_t ask(const char* pattern, const char* first, const char* second, uint32_t style);
  // The Abort/Retry/Ignore question about installDir + `name`, a file that could not be
  // created or written (`pattern` says which). Ignore lowers the outcome (the caller goes on
  // without the file), Abort and anything else end the installation. Returns the answer.
  int32_t askAboutFile(const char* pattern, const char* name);
  // Writes all of `data` to `file`; on a failed write asks "Error writing file" naming
  // installDir + `name`. Retry writes the rest again; Ignore returns with `ignored` set (the
  // caller stops writing that file); Abort ends the installation (false). While settling, a
  // failed write asks nothing and returns false.
  bool writeAll(FileHandle file, const void* data, uint32_t length, const char* name,
                bool& ignored);
  void unitDone();
  // Makes the folders along `path`, one level at a time: each prefix that ends before a
  // backslash (or a slash too, with `slashes`) at index `from` or later, tried once whatever
  // the result (it may exist already). `path` is cut at each level in turn and restored.
  void makeFoldersAlong(char* path, uint32_t from, bool slashes);
};

// The steps, in the order the worker runs them. Each stays a function of its own in the engine
// too, so that a step's locals live only while it runs.
[[gnu::noinline]] bool startUninstaller(Worker& w);
[[gnu::noinline]] bool extractFiles(Worker& w);
[[gnu::noinline]] bool createShortcuts(Worker& w);
[[gnu::noinline]] bool writeRegistry(Worker& w);
[[gnu::noinline]] bool finishUninstaller(Worker& w);
// After a stop (Abort, Cancel, No, a quit): an Uninstall.exe already in the folder (a reinstall)
// is kept as it is and the new one deleted; without one, the new log is closed after what was
// made so far and the uninstaller finished, so the user can remove a stopped first installation.
void settleStoppedUninstaller(Worker& w);

// Appends to Uninstall.exe; a write that fails is asked about like any file's. The log's
// bytes are counted in logLength; writeUninstaller's (the image, the gap, the manifest) are not.
bool writeUninstaller(Worker& w, const void* data, uint32_t length);
bool logBytes(Worker& w, const void* data, uint32_t length);
bool logString(Worker& w, const char* text);
bool logByte(Worker& w, uint8_t value);

}  // namespace mw
