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

namespace mw {

struct Worker {
  InstallJob& job;
  EnginePlatform& os;
  const Arena& arena;
  InstallOutcome outcome;

  uint32_t installDirGiven;  // installDir's length as the worker found it (the log keeps that)
  uint32_t unitsTotal;       // progress units: a chunk of a file with data, or an empty file
  uint32_t unitsDone;
  uint8_t* chunkBuffer;      // one stored chunk: [u32 h][6 zero bytes][body]

  FileHandle log;            // Uninstall.exe while it is being written; null when lost
  uint32_t logLength;        // log bytes written after the image (n)
  bool logUsable;            // the image and every log byte so far reached the file

  explicit Worker(InstallJob& j)
      : job(j), os(*j.platform), arena(*j.arena), outcome(InstallDone), installDirGiven(0),
        unitsTotal(0), unitsDone(0), chunkBuffer(nullptr), log(nullptr), logLength(0),
        logUsable(false) {}

  void lose() {
    if (outcome == InstallDone) outcome = InstallIncomplete;
  }
  bool stop(InstallOutcome why) {
    outcome = why;
    return false;
  }
  // Wizard mode: the quit question may be open; false when the user chose to quit.
  bool pause() {
    if (!job.wizard || os.pausePoint()) return true;
    return stop(InstallQuit);
  }
  // One of the worker's error questions: caption "Error", owned by the wizard when it runs.
  int32_t ask(const char* pattern, const char* first, const char* second, uint32_t style);
  // Writes all of `data` to `file`; on a failed write asks "Error writing file" naming
  // installDir + `name`. Retry writes the rest again; Ignore returns with `ignored` set (the
  // caller stops writing that file); Abort ends the installation (false).
  bool writeAll(FileHandle file, const void* data, uint32_t length, const char* name,
                bool& ignored);
  void unitDone();
};

// The steps, in the order the worker runs them.
bool startUninstaller(Worker& w);
bool extractFiles(Worker& w);
bool createShortcuts(Worker& w);
bool writeRegistry(Worker& w);
bool finishUninstaller(Worker& w);

// Appends to the uninstall log; a write that fails is asked about like any file's.
bool logBytes(Worker& w, const void* data, uint32_t length);
bool logString(Worker& w, const char* text);
bool logByte(Worker& w, uint8_t value);

}  // namespace mw
