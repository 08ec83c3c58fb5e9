// The wizard's seam: what the page logic asks of the dialog. A program has one dialog, so the
// calls are static and bound per build, not through a table of virtual functions:
//
//   wizard/view_win32.h  the dialog's controls (defined in wizard/dialog_win32.cpp)
//   wizard/fake_view.h   the tests' recording model of the dialog (defined in pages_test.cpp)
//
// The concept is the contract both keep, checked at compile time.
#pragma once

#include <stdint.h>

namespace mw {

template <typename V>
concept WizardViewCalls = requires {
  static_cast<void (*)(int id, const char* text)>(&V::setText);
  static_cast<void (*)(int id, bool visible)>(&V::show);
  static_cast<void (*)(int id, bool enabled)>(&V::enable);
  static_cast<void (*)(const char* text)>(&V::setCaption);
  // The footer line: moved and sized (client pixels), put at the bottom of the z order, shown.
  static_cast<void (*)(int x, int y, int width, int height)>(&V::placeFooterLine);
  // Repaint with erasing: the white side area, or the whole client area.
  static_cast<void (*)()>(&V::invalidateSideArea);
  static_cast<void (*)()>(&V::invalidateAll);
  // The progress bar's range (0..max) and step.
  static_cast<void (*)(int max, int step)>(&V::setProgressRange);
  // The destination edit's text, at most room - 1 characters, NUL-terminated; returns its length.
  static_cast<uint32_t (*)(char* out, uint32_t room)>(&V::destinationText);
  // The system's drive type (GetDriveTypeA numbering) of a root such as "C:\".
  static_cast<uint32_t (*)(const char* root)>(&V::driveType);
  // The folder browser: true with the chosen folder's path in `out` (room bytes, at least 260),
  // false when cancelled or the choice has no file-system path.
  static_cast<bool (*)(char* out, uint32_t room)>(&V::browseFolder);
  // Starts the installation worker on its own thread; false when it cannot be started.
  static_cast<bool (*)()>(&V::startWorker);
  // Holds the worker at its next pause point and returns once it is held there or has ended.
  static_cast<void (*)()>(&V::pauseWorker);
  // Lets a held worker go on (goOn true), or tells it to stop (false).
  static_cast<void (*)(bool goOn)>(&V::releaseWorker);
  // A message box owned by the wizard; returns the answer (6 is Yes).
  static_cast<int (*)(const char* caption, const char* text, unsigned style)>(&V::ask);
  static_cast<void (*)()>(&V::endDialog);
};

}  // namespace mw

#if MARLOWICK_FREESTANDING
#include "wizard/view_win32.h"
namespace mw {
using WizardView = Win32WizardView;
}  // namespace mw
#else
#include "wizard/fake_view.h"
namespace mw {
using WizardView = FakeWizardView;
}  // namespace mw
#endif

static_assert(mw::WizardViewCalls<mw::WizardView>, "the wizard's view misses a call");
