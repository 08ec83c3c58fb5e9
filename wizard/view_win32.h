// The wizard's view on Windows: the dialog's controls, its worker thread and its message boxes
// (defined in wizard/dialog_win32.cpp; the calls are listed with their meaning in wizard/view.h).
#pragma once

#include <stdint.h>

namespace mw {

struct Win32WizardView {
  static void setText(int id, const char* text);
  static void show(int id, bool visible);
  static void enable(int id, bool enabled);
  static void setCaption(const char* text);
  static void placeFooterLine(int x, int y, int width, int height);
  static void invalidateSideArea();
  static void invalidateAll();
  static void setProgressRange(int max, int step);
  static uint32_t destinationText(char* out, uint32_t room);
  static uint32_t driveType(const char* root);
  static bool browseFolder(char* out, uint32_t room);
  static bool startWorker();
  static void pauseWorker();
  static void releaseWorker(bool goOn);
  static int ask(const char* caption, const char* text, unsigned style);
  static void endDialog();
};

}  // namespace mw
