// The page controller: entry and leaving actions of the six pages, and the buttons.
#include "wizard/pages.h"

#include "core/text.h"
#include "wizard/destination.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace mw {

using namespace wizardtext;

volatile uint8_t wizardPage = 0;

void WizardController::bind(const SetupScript& script, char* installDir) {
  script_ = &script;
  installDir_ = installDir;
  hasSide_ = script.sideBitmap.length > 0;
  hasLicence_ = script.licenceText && script.licenceText[0];
  hasLink_ = script.linkText && script.linkText[0];
  bodyControl_ = hasSide_ ? kSideBodyText : kBodyText;
  wizardPage = 0;
}

uint8_t WizardController::page() const { return wizardPage; }

bool WizardController::sideLayout() const {
  const uint8_t p = wizardPage;
  return hasSide_ && (p == 1 || p == 6);
}

// Out of line: enter() asks it in both of its loops.
[[gnu::noinline]] bool WizardController::isNull(int id) const {
  if (id == kHeaderTitle || id == kHeaderSubtitle) return script_->noTitleTexts;
  if (id == kHyperlink) return !hasLink_;
  return false;
}

void WizardController::setText(int id, const char* text) {
  if (!isNull(id)) WizardView::setText(id, text);
}

void WizardController::show(int id, bool visible) {
  if (!isNull(id)) WizardView::show(id, visible);
}

const char* WizardController::format(const char* pattern) {
  formatText(text_, sizeof text_, pattern, script_->productName);
  return text_;
}

void WizardController::initialise(const WizardGeometry& geometry) {
  geometry_ = geometry;
  // The side hint keeps this text until the finished page.
  WizardView::setText(kSideHint, kWelcomeHint);
  // Setting the edit's text notifies a change, which does nothing while wizardPage is 0.
  WizardView::setText(kDestinationEdit, installDir_);
  WizardView::setText(kLicenceBox, script_->licenceText ? script_->licenceText : "");
  WizardView::setCaption(script_->windowCaption ? script_->windowCaption : "");
  next();
}

namespace {

// A control's bit in a page's set of shown controls: its place in kWizardControlIds.
constexpr uint32_t bit(int id) {
  for (int i = 0; i < kWizardControlCount; ++i)
    if (kWizardControlIds[i] == id) return 1u << i;
  return 0;
}

// What a page looks like: the texts it sets and every control visible on it. A "%s" in a text
// stands for productName; a null text leaves the control's text as it is. The body text (pages
// 1 and 6), the Finish button and the buttons' enabled states are set by
// WizardController::enter.
struct PageLook {
  const char* texts[5];  // to kHeaderTextControls, or kSideTextControls in the side layout
  uint32_t shown;        // bits of the visible controls; every other control is hidden
};
constexpr uint8_t kHeaderTextControls[5] = {kHeaderTitle, kHeaderSubtitle, kFooterHint,
                                            kNextButton, kStatusText};
constexpr uint8_t kSideTextControls[5] = {kBigTitle, kHeaderSubtitle, kSideHint, kNextButton,
                                          kStatusText};

// The footer line and Cancel are on every page; the header layout adds the banner band's
// controls, the side layout the texts beside the picture.
constexpr uint32_t kAlways = bit(kFooterLine) | bit(kCancelButton);
constexpr uint32_t kHeader =
    kAlways | bit(kHeaderLine) | bit(kHyperlink) | bit(kHeaderTitle) | bit(kHeaderSubtitle);
constexpr uint32_t kSide = kAlways | bit(kBigTitle) | bit(kSideBodyText) | bit(kSideHint);
constexpr uint32_t kInner = kHeader | bit(kFooterHint) | bit(kNextButton) | bit(kBackButton);

// Pages 1 to 6 in the header layout.
constexpr PageLook kHeaderLooks[6] = {
    {{kWelcomeTitle, kWelcomeSubtitle, kWelcomeHint, kNext, nullptr},
     kHeader | bit(kFooterHint) | bit(kNextButton) | bit(kBodyText)},
    {{kLicenceTitle, kLicenceSubtitle, kLicenceHint, kAgree, nullptr},
     kInner | bit(kLicencePrompt) | bit(kLicenceBox)},
    {{kDestinationTitle, kDestinationSubtitle, kDestinationHint, kNext, kDestinationStatus},
     kInner | bit(kDestinationGroup) | bit(kStatusText) | bit(kDestinationEdit) |
         bit(kBrowseButton)},
    {{kReadyTitle, kReadySubtitle, kReadyHint, kInstall, kReadyStatus}, kInner | bit(kStatusText)},
    {{kInstallingTitle, kInstallingSubtitle, nullptr, nullptr, kCopyingFile},
     kHeader | bit(kNextButton) | bit(kBackButton) | bit(kStatusText) | bit(kProgressBar) |
         bit(kFileLabel)},
    {{kFinishedTitle, kFinishedText, kFinishHint, nullptr, nullptr},
     kHeader | bit(kFooterHint) | bit(kBodyText)},
};

// The welcome and finished pages of a script with a side picture.
constexpr PageLook kSideWelcome = {{kWelcomeTitle, nullptr, kWelcomeHint, kNext, nullptr},
                                   kSide | bit(kNextButton)};
constexpr PageLook kSideFinished = {{kFinishedText, nullptr, kFinishHint, nullptr, nullptr}, kSide};

const PageLook& lookOf(uint8_t page, bool side) {
  if (!side) return kHeaderLooks[page - 1];
  if (page == 1) return kSideWelcome;
  return kSideFinished;
}

}  // namespace

