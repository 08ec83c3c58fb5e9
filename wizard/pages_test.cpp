#include "wizard/pages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "core/text.h"
#include "wizard/wizard.h"

namespace mw {
namespace {

// A model of the dialog: every control with its text, visibility and enabled state as the
// template starts them, and a log of everything else the controller asks for.
struct ModelDialog {
  struct Control {
    std::string text;
    bool visible = false;
    bool enabled = true;
    int textSets = 0;
    int shows = 0;
  };
  std::map<int, Control> controls;
  std::string caption;
  std::vector<std::string> log;
  struct Line { int x, y, w, h; } footer{-1, -1, -1, -1};
  std::map<char, uint32_t> drives{{'C', 3}, {'D', 3}};
  bool workerStarts = true;
  bool finishWhilePausing = false;
  int answer = 7;  // No
  std::string browseChoice;
  WizardController* controller = nullptr;
  bool ended = false;
  int progressMax = 0, progressStep = 0;

  ModelDialog() {
    for (int id : kWizardControlIds) controls[id];
    controls[kFooterLine].visible = true;
    controls[kCancelButton].visible = true;
    controls[kNextButton].visible = true;
    controls[kHyperlink].enabled = false;
    controls[kCancelButton].text = "Cancel";
    controls[kBackButton].text = "< Back";
    controls[kLicencePrompt].text = "Press Page Down to see the rest of the agreement.";
  }
  Control& c(int id) { return controls.at(id); }
  bool visible(int id) { return c(id).visible; }
  bool enabled(int id) { return c(id).enabled; }
  const std::string& text(int id) { return c(id).text; }

  void setText(int id, const char* t) {
    ASSERT_TRUE(controls.count(id)) << id;
    c(id).text = t;
    c(id).textSets++;
    // The edit notifies its change, as the dialog's own edit does.
    if (id == kDestinationEdit && controller) controller->destinationChanged();
  }
  void show(int id, bool v) {
    ASSERT_TRUE(controls.count(id)) << id;
    c(id).visible = v;
    c(id).shows++;
  }
  void enable(int id, bool e) { c(id).enabled = e; }
  void setCaption(const char* t) { caption = t; }
  void placeFooterLine(int x, int y, int w, int h) {
    footer = {x, y, w, h};
    c(kFooterLine).visible = true;
  }
  void invalidateSideArea() { log.push_back("invalidate side"); }
  void invalidateAll() { log.push_back("invalidate all"); }
  void setProgressRange(int max, int step) {
    progressMax = max;
    progressStep = step;
  }
  uint32_t destinationText(char* out, uint32_t room) {
    const std::string& t = text(kDestinationEdit);
    uint32_t n = uint32_t(t.size()) < room - 1 ? uint32_t(t.size()) : room - 1;
    t.copy(out, n);
    out[n] = 0;
    return n;
  }
  uint32_t driveType(const char* root) {
    auto it = drives.find(root[0]);
    return it == drives.end() ? 1 : it->second;
  }
  bool browseFolder(char* out, uint32_t room) {
    if (browseChoice.empty()) return false;
    snprintf(out, room, "%s", browseChoice.c_str());
    return true;
  }
  bool startWorker() {
    log.push_back("start worker");
    return workerStarts;
  }
  void pauseWorker() {
    log.push_back("pause worker");
    if (finishWhilePausing) controller->showFinishedPage("done early");
  }
  void releaseWorker(bool goOn) { log.push_back(goOn ? "resume worker" : "stop worker"); }
  int ask(const char* caption, const char* t, unsigned style) {
    log.push_back(std::string("ask ") + caption + "|" + t + "|" + std::to_string(style));
    return answer;
  }
  void endDialog() {
    log.push_back("end");
    ended = true;
  }
  bool logged(const std::string& what) {
    for (auto& l : log)
      if (l.rfind(what, 0) == 0) return true;
    return false;
  }
};

// The dialog the controller acts on: the model of the test that runs.
ModelDialog* model = nullptr;

struct Wizard {
  SetupScript script{};
  char installDir[1024] = "C:\\Program Files\\Acme Tool";
  ModelDialog dialog;
  WizardController controller;
  WizardGeometry geometry{64, 304, 434, 2, 498};

