// The page controller: entry and leaving actions of the six pages, and the buttons.
#include "wizard/pages.h"

#include "wizard/destination.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace mw {

using namespace wizardtext;

volatile uint8_t wizardPage = 0;

uint32_t formatWizardText(char* out, uint32_t room, const char* pattern, const char* arg) {
  if (room == 0) return 0;
  uint32_t n = 0;
  bool substituted = false;
  for (const char* p = pattern; *p && n + 1 < room; ++p) {
    if (!substituted && p[0] == '%' && p[1] == 's') {
      for (const char* a = arg ? arg : ""; *a && n + 1 < room; ++a) out[n++] = *a;
      substituted = true;
      ++p;
      continue;
    }
    out[n++] = *p;
  }
  out[n] = 0;
  return n;
}

void WizardController::bind(WizardView& view, const SetupScript& script, char* installDir) {
  view_ = &view;
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

bool WizardController::isNull(int id) const {
  if (id == kHeaderTitle || id == kHeaderSubtitle) return script_->noTitleTexts;
  if (id == kHyperlink) return !hasLink_;
  return false;
}

void WizardController::setText(int id, const char* text) {
  if (!isNull(id)) view_->setText(id, text);
}

void WizardController::show(int id, bool visible) {
  if (!isNull(id)) view_->show(id, visible);
}

const char* WizardController::format(const char* pattern) {
  formatWizardText(text_, sizeof text_, pattern, script_->productName);
  return text_;
}

void WizardController::initialise(const WizardGeometry& geometry) {
  geometry_ = geometry;
  // The side hint keeps this text until the finished page.
  view_->setText(kSideHint, kWelcomeHint);
  // Setting the edit's text notifies a change, which does nothing while wizardPage is 0.
  view_->setText(kDestinationEdit, installDir_);
  view_->setText(kLicenceBox, script_->licenceText ? script_->licenceText : "");
  view_->setCaption(script_->windowCaption ? script_->windowCaption : "");
  next();
}

void WizardController::applySideLayout() {
  view_->placeFooterLine(0, geometry_.lineY, geometry_.sideWidth, geometry_.lineH);
}

void WizardController::applyHeaderLayout() {
  view_->placeFooterLine(geometry_.lineX, geometry_.lineY, geometry_.lineW, geometry_.lineH);
  show(kHeaderLine, true);
  show(kHyperlink, true);
  show(kFooterHint, true);
  // With no title texts the two controls are null and stay hidden.
  show(kHeaderTitle, true);
  show(kHeaderSubtitle, true);
  view_->invalidateSideArea();
}

void WizardController::welcomePage() {
  const char* welcome = format(kWelcomeTitle);
  view_->setText(kNextButton, kNext);
  view_->setText(bodyControl_, script_->welcomeText ? script_->welcomeText : "");
  view_->show(bodyControl_, true);
  wizardPage = 1;
  if (hasSide_) {
    view_->setText(kBigTitle, welcome);
    applySideLayout();
    view_->show(kBigTitle, true);
    view_->show(kSideHint, true);
    show(kHeaderLine, false);
    show(kHyperlink, false);
    show(kFooterHint, false);
    show(kHeaderTitle, false);
    show(kHeaderSubtitle, false);
    view_->invalidateSideArea();
  } else {
    setText(kHeaderTitle, welcome);
    setText(kHeaderSubtitle, format(kWelcomeSubtitle));
    // The footer hint would otherwise be blank at first and stale after Back.
    view_->setText(kFooterHint, kWelcomeHint);
    applyHeaderLayout();
  }
}

void WizardController::licencePage() {
  view_->show(kBigTitle, false);
  view_->show(bodyControl_, false);
  view_->show(kSideHint, false);
  if (!hasLicence_) {
    destinationPage();
    return;
  }
  setText(kHeaderSubtitle, format(kLicenceSubtitle));
  setText(kHeaderTitle, kLicenceTitle);
  view_->setText(kNextButton, kAgree);
  view_->setText(kFooterHint, kLicenceHint);
  view_->show(kBackButton, true);
  view_->show(kLicencePrompt, true);
  view_->show(kLicenceBox, true);
  wizardPage = 2;
  applyHeaderLayout();
}

void WizardController::destinationPage() {
  setText(kHeaderSubtitle, format(kDestinationSubtitle));
  setText(kHeaderTitle, kDestinationTitle);
  view_->setText(kFooterHint, kDestinationHint);
  view_->setText(kNextButton, kNext);
  view_->setText(kStatusText, format(kDestinationStatus));
  view_->show(kDestinationGroup, true);
  view_->show(kStatusText, true);
  view_->show(kDestinationEdit, true);
  view_->show(kBrowseButton, true);
  view_->show(kBackButton, true);
  view_->show(kLicencePrompt, false);
  view_->show(kLicenceBox, false);
  wizardPage = 3;
  destinationChanged();
  applyHeaderLayout();
}

void WizardController::readyPage() {
  setText(kHeaderSubtitle, format(kReadySubtitle));
  setText(kHeaderTitle, kReadyTitle);
  view_->setText(kStatusText, kReadyStatus);
  view_->setText(kFooterHint, kReadyHint);
  view_->setText(kNextButton, kInstall);
  wizardPage = 4;
  view_->show(kDestinationEdit, false);
  view_->show(kBrowseButton, false);
  view_->show(kDestinationGroup, false);
  view_->enable(kNextButton, true);
  view_->invalidateSideArea();
}

void WizardController::installingPage() {
  view_->show(kProgressBar, true);
  view_->setProgressRange(100, 1);
  setText(kHeaderSubtitle, format(kInstallingSubtitle));
  setText(kHeaderTitle, kInstallingTitle);
  view_->show(kFooterHint, false);
  // The edit's whole text: validation refused anything longer than installDir takes.
  char edit[kDestinationRoom];
  uint32_t n = view_->destinationText(edit, sizeof edit);
  if (n > kInstallDirMaxChars) n = kInstallDirMaxChars;
  for (uint32_t i = 0; i < n; ++i) installDir_[i] = edit[i];
  installDir_[n] = 0;
  view_->setText(kStatusText, kCopyingFile);
  view_->show(kFileLabel, true);
  view_->enable(kNextButton, false);
  view_->enable(kBackButton, false);
  if (!view_->startWorker()) {
    // Without a worker nothing would ever finish: say so and end; the page stays 4, so the
    // start-up ends the run without any post-install step.
    view_->ask(kErrorCaption, kWorkerNotStarted, kErrorStyle);
    view_->endDialog();
    return;
  }
  wizardPage = 5;
  view_->invalidateSideArea();
}

void WizardController::next() {
  switch (wizardPage) {
    case 0: welcomePage(); break;
    case 1: licencePage(); break;
    case 2: destinationPage(); break;
    case 3: readyPage(); break;
    case 4: installingPage(); break;
    default: break;  // Next is disabled on page 5 and hidden on page 6
  }
}

void WizardController::back() {
  switch (wizardPage) {
    case 2:
      view_->show(kLicencePrompt, false);
      view_->show(kLicenceBox, false);
      view_->show(kBackButton, false);
      welcomePage();
      break;
    case 3:
      view_->show(kDestinationEdit, false);
      view_->show(kBrowseButton, false);
      view_->show(kDestinationGroup, false);
      view_->enable(kNextButton, true);
      view_->show(kStatusText, false);
      if (hasLicence_) {
        licencePage();
      } else {
        view_->show(kBackButton, false);
        welcomePage();
      }
      break;
    case 4: destinationPage(); break;
    default: break;  // Back is hidden on pages 1 and 6, disabled on page 5
  }
}

void WizardController::close() {
  if (wizardPage == 5) {
    // Hold the worker at a safe point first, so nothing is installed while the user decides.
    view_->pauseWorker();
    if (wizardPage != 5) {
      // The installation completed while the worker was being held: the finished page is on
      // show and the user can leave with Finish; nothing is quit half way.
      view_->releaseWorker(true);
      return;
    }
    if (view_->ask(kWarningCaption, kQuitQuestion, kQuitStyle) != 6) {
      view_->releaseWorker(true);
      return;
    }
    view_->releaseWorker(false);
  }
  view_->endDialog();
}

void WizardController::destinationChanged() {
  if (wizardPage != 3) return;
  char text[kDestinationRoom];
  const uint32_t n = view_->destinationText(text, sizeof text);
  struct Ask {
    static uint32_t drive(const char* root, void* view) {
      return static_cast<WizardView*>(view)->driveType(root);
    }
  };
  view_->enable(kNextButton, destinationAcceptable(text, n, &Ask::drive, view_));
}

void WizardController::browse() {
  char chosen[kDestinationRoom];
  if (!view_->browseFolder(chosen, sizeof chosen)) return;
  char result[kDestinationRoom];
  composeBrowseResult(chosen, browseSubfolder(script_->destinationKind, script_->destinationPath),
                      result, sizeof result);
  // The edit's change notification validates the new text.
  view_->setText(kDestinationEdit, result);
}

void WizardController::showFinishedPage(const char* finishText) {
  view_->show(kBackButton, false);
  view_->show(kNextButton, false);
  view_->show(kProgressBar, false);
  view_->show(kFileLabel, false);
  view_->show(kStatusText, false);
  view_->setText(kCancelButton, kFinish);
  const char* done = format(kFinishedText);
  int hint;
  if (hasSide_) {
    view_->setText(kBigTitle, done);
    applySideLayout();
    show(kHeaderTitle, false);
    show(kHeaderSubtitle, false);
    show(kHeaderLine, false);
    show(kHyperlink, false);
    view_->show(kBigTitle, true);
    hint = kSideHint;
  } else {
    setText(kHeaderTitle, kFinishedTitle);
    setText(kHeaderSubtitle, done);
    hint = kFooterHint;
  }
  view_->setText(hint, kFinishHint);
  view_->show(hint, true);
  view_->setText(bodyControl_, finishText ? finishText : "");
  view_->show(bodyControl_, true);
  wizardPage = 6;
  view_->invalidateAll();
}

}  // namespace mw