void WizardController::enter(uint8_t page, const char* finishText) {
  const bool side = hasSide_ && (page == 1 || page == 6);
  const PageLook& look = lookOf(page, side);
  const uint8_t* textControls = side ? kSideTextControls : kHeaderTextControls;
  // The installing page counts only once its worker runs.
  if (page != 5) wizardPage = page;
  for (int i = 0; i < 5; ++i)
    if (look.texts[i]) setText(textControls[i], format(look.texts[i]));
  for (int i = 0; i < kWizardControlCount; ++i) show(kWizardControlIds[i], (look.shown >> i) & 1);

  if (page == 1 || page == 6) {
    const char* body = page == 1 ? script_->welcomeText : finishText;
    WizardView::setText(bodyControl_, body ? body : "");
  }
  switch (page) {
    case 3:
      destinationChanged();  // Next goes with the destination's check
      break;
    case 5: {
      WizardView::setProgressRange(100, 1);
      // The edit's text, read straight into installDir and cut at kInstallDirMaxChars (the
      // validation already refused anything longer).
      WizardView::destinationText(installDir_, kInstallDirMaxChars + 1);
      WizardView::enable(kNextButton, false);
      WizardView::enable(kBackButton, false);
      if (!WizardView::startWorker()) {
        // Without a worker nothing would ever finish: say so and end; the page stays 4, so the
        // start-up ends the run without any post-install step.
        WizardView::ask(kErrorCaption, kWorkerNotStarted, kErrorStyle);
        WizardView::endDialog();
        return;
      }
      wizardPage = 5;
      break;
    }
    case 6:
      WizardView::setText(kCancelButton, kFinish);  // Next is hidden
      break;
    default:
      WizardView::enable(kNextButton, true);  // pages 1, 2 and 4
      break;
  }

  // Under the picture's width in the side layout, from lineX on in the header layout.
  WizardView::placeFooterLine(side ? 0 : geometry_.lineX, geometry_.lineY,
                              side ? geometry_.sideWidth : geometry_.lineW, geometry_.lineH);
  if (page == 6)
    WizardView::invalidateAll();
  else
    WizardView::invalidateSideArea();
}

void WizardController::next() {
  // Next is disabled on page 5 and hidden on page 6.
  uint8_t page = wizardPage;
  if (page > 4) return;
  ++page;
  if (page == 2 && !hasLicence_) page = 3;
  enter(page);
}

void WizardController::back() {
  // Back is hidden on pages 1 and 6, disabled on page 5.
  uint8_t page = wizardPage;
  if (page < 2 || page > 4) return;
  --page;
  if (page == 2 && !hasLicence_) page = 1;
  enter(page);
}

void WizardController::close() {
  if (wizardPage == 5) {
    // Hold the worker at a safe point first, so nothing is installed while the user decides.
    WizardView::pauseWorker();
    if (wizardPage != 5) {
      // The installation completed while the worker was being held: the finished page is on
      // show and the user can leave with Finish; nothing is quit half way.
      WizardView::releaseWorker(true);
      return;
    }
    if (WizardView::ask(kWarningCaption, kQuitQuestion, kQuitStyle) != 6) {
      WizardView::releaseWorker(true);
      return;
    }
    WizardView::releaseWorker(false);
  }
  WizardView::endDialog();
}

void WizardController::destinationChanged() {
  if (wizardPage != 3) return;
  char text[kDestinationRoom];
  const uint32_t n = WizardView::destinationText(text, sizeof text);
  const DriveTypeQuery drive = [](const char* root, void*) { return WizardView::driveType(root); };
  WizardView::enable(kNextButton, destinationAcceptable(text, n, drive, nullptr));
}

void WizardController::browse() {
  char chosen[kDestinationRoom];
  if (!WizardView::browseFolder(chosen, sizeof chosen)) return;
  char result[kDestinationRoom];
  composeBrowseResult(chosen, browseSubfolder(script_->destinationKind, script_->destinationPath),
                      result, sizeof result);
  // The edit's change notification validates the new text.
  WizardView::setText(kDestinationEdit, result);
}

void WizardController::showFinishedPage(const char* finishText) { enter(6, finishText); }

}  // namespace mw
