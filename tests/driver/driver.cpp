// mw_driver: runs a Windows program under test and plays a script of expectations against its
// windows, from inside wine (or Windows). Usage and the step language: tests/driver/README.md.
//
// It starts the program, then for each step waits (polling) until the windows it needs are
// there: message boxes (class #32770 with a text control of id 0xFFFF) are read and answered by
// button, dialogs (#32770 without that control) are inspected and operated by control id.
// Everything it sees and does is printed to stdout as one ASCII line per event; at the end it
// waits for the program and exits with the program's exit code. Driver failures (an expectation
// not met, a time-out) end the program under test and exit with 125 (failed step) or 124
// (time-out), after printing what is on the screen.
#include <windows.h>
#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kExitStepFailed = 125;
constexpr int kExitTimedOut = 124;
constexpr int kExitUsage = 126;
constexpr int kMessageBoxTextId = 0xFFFF;

struct Step {
  std::string verb;
  std::vector<std::string> args;
};

// How many arguments each verb takes.
struct VerbInfo {
  const char* name;
  int argc;
};
const VerbInfo kVerbs[] = {
    {"box", 1},          {"box-text", 2},      {"dialog", 1},       {"dump", 0},
    {"expect-text", 2},  {"wait-text", 2},     {"expect-visible", 2}, {"wait-visible", 2},
    {"expect-enabled", 2}, {"wait-enabled", 2}, {"click", 1},        {"command", 1},
    {"type", 2},         {"close", 0},         {"sleep", 1},        {"wait-gone", 0},
    {"exit", 1},         {"wait-box", 1},      {"remove", 1},     {"click-through", 3},
};

struct Options {
  double timeout = 600;      // the whole run
  double stepTimeout = 120;  // one step's wait
  bool stopBoxes = false;    // answer boxes no step expects with their stopping answer
  bool follow = false;       // the program hands over to another process: steps outlive it
  std::vector<Step> steps;
  std::string program;
  std::string tail;          // the rest of the command line, joined with single blanks
};

Options opts;
PROCESS_INFORMATION child{};
DWORD startTick;
HWND currentDialog;
std::vector<HWND> answeredBoxes;
bool hadUnexpectedBox = false;

// ---- Output -------------------------------------------------------------------------------

// Texts are printed with CR, LF and tab written as \r, \n, \t, quotes as \" and other bytes
// outside printable ASCII as \xHH. Backslashes stay as they are so paths read naturally;
// patterns are matched against this same printed form.
std::string printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '"') out += "\\\"";
    else if (c < 0x20 || c > 0x7E) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else out += char(c);
  }
  return out;
}

