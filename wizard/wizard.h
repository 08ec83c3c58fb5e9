// The wizard as the rest of the engine sees it: the splash screen, the modal wizard dialog, and
// the few calls through which the installation worker reports to the wizard from its own thread.
//
// Two threads meet here. The dialog thread (the start-up's main thread) runs runWizard and
// everything that happens inside the dialog. Pressing Install starts the worker on a second
// thread; from then on the worker only uses the functions in the "worker side" block below. They
// are no-ops when no wizard is running (silent mode), so the worker may call them unconditionally.
//
// Typical start-up use:
//     if (script.splashBitmap.length && silentMode == 0)
//       showSplash(script.splashBitmap, script.splashSeconds, instanceHandle);
//     ...
//     WizardStart start{&script, arena.installDir, instance, handCursor, &installWorker};
//     runWizard(start);
//     if (wizardPage != 6) exitProcess();
//     postInstall(...);
//
// Implemented for Windows in wizard/*_win32.cpp (library mw_wizard_win32); the page logic behind
// it is platform-free (wizard/pages.h, library mw_wizard).
#pragma once

#include <stdint.h>

#include "format/script.h"

namespace mw {

// The page on show: 0 before the first page, then 1 welcome, 2 licence, 3 destination, 4 ready,
// 5 installing, 6 finished. The dialog thread writes 1 to 5; only showFinishedPage writes 6.
// The start-up reads it after runWizard has returned: 6 is the one value after which it goes on
// to the restart question and the run-after action.
extern volatile uint8_t wizardPage;

// What the start-up hands to the wizard. Every pointer must stay valid until the process ends
// (they point into the arena and the parsed script).
struct WizardStart {
  const SetupScript* script;  // parsed front of the setup script
  char* installDir;           // arena region of 1024 bytes: the default destination on entry; on
                              // Install it receives the destination edit's text (at most 259 chars)
  void* instanceHandle;       // HINSTANCE holding dialog template 1 and icon group 1
  void* handCursor;           // HCURSOR shown over the hyperlink; may be null
  void (*worker)();           // the installation worker, run on a new thread when Install is pressed;
                              // it must end by calling showFinishedPage
};

// Runs the wizard: dialog template 1, modal, no owner window. Returns when the dialog has ended.
// If the worker thread cannot be started, the wizard says so in an "Error" box and ends with
// wizardPage still 5.
void runWizard(const WizardStart& start);

// Shows the splash picture centred on the screen (12 pixels above the centre), topmost, for
// splashSeconds + 1 seconds, and returns when it has closed. The picture is painted straight
// from the setup script's bytes, never copied.
void showSplash(const Picture& splashBitmap, uint8_t splashSeconds, void* instanceHandle);

// ---- Worker side: called by the installation worker on its own thread. -----------------------
//
// The calls change the wizard only through window messages, which the dialog thread handles;
// none of them takes a lock. Order of a run: wizardShowFile / wizardSetProgress / wizardPausePoint
// as the files go by, then showFinishedPage once, last.

// Shows the path of the file being written in the file label (control 141).
void wizardShowFile(const char* displayPath);

// Moves the progress bar; its range is 0 to 100 (set when the installing page was shown).
void wizardSetProgress(uint32_t position);

// A safe pause point. While the user is being asked whether to quit the installation, this call
// blocks on an event. It returns true when no question is open, when no wizard runs, or when the
// answer was No (the installation goes on unchanged); false when the answer was Yes: the worker
// then stops where it stands (the wizard has ended and the process is about to end). The dialog
// thread shows the question only once the worker has reached this point, so nothing is installed
// while the question is open. Call it where the worker holds no lock and no half-written state
// matters: before each file, between chunks, between shortcuts and registry values.
bool wizardPausePoint();

// The wizard window, owner of the worker's own message boxes; null when no wizard runs.
void* wizardWindow();

// Turns the wizard to the finished page with finishText and sets wizardPage to 6. The worker's
// last action; the worker's thread should end right after it.
void showFinishedPage(const char* finishText);

}  // namespace mw