  explicit Wizard(bool side = false, bool licence = true, bool link = true,
                  bool noTitles = false) {
    static const uint8_t fakeBmp[1] = {0};
    if (side) {
      script.sideBitmap.length = 1;
      script.sideBitmap.file = fakeBmp;
    }
    script.headerTextColour = noTitles ? kNoTitleTexts : 0;
    script.noTitleTexts = noTitles;
    script.windowCaption = "Acme Setup";
    script.productName = "Acme Tool";
    script.welcomeText = "Welcome body";
    script.licenceText = licence ? "Licence terms" : "";
    script.destinationPath = "Acme Tool";
    script.linkText = link ? "acme.example" : "";
    script.linkTarget = link ? "http://acme.example/" : "";
    dialog.controller = &controller;
    model = &dialog;
    controller.bind(script, installDir);
  }
  void start() { controller.initialise(geometry); }
  void typeDestination(const std::string& t) { dialog.setText(kDestinationEdit, t.c_str()); }
};

TEST(Pages, WelcomeInHeaderLayout) {
  Wizard w;
  EXPECT_EQ(wizardPage, 0);
  w.start();
  ModelDialog& d = w.dialog;
  EXPECT_EQ(wizardPage, 1);
  EXPECT_EQ(d.caption, "Acme Setup");
  EXPECT_EQ(d.text(kHeaderTitle), "Welcome to the Acme Tool Setup Wizard");
  EXPECT_EQ(d.text(kHeaderSubtitle), "This program will install Acme Tool on your computer");
  EXPECT_EQ(d.text(kBodyText), "Welcome body");
  EXPECT_EQ(d.text(kFooterHint), "Click Next to continue, or Cancel to exit Setup...");
  EXPECT_EQ(d.text(kSideHint), "Click Next to continue, or Cancel to exit Setup...");
  EXPECT_EQ(d.text(kNextButton), "Next >");
  EXPECT_EQ(d.text(kLicenceBox), "Licence terms");
  EXPECT_EQ(d.text(kDestinationEdit), "C:\\Program Files\\Acme Tool");
  for (int id : {kHeaderLine, kFooterLine, kHeaderTitle, kHeaderSubtitle, kBodyText, kHyperlink,
                 kFooterHint, kNextButton, kCancelButton})
    EXPECT_TRUE(d.visible(id)) << id;
  for (int id : {kBigTitle, kSideBodyText, kSideHint, kBackButton, kLicenceBox, kLicencePrompt,
                 kStatusText, kProgressBar, kFileLabel, kDestinationEdit, kBrowseButton,
                 kDestinationGroup})
    EXPECT_FALSE(d.visible(id)) << id;
  EXPECT_EQ(d.footer.x, 64);
  EXPECT_EQ(d.footer.w, 434);
  EXPECT_TRUE(d.logged("invalidate side"));
  EXPECT_FALSE(d.enabled(kHyperlink));  // enabling is the painting side's business
}

TEST(Pages, WelcomeAndFinishedInSideLayout) {
  Wizard w(/*side=*/true);
  w.start();
  ModelDialog& d = w.dialog;
  EXPECT_TRUE(w.controller.sideLayout());
  EXPECT_EQ(d.text(kBigTitle), "Welcome to the Acme Tool Setup Wizard");
  EXPECT_EQ(d.text(kSideBodyText), "Welcome body");
  EXPECT_EQ(d.text(kBodyText), "");
  for (int id : {kBigTitle, kSideBodyText, kSideHint, kFooterLine}) EXPECT_TRUE(d.visible(id)) << id;
  for (int id : {kHeaderLine, kHyperlink, kFooterHint, kHeaderTitle, kHeaderSubtitle, kBodyText})
    EXPECT_FALSE(d.visible(id)) << id;
  EXPECT_EQ(d.footer.x, 0);
  EXPECT_EQ(d.footer.w, 498);
  EXPECT_EQ(d.footer.y, 304);

  w.controller.next();  // licence: the inner pages use the header layout
  EXPECT_FALSE(w.controller.sideLayout());
  for (int id : {kBigTitle, kSideBodyText, kSideHint}) EXPECT_FALSE(d.visible(id)) << id;
  for (int id : {kHeaderLine, kHyperlink, kFooterHint, kHeaderTitle}) EXPECT_TRUE(d.visible(id)) << id;
  EXPECT_EQ(d.footer.x, 64);
  w.controller.next();
  w.controller.next();
  w.controller.next();
  ASSERT_EQ(wizardPage, 5);
  w.controller.showFinishedPage("All done");
  EXPECT_EQ(wizardPage, 6);
  EXPECT_TRUE(w.controller.sideLayout());
  EXPECT_EQ(d.text(kBigTitle), "Acme Tool has been successfully installed");
  EXPECT_EQ(d.text(kSideHint), "Click 'Finish' to exit this installation.");
  EXPECT_EQ(d.text(kSideBodyText), "All done");
  EXPECT_EQ(d.text(kCancelButton), "Finish");
  for (int id : {kBigTitle, kSideBodyText, kSideHint, kCancelButton}) EXPECT_TRUE(d.visible(id)) << id;
  for (int id : {kHeaderLine, kHyperlink, kFooterHint, kHeaderTitle, kHeaderSubtitle, kBackButton,
                 kNextButton, kProgressBar, kFileLabel, kStatusText, kBodyText})
    EXPECT_FALSE(d.visible(id)) << id;
  EXPECT_EQ(d.footer.x, 0);
  EXPECT_EQ(d.log.back(), "invalidate all");
}

TEST(Pages, LicenceRoundTrip) {
  Wizard w;
  w.start();
  ModelDialog& d = w.dialog;
  w.controller.next();
  EXPECT_EQ(wizardPage, 2);
  EXPECT_EQ(d.text(kHeaderTitle), "License Agreement");
  EXPECT_EQ(d.text(kHeaderSubtitle), "Please review the licence terms before installing Acme Tool.");
  EXPECT_EQ(d.text(kNextButton), "I Agree");
  EXPECT_EQ(d.text(kFooterHint),
            "If you accept all the terms of the agreement, click 'I Agree' to continue.");
  for (int id : {kBackButton, kLicencePrompt, kLicenceBox, kHeaderLine}) EXPECT_TRUE(d.visible(id)) << id;
  EXPECT_FALSE(d.visible(kBodyText));

  w.controller.back();
  EXPECT_EQ(wizardPage, 1);
  EXPECT_FALSE(d.visible(kBackButton));
  EXPECT_FALSE(d.visible(kLicenceBox));
  EXPECT_TRUE(d.visible(kBodyText));
  // Back on the welcome page does not leave the licence hint behind.
  EXPECT_EQ(d.text(kFooterHint), "Click Next to continue, or Cancel to exit Setup...");
  EXPECT_EQ(d.text(kNextButton), "Next >");

  w.controller.next();
  w.controller.next();
  EXPECT_EQ(wizardPage, 3);
  EXPECT_EQ(d.text(kNextButton), "Next >");
  EXPECT_FALSE(d.visible(kLicenceBox));
  EXPECT_FALSE(d.visible(kLicencePrompt));
  w.controller.back();
  EXPECT_EQ(wizardPage, 2);
  EXPECT_EQ(d.text(kNextButton), "I Agree");
  for (int id : {kDestinationEdit, kBrowseButton, kDestinationGroup, kStatusText})
    EXPECT_FALSE(d.visible(id)) << id;
  EXPECT_TRUE(d.visible(kBackButton));
  EXPECT_FALSE(d.ended);
}

TEST(Pages, WithoutLicenceBackFromDestinationReturnsToWelcome) {
  Wizard w(false, /*licence=*/false);
  w.start();
  ModelDialog& d = w.dialog;
  w.controller.next();
  EXPECT_EQ(wizardPage, 3);
  EXPECT_TRUE(d.visible(kBackButton));
  EXPECT_FALSE(d.visible(kLicenceBox));
  EXPECT_FALSE(d.visible(kBodyText));
  w.controller.back();
  EXPECT_EQ(wizardPage, 1);
  EXPECT_FALSE(d.visible(kBackButton));
  EXPECT_FALSE(d.visible(kStatusText));
  EXPECT_TRUE(d.visible(kBodyText));
}

TEST(Pages, DestinationValidationFollowsTheEdit) {
  Wizard w;
  w.start();
  ModelDialog& d = w.dialog;
  // Before the destination page a bad text changes nothing.
  w.typeDestination("C:");
  EXPECT_TRUE(d.enabled(kNextButton));
  w.controller.next();
  w.controller.next();
  ASSERT_EQ(wizardPage, 3);
  EXPECT_FALSE(d.enabled(kNextButton));  // entering the page validated "C:"
  EXPECT_EQ(d.text(kHeaderTitle), "Destination Location");
  EXPECT_EQ(d.text(kHeaderSubtitle), "Choose the folder in which to install Acme Tool.");
  EXPECT_EQ(d.text(kFooterHint), "Click 'Next' to continue...");
  EXPECT_EQ(d.text(kStatusText),
            "Setup will install Acme Tool in the following folder.\r\nTo install in a different "
            "folder, click 'Browse' and select another folder.");
  for (int id : {kDestinationGroup, kStatusText, kDestinationEdit, kBrowseButton, kBackButton})
    EXPECT_TRUE(d.visible(id)) << id;

  struct Case { const char* text; bool ok; } cases[] = {
      {"C:\\", true},  {"C:", false},         {"Programs\\Tool", false}, {"C:\\a?b", false},
      {"Z:\\x", false}, {"\\\\server\\share\\x", true}, {"D:\\Apps", true},
  };
  for (auto& c : cases) {
    w.typeDestination(c.text);
    EXPECT_EQ(d.enabled(kNextButton), c.ok) << c.text;
  }

  // Back from the destination page enables Next although the text is refused.
  w.typeDestination("C:");
  EXPECT_FALSE(d.enabled(kNextButton));
  w.controller.back();
  EXPECT_TRUE(d.enabled(kNextButton));
  w.controller.next();
  EXPECT_FALSE(d.enabled(kNextButton));
}

TEST(Pages, BrowseSetsTheEditAndRevalidates) {
  Wizard w(false, false);
  w.start();
  ModelDialog& d = w.dialog;
  w.controller.next();
  ASSERT_EQ(wizardPage, 3);
  w.typeDestination("bad");
  EXPECT_FALSE(d.enabled(kNextButton));
  w.controller.browse();  // cancelled: nothing changes
  EXPECT_EQ(d.text(kDestinationEdit), "bad");
  d.browseChoice = "D:\\";
  w.controller.browse();
  EXPECT_EQ(d.text(kDestinationEdit), "D:\\Acme Tool");
  EXPECT_TRUE(d.enabled(kNextButton));
  // A product whose destination is a complete path appends its last folder name only.
  w.script.destinationKind = 0;
  w.script.destinationPath = "C:\\Tools\\Acme Tool";
  d.browseChoice = "D:\\Apps";
  w.controller.browse();
  EXPECT_EQ(d.text(kDestinationEdit), "D:\\Apps\\Acme Tool");
  d.browseChoice = "D:\\" + std::string(300, 'x');
  w.controller.browse();
  EXPECT_FALSE(d.enabled(kNextButton));
}

TEST(Pages, ReadyInstallingAndBackToDestination) {
  Wizard w;
  w.start();
  ModelDialog& d = w.dialog;
  w.controller.next();
  w.controller.next();
  w.typeDestination("D:\\Target");
  w.controller.next();
  ASSERT_EQ(wizardPage, 4);
  EXPECT_EQ(d.text(kHeaderTitle), "Start Installation");
  EXPECT_EQ(d.text(kHeaderSubtitle), "You are now ready to install Acme Tool.");
  EXPECT_EQ(d.text(kStatusText), "Click 'Install' to begin the installation.");
  EXPECT_EQ(d.text(kFooterHint),
            "Click 'Back' to reenter the installation information or 'Cancel' to exit the wizard");
  EXPECT_EQ(d.text(kNextButton), "Install");
  for (int id : {kDestinationEdit, kBrowseButton, kDestinationGroup}) EXPECT_FALSE(d.visible(id)) << id;
  EXPECT_TRUE(d.visible(kStatusText));
  EXPECT_TRUE(d.visible(kBackButton));

  // Back redoes the destination page: caption, texts and validation.
  w.typeDestination("nowhere");  // the edit is hidden, yet its text is what counts
  w.controller.back();
  EXPECT_EQ(wizardPage, 3);
  EXPECT_EQ(d.text(kNextButton), "Next >");
  EXPECT_FALSE(d.enabled(kNextButton));
  w.typeDestination("D:\\Target");
  w.controller.next();
  EXPECT_TRUE(d.enabled(kNextButton));
  EXPECT_FALSE(d.logged("start worker"));

  w.controller.next();  // Install
  EXPECT_EQ(wizardPage, 5);
  EXPECT_STREQ(w.installDir, "D:\\Target");
  EXPECT_TRUE(d.logged("start worker"));
  EXPECT_EQ(d.text(kHeaderTitle), "Installing");
  EXPECT_EQ(d.text(kHeaderSubtitle), "Please wait while Acme Tool Setup is being installed");
  EXPECT_EQ(d.text(kStatusText), "Copying File:");
  EXPECT_EQ(d.progressMax, 100);
  EXPECT_EQ(d.progressStep, 1);
  for (int id : {kProgressBar, kFileLabel, kStatusText}) EXPECT_TRUE(d.visible(id)) << id;
  EXPECT_FALSE(d.visible(kFooterHint));
  EXPECT_FALSE(d.enabled(kNextButton));
  EXPECT_FALSE(d.enabled(kBackButton));
  // Disabled buttons cannot be pressed, but a stray command does nothing either.
  w.controller.next();
  w.controller.back();
  EXPECT_EQ(wizardPage, 5);

  w.controller.showFinishedPage("Thanks");
  EXPECT_EQ(wizardPage, 6);
  EXPECT_EQ(d.text(kHeaderTitle), "Completing setup wizard");
  EXPECT_EQ(d.text(kHeaderSubtitle), "Acme Tool has been successfully installed");
  EXPECT_EQ(d.text(kFooterHint), "Click 'Finish' to exit this installation.");
  EXPECT_EQ(d.text(kBodyText), "Thanks");
  EXPECT_EQ(d.text(kCancelButton), "Finish");
  for (int id : {kFooterHint, kBodyText, kCancelButton, kHeaderTitle, kHeaderLine}) EXPECT_TRUE(d.visible(id)) << id;
  for (int id : {kNextButton, kBackButton, kProgressBar, kFileLabel, kStatusText})
    EXPECT_FALSE(d.visible(id)) << id;
  w.controller.close();
  EXPECT_TRUE(d.ended);
  EXPECT_FALSE(d.logged("ask"));
}

TEST(Pages, CancelOnEarlyPagesEndsWithoutQuestion) {
  for (int pages = 0; pages < 4; ++pages) {
    Wizard w;
    w.start();
    for (int i = 0; i < pages; ++i) w.controller.next();
    EXPECT_EQ(wizardPage, pages + 1);
    w.controller.close();
    EXPECT_TRUE(w.dialog.ended);
    EXPECT_FALSE(w.dialog.logged("ask"));
    EXPECT_FALSE(w.dialog.logged("start worker"));
  }
}

TEST(Pages, QuitQuestionWhileInstalling) {
  Wizard w;
  w.start();
  for (int i = 0; i < 4; ++i) w.controller.next();
  ASSERT_EQ(wizardPage, 5);
  ModelDialog& d = w.dialog;
  d.answer = 7;  // No
  w.controller.close();
  EXPECT_FALSE(d.ended);
  ASSERT_EQ(d.log.size(), 9u);
  std::vector<std::string> tail(d.log.end() - 3, d.log.end());
  EXPECT_EQ(tail[0], "pause worker");
  EXPECT_EQ(tail[1],
            "ask Warning|Setup is not complete.\r\nAre you sure want to quit the setup?|52");
  EXPECT_EQ(tail[2], "resume worker");
  EXPECT_EQ(wizardPage, 5);

  d.answer = 6;  // Yes
  w.controller.close();
  EXPECT_TRUE(d.ended);
  EXPECT_EQ(d.log[d.log.size() - 2], "stop worker");
  EXPECT_EQ(wizardPage, 5);  // the start-up ends the run
}

TEST(Pages, InstallationFinishingWhileTheWorkerIsHeld) {
  Wizard w;
  w.start();
  for (int i = 0; i < 4; ++i) w.controller.next();
  w.dialog.finishWhilePausing = true;
  w.controller.close();
  EXPECT_EQ(wizardPage, 6);
  EXPECT_FALSE(w.dialog.logged("ask"));
  EXPECT_FALSE(w.dialog.ended);
}

TEST(Pages, WorkerThatCannotStart) {
  Wizard w;
  w.start();
  w.dialog.workerStarts = false;
  for (int i = 0; i < 4; ++i) w.controller.next();
  EXPECT_EQ(wizardPage, 4);
  EXPECT_TRUE(w.dialog.ended);
  EXPECT_TRUE(w.dialog.logged("ask Error|Setup could not start the installation."));
}

TEST(Pages, NoTitleTextsAndNoHyperlink) {
  for (bool side : {false, true}) {
    Wizard w(side, true, /*link=*/false, /*noTitles=*/true);
    w.start();
    for (int i = 0; i < 4; ++i) w.controller.next();
    w.controller.showFinishedPage("x");
    w.controller.close();
    ModelDialog& d = w.dialog;
    for (int id : {kHeaderTitle, kHeaderSubtitle, kHyperlink}) {
      EXPECT_EQ(d.c(id).textSets, 0) << id;
      EXPECT_EQ(d.c(id).shows, 0) << id;
      EXPECT_FALSE(d.visible(id)) << id;
    }
    EXPECT_TRUE(d.visible(kHeaderLine) || side);
  }
}

TEST(Pages, LongProductNameIsCutNotOverrun) {
  Wizard w;
  std::string name(3000, 'N');
  w.script.productName = name.c_str();
  w.start();
  const std::string& title = w.dialog.text(kHeaderTitle);
  EXPECT_EQ(title.size(), kWizardTextRoom - 1);
  EXPECT_EQ(title.rfind("Welcome to the NNN", 0), 0u);

  // The checks' bounded formatter, which makes the page texts.
  char small[8];
  EXPECT_EQ(formatText(small, sizeof small, "ab%scd", "XYZW"), 7u);
  EXPECT_STREQ(small, "abXYZWc");
  EXPECT_EQ(formatText(small, sizeof small, "%s%s", "1"), 3u);
  EXPECT_STREQ(small, "1%s");  // only the first %s is the product's name
}

}  // namespace

// The link-time binding of the page controller's view, onto the model.
void FakeWizardView::setText(int id, const char* text) { model->setText(id, text); }
void FakeWizardView::show(int id, bool visible) { model->show(id, visible); }
void FakeWizardView::enable(int id, bool enabled) { model->enable(id, enabled); }
void FakeWizardView::setCaption(const char* text) { model->setCaption(text); }
void FakeWizardView::placeFooterLine(int x, int y, int w, int h) { model->placeFooterLine(x, y, w, h); }
void FakeWizardView::invalidateSideArea() { model->invalidateSideArea(); }
void FakeWizardView::invalidateAll() { model->invalidateAll(); }
void FakeWizardView::setProgressRange(int max, int step) { model->setProgressRange(max, step); }
uint32_t FakeWizardView::destinationText(char* out, uint32_t room) {
  return model->destinationText(out, room);
}
uint32_t FakeWizardView::driveType(const char* root) { return model->driveType(root); }
bool FakeWizardView::browseFolder(char* out, uint32_t room) { return model->browseFolder(out, room); }
bool FakeWizardView::startWorker() { return model->startWorker(); }
void FakeWizardView::pauseWorker() { model->pauseWorker(); }
void FakeWizardView::releaseWorker(bool goOn) { model->releaseWorker(goOn); }
int FakeWizardView::ask(const char* caption, const char* text, unsigned style) {
  return model->ask(caption, text, style);
}
void FakeWizardView::endDialog() { model->endDialog(); }

}  // namespace mw
