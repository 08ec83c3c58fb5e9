// The wizard's pages without the platform: which controls each page shows, hides, enables and
// re-texts, and how Next, Back, Cancel and the close command move between the pages.
//
// The controller holds the page number (the process-wide wizardPage) and the setup script's
// fields, and acts on a WizardView (wizard/view.h): the Windows side maps the view onto the
// dialog's controls (wizard/dialog_win32.cpp), the tests onto a recording model of the dialog.
//
//   page   0 --init--> 1 welcome --Next--> 2 licence --Next--> 3 destination --Next--> 4 ready
//                       ^  (no licence: 1 --Next--> 3, 3 --Back--> 1)  <--Back--   <--Back--
//          4 --Next (Install)--> 5 installing --worker done--> 6 finished --Finish--> end
//   Cancel/close: pages 1-4 end at once; page 5 asks (Yes ends, No goes on); page 6 ends.
//
// Two controls can be "null" as the dialog binding leaves them: the header title and subtitle
// when the script wants no title texts, and the hyperlink when it has no link text. Every action
// on a null control does nothing, so they keep their hidden template state on every page.
//
// Engine core: no allocation, no C library; the formatted texts go into a buffer of the
// controller's own, sized so that every page text with a long product name still fits and a
// longer one is cut, never overrun.
#pragma once

#include <stdint.h>

#include "format/script.h"
#include "wizard/controls.h"
#include "wizard/view.h"

namespace mw {

// Footer-line geometry and the side area's width, in client pixels, measured by the binding at
// initialisation (lineX depends on the hyperlink's measured width).
struct WizardGeometry {
  int lineX, lineY, lineW, lineH;  // the footer line in the header layout
  int sideWidth;                   // the white side area's width: the footer line in the side layout
};

constexpr uint32_t kWizardTextRoom = 1024;     // formatted page texts
constexpr uint32_t kDestinationRoom = 1024;    // destination edit text read for validation
constexpr uint32_t kInstallDirMaxChars = 259;  // what Install copies into installDir

class WizardController {
 public:
  // Binds the controller to the script and the arena's installDir region (kInstallDirRoom of
  // checks, 1024 bytes). Sets wizardPage to 0.
  void bind(const SetupScript& script, char* installDir);

  // The initialisation of the dialog after the binding has looked up its controls, mapped its
  // areas, made its fonts and measured the hyperlink: texts, caption, then the welcome page.
  void initialise(const WizardGeometry& geometry);

  void next();   // the Next button
  void back();   // the Back button
  void close();  // the Cancel/Finish button and the close command
  void destinationChanged();  // the destination edit's change notification
  void browse();              // the Browse button
  // The worker's last call, run on the dialog thread (the binding forwards it there).
  void showFinishedPage(const char* finishText);

  // The colour and layout rules read these.
  bool sideLayout() const;  // pages 1 and 6 of a script with a side picture
  uint8_t page() const;

 private:
  // Turns to `page` (1 to 6): its texts, the controls it shows, the footer line and the repaint.
  // finishText is the finished page's body text.
  void enter(uint8_t page, const char* finishText = nullptr);
  const char* format(const char* pattern);

  // Actions on controls that may be null (title, subtitle, hyperlink).
  bool isNull(int id) const;
  void setText(int id, const char* text);
  void show(int id, bool visible);

  const SetupScript* script_ = nullptr;
  char* installDir_ = nullptr;
  WizardGeometry geometry_{};
  // Every member starts as zero, so the process-wide controller lies in the zero-filled data and
  // takes no file bytes; bind sets the body control.
  int bodyControl_ = 0;
  bool hasSide_ = false;
  bool hasLicence_ = false;
  bool hasLink_ = false;
  char text_[kWizardTextRoom] = {};
};

}  // namespace mw