void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stdout, format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Glob match: '*' any run, '?' any one character.
bool matches(const char* pattern, const char* text) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*text) {
    if (*pattern == '*') {
      star = pattern++;
      resume = text;
    } else if (*pattern == '?' || *pattern == *text) {
      ++pattern;
      ++text;
    } else if (star) {
      pattern = star + 1;
      text = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

bool matches(const std::string& pattern, const std::string& text) {
  return matches(pattern.c_str(), printable(text).c_str());
}

// ---- Windows of the program ----------------------------------------------------------------

std::string className(HWND w) {
  char buf[128] = {};
  GetClassNameA(w, buf, sizeof buf);
  return buf;
}

// Works across processes: WM_GETTEXT is marshalled, GetWindowTextA would not ask the control.
std::string windowText(HWND w) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(w, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return "";
  std::string buf(length + 1, '\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutA(w, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&buf[0]), SMTO_ABORTIFHUNG,
                      5000, &got);
  buf.resize(got <= length ? got : length);
  return buf;
}

bool ownVisible(HWND w) { return (GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0; }

bool isDialogClass(HWND w) { return className(w) == "#32770"; }

bool isMessageBox(HWND w) { return isDialogClass(w) && GetDlgItem(w, kMessageBoxTextId) != nullptr; }

BOOL CALLBACK collectDialog(HWND w, LPARAM p) {
  if (IsWindowVisible(w) && isDialogClass(w)) reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

BOOL CALLBACK collectChild(HWND w, LPARAM p) {
  reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
  return TRUE;
}

std::vector<HWND> topWindows() {
  std::vector<HWND> found;
  EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

HWND findMessageBox() {
  // Forget boxes that are gone; a box just answered may linger for a moment and must not be
  // answered twice.
  std::vector<HWND> live;
  for (HWND w : answeredBoxes)
    if (IsWindow(w)) live.push_back(w);
  answeredBoxes.swap(live);
  for (HWND w : topWindows()) {
    if (!isMessageBox(w)) continue;
    bool seen = false;
    for (HWND a : answeredBoxes) seen = seen || a == w;
    if (!seen) return w;
  }
  return nullptr;
}

struct ButtonName {
  int id;
  const char* name;
};
const ButtonName kButtons[] = {{IDOK, "OK"},       {IDCANCEL, "Cancel"}, {IDABORT, "Abort"},
                               {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}, {IDYES, "Yes"},
                               {IDNO, "No"}};

int buttonId(const std::string& name) {
  for (const ButtonName& b : kButtons)
    if (_stricmp(b.name, name.c_str()) == 0) return b.id;
  return 0;
}

const char* buttonName(int id) {
  for (const ButtonName& b : kButtons)
    if (b.id == id) return b.name;
  return "?";
}

std::vector<int> boxButtons(HWND box) {
  std::vector<int> ids;
  for (const ButtonName& b : kButtons) {
    HWND w = GetDlgItem(box, b.id);
    if (w && className(w) == "Button" && ownVisible(w)) ids.push_back(b.id);
  }
  return ids;
}

// The answer that stops rather than goes on: No, else Abort, else Cancel, else OK.
int stoppingAnswer(const std::vector<int>& ids) {
  for (int pick : {IDNO, IDABORT, IDCANCEL, IDOK})
    for (int id : ids)
      if (id == pick) return id;
  return ids.empty() ? IDOK : ids[0];
}

void answerBox(HWND box, int id, const char* why) {
  const std::vector<int> ids = boxButtons(box);
  std::string names;
  for (int b : ids) names += std::string(names.empty() ? "" : ",") + buttonName(b);
  say("box caption=\"%s\" text=\"%s\" buttons=%s answer=%s%s", printable(windowText(box)).c_str(),
      printable(windowText(GetDlgItem(box, kMessageBoxTextId))).c_str(), names.c_str(),
      buttonName(id), why);
  answeredBoxes.push_back(box);
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void dumpDialog(HWND dialog) {
  say("dialog caption=\"%s\"", printable(windowText(dialog)).c_str());
  std::vector<HWND> controls;
  EnumChildWindows(dialog, collectChild, reinterpret_cast<LPARAM>(&controls));
  for (HWND w : controls) {
    const std::string cls = className(w);
    std::string extra;
    if (cls == "msctls_progress32") {
      DWORD_PTR pos = 0;
      SendMessageTimeoutA(w, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &pos);
      extra = " position=" + std::to_string(pos);
    }
    say("control id=%d class=%s visible=%d enabled=%d text=\"%s\"%s", GetDlgCtrlID(w), cls.c_str(),
        ownVisible(w) ? 1 : 0, IsWindowEnabled(w) ? 1 : 0, printable(windowText(w)).c_str(), extra.c_str());
  }
}

// What is on the screen, for a failure report.
void dumpScreen() {
  for (HWND w : topWindows()) {
    if (isMessageBox(w))
      say("screen box caption=\"%s\" text=\"%s\"", printable(windowText(w)).c_str(),
          printable(windowText(GetDlgItem(w, kMessageBoxTextId))).c_str());
    else
      dumpDialog(w);
  }
}

[[noreturn]] void finish(int code) {
  if (child.hProcess && WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(child.hProcess, 255);
    WaitForSingleObject(child.hProcess, 10000);
  }
  std::fflush(stdout);
  std::exit(code);
}

[[noreturn]] void failStep(const std::string& what) {
  say("FAIL %s", what.c_str());
  dumpScreen();
  finish(kExitStepFailed);
}

double elapsed() { return (GetTickCount() - startTick) / 1000.0; }

bool childRunning() { return WaitForSingleObject(child.hProcess, 0) == WAIT_TIMEOUT; }

DWORD childExitCode() {
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  return code;
}

// One polling round: the overall time-out, and boxes no step asked for.
void tick(bool boxesBelongToStep) {
  if (elapsed() > opts.timeout) {
    say("TIMEOUT after %.0f s", opts.timeout);
    dumpScreen();
    finish(kExitTimedOut);
  }
  if (!boxesBelongToStep && opts.stopBoxes) {
    if (HWND box = findMessageBox()) {
      hadUnexpectedBox = true;
      answerBox(box, stoppingAnswer(boxButtons(box)), " (stopping answer)");
    }
  }
  Sleep(100);
}

// Waits until `ready` holds, failing the step after the step time-out or when the program ends
// first (unless the step may outlive it).
template <class Ready>
void waitFor(const std::string& what, bool boxesBelongToStep, Ready ready) {
  const double until = elapsed() + opts.stepTimeout;
  for (;;) {
    if (ready()) return;
    if (!opts.follow && !childRunning()) failStep(what + ": the program ended (exit code " + std::to_string(childExitCode()) + ")");
    if (elapsed() > until) failStep(what + ": not seen within " + std::to_string(int(opts.stepTimeout)) + " s");
    tick(boxesBelongToStep);
  }
}

HWND control(const std::string& idText) {
  if (!currentDialog || !IsWindow(currentDialog)) failStep("no dialog is open (use the dialog step first)");
  HWND w = GetDlgItem(currentDialog, std::atoi(idText.c_str()));
  if (!w) failStep("control " + idText + " not found");
  return w;
}

bool flagOf(const std::string& s) { return s == "1" || s == "yes" || s == "true"; }

void runStep(const Step& s) {
  const std::string& v = s.verb;
  if (v == "box" || v == "box-text") {
    const std::string& answer = s.args.back();
    const int id = buttonId(answer);
    if (!id) failStep("unknown button " + answer);
    HWND box = nullptr;
    waitFor(v + " " + answer, true, [&] { return (box = findMessageBox()) != nullptr; });
    if (v == "box-text" && !matches(s.args[0], windowText(GetDlgItem(box, kMessageBoxTextId)))) {
      say("box caption=\"%s\" text=\"%s\"", printable(windowText(box)).c_str(),
          printable(windowText(GetDlgItem(box, kMessageBoxTextId))).c_str());
      failStep("box text does not match \"" + s.args[0] + "\"");
    }
    const std::vector<int> ids = boxButtons(box);
    bool has = false;
    for (int b : ids) has = has || b == id;
    if (!has) failStep("the box has no " + answer + " button");
    answerBox(box, id, "");
  } else if (v == "wait-box") {
    // Waits for a box matching the pattern and leaves it open for the next step to answer.
    HWND box = nullptr;
    waitFor("wait-box " + s.args[0], true, [&] {
      box = findMessageBox();
      return box && matches(s.args[0], windowText(GetDlgItem(box, kMessageBoxTextId)));
    });
    say("box seen caption=\"%s\" text=\"%s\"", printable(windowText(box)).c_str(),
        printable(windowText(GetDlgItem(box, kMessageBoxTextId))).c_str());
  } else if (v == "remove") {
    // Clears an obstacle while a question is open (a file, or an empty folder).
    const bool removed = DeleteFileA(s.args[0].c_str()) || RemoveDirectoryA(s.args[0].c_str());
    if (!removed) failStep("remove: cannot remove " + s.args[0]);
    say("removed %s", printable(s.args[0]).c_str());
  } else if (v == "dialog") {
    waitFor("dialog " + s.args[0], false, [&] {
      for (HWND w : topWindows())
        if (!isMessageBox(w) && matches(s.args[0], windowText(w))) {
          currentDialog = w;
          return true;
        }
      return false;
    });
    say("dialog found caption=\"%s\"", printable(windowText(currentDialog)).c_str());
  } else if (v == "dump") {
    if (!currentDialog) failStep("dump: no dialog");
    dumpDialog(currentDialog);
  } else if (v == "expect-text" || v == "wait-text") {
    HWND w = control(s.args[0]);
    auto ok = [&] { return matches(s.args[1], windowText(w)); };
    if (v == "wait-text") waitFor(v + " " + s.args[0], false, ok);
    if (!ok()) failStep("control " + s.args[0] + " text \"" + printable(windowText(w)) + "\" does not match \"" + s.args[1] + "\"");
    say("text id=%s \"%s\"", s.args[0].c_str(), printable(windowText(w)).c_str());
  } else if (v == "expect-visible" || v == "wait-visible" || v == "expect-enabled" || v == "wait-enabled") {
    HWND w = control(s.args[0]);
    const bool visible = v.find("visible") != std::string::npos;
    const bool want = flagOf(s.args[1]);
    auto ok = [&] { return (visible ? ownVisible(w) : IsWindowEnabled(w) != 0) == want; };
    if (v.compare(0, 5, "wait-") == 0) waitFor(v + " " + s.args[0], false, ok);
    if (!ok()) failStep("control " + s.args[0] + (visible ? " visible" : " enabled") + " is not " + s.args[1]);
    say("%s id=%s %d", visible ? "visible" : "enabled", s.args[0].c_str(), want ? 1 : 0);
  } else if (v == "click") {
    HWND w = control(s.args[0]);
    if (!ownVisible(w)) failStep("click: control " + s.args[0] + " is hidden");
    if (!IsWindowEnabled(w)) failStep("click: control " + s.args[0] + " is disabled");
    say("click id=%s \"%s\"", s.args[0].c_str(), printable(windowText(w)).c_str());
    PostMessageA(w, BM_CLICK, 0, 0);
  } else if (v == "command") {
    if (!currentDialog) failStep("command: no dialog");
    say("command id=%s", s.args[0].c_str());
    PostMessageA(currentDialog, WM_COMMAND, MAKEWPARAM(std::atoi(s.args[0].c_str()), BN_CLICKED), 0);
  } else if (v == "type") {
    HWND w = control(s.args[0]);
    DWORD_PTR r = 0;
    SendMessageTimeoutA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.args[1].c_str()), SMTO_ABORTIFHUNG, 5000, &r);
    say("type id=%s \"%s\"", s.args[0].c_str(), printable(s.args[1]).c_str());
  } else if (v == "close") {
    if (!currentDialog) failStep("close: no dialog");
    say("close");
    PostMessageA(currentDialog, WM_CLOSE, 0, 0);
  } else if (v == "sleep") {
    const DWORD until = GetTickCount() + DWORD(std::atoi(s.args[0].c_str()));
    while (int(until - GetTickCount()) > 0) tick(false);
  } else if (v == "click-through") {
    // Walks a wizard with its defaults: presses NEXT whenever it is shown and enabled (waiting
    // while it is disabled, as during an installation) until FINISH reads the finishing text,
    // then presses FINISH.
    HWND next = control(s.args[0]);
    HWND finish = control(s.args[1]);
    for (int presses = 0;;) {
      if (matches(s.args[2], windowText(finish)) && ownVisible(finish) && IsWindowEnabled(finish)) break;
      if (ownVisible(next) && IsWindowEnabled(next)) {
        if (++presses > 50) failStep("click-through: the wizard does not get to its end");
        say("click id=%s \"%s\"", s.args[0].c_str(), printable(windowText(next)).c_str());
        PostMessageA(next, BM_CLICK, 0, 0);
        // Give the page time to change before looking again.
        for (int i = 0; i < 10; ++i) tick(false);
        continue;
      }
      if (!childRunning()) failStep("click-through: the program ended");
      tick(false);
    }
    say("click id=%s \"%s\"", s.args[1].c_str(), printable(windowText(finish)).c_str());
    PostMessageA(finish, BM_CLICK, 0, 0);
  } else if (v == "wait-gone") {
    HWND d = currentDialog;
    waitFor("wait-gone", false, [&] { return !d || !IsWindow(d) || !IsWindowVisible(d); });
    say("gone");
    currentDialog = nullptr;
  } else if (v == "exit") {
    while (childRunning()) tick(false);
    const DWORD code = childExitCode();
    if (code != DWORD(std::atoi(s.args[0].c_str())))
      failStep("exit code " + std::to_string(code) + ", expected " + s.args[0]);
  }
}

int usage(const char* why) {
  std::fprintf(stderr, "mw_driver: %s\nusage: mw_driver [--timeout S] [--step-timeout S] [--stop-boxes] [--follow] [STEP ARGS...]... -- PROGRAM [ARGS...]\n(see tests/driver/README.md)\n", why);
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--timeout" && i + 1 < argc) {
      opts.timeout = std::atof(argv[++i]);
    } else if (a == "--step-timeout" && i + 1 < argc) {
      opts.stepTimeout = std::atof(argv[++i]);
    } else if (a == "--stop-boxes") {
      opts.stopBoxes = true;
    } else if (a == "--follow") {
      opts.follow = true;
    } else {
      const VerbInfo* verb = nullptr;
      for (const VerbInfo& vi : kVerbs)
        if (a == vi.name) verb = &vi;
      if (!verb) return usage(("unknown step " + a).c_str());
      if (i + verb->argc >= argc) return usage(("missing arguments for " + a).c_str());
      Step s{a, {}};
      for (int k = 0; k < verb->argc; ++k) s.args.push_back(argv[++i]);
      opts.steps.push_back(s);
    }
  }
  if (i >= argc) return usage("no program given after --");
  opts.program = argv[i++];
  for (; i < argc; ++i) opts.tail += std::string(opts.tail.empty() ? "" : " ") + argv[i];

  // The program's path is quoted; the rest goes as given, joined with single blanks and not
  // quoted, so an installer sees e.g. "/s C:\Some Dir" exactly.
  char full[MAX_PATH];
  if (!GetFullPathNameA(opts.program.c_str(), MAX_PATH, full, nullptr)) return usage("bad program path");
  std::string line = std::string("\"") + full + "\"";
  if (!opts.tail.empty()) line += " " + opts.tail;
  std::vector<char> mutableLine(line.begin(), line.end());
  mutableLine.push_back(0);

  startTick = GetTickCount();
  STARTUPINFOA si{};
  si.cb = sizeof si;
  say("start %s", printable(line).c_str());
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child)) {
    say("FAIL cannot start the program (error %lu)", GetLastError());
    return kExitStepFailed;
  }

  for (const Step& s : opts.steps) runStep(s);

  while (childRunning()) tick(false);
  const DWORD code = childExitCode();
  say("exit %lu%s", code, hadUnexpectedBox ? " (after unexpected boxes)" : "");
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  std::fflush(stdout);
  return int(code);
}
