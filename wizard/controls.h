// Control ids of the wizard dialog (dialog template 1). Every page is made by showing, hiding and
// re-texting these 21 controls; the ids are shared by the dialog template, the page controller,
// the dialog procedure and the test driver that inspects the running wizard.
#pragma once

#include <stdint.h>

namespace mw {

enum WizardControl : int {
  kHeaderLine = 1,       // etched line under the banner band (hidden at first)
  kFooterLine = 2,       // etched line above the buttons (visible)
  kBigTitle = 3,         // title on the side picture
  kSideBodyText = 4,     // body text beside the side picture
  kFooterHint = 5,       // hint above the footer line in the header layout
  kSideHint = 6,         // hint beside the side picture
  kHeaderTitle = 7,      // bold title in the banner band
  kHeaderSubtitle = 8,   // subtitle in the banner band
  kBodyText = 9,         // body text in the header layout
  kHyperlink = 10,       // the link at the bottom left (disabled in the template)
  kLicencePrompt = 11,   // "Press Page Down to see the rest of the agreement."
  kLicenceBox = 12,      // multi-line edit holding the licence text
  kStatusText = 13,      // status text of the destination, ready and installing pages
  kProgressBar = 14,     // msctls_progress32
  kCancelButton = 15,    // "Cancel", and "Finish" on the finished page
  kNextButton = 16,      // "Next >", "I Agree", "Install"
  kBackButton = 17,      // "< Back"
  kDestinationGroup = 18,  // "Destination Folder" group box
  kBrowseButton = 19,    // "Browse..."
  kDestinationEdit = 20, // the destination folder
  kFileLabel = 141,      // the file being written during the installation
};

// Every control, in template order (which is also the tab and z order). Bytes: every id fits.
constexpr uint8_t kWizardControlIds[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11,
                                         12, 13, 14, 141, 15, 16, 17, 18, 19, 20};
constexpr int kWizardControlCount = 21;

// Dialog template 1 in dialog units; the white areas are mapped from these.
constexpr int kDialogWidthDu = 331;
constexpr int kDialogHeightDu = 219;
constexpr int kSideAreaRightDu = 332;
constexpr int kSideAreaBottomDu = 187;
constexpr int kBannerBottomDu = 38;

}  // namespace mw
