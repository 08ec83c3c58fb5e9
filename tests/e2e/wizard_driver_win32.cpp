// wizard_driver.exe: drives a running wizard from inside wine the way a user would, and writes
// down what it sees. It reads commands from a file, one per line, and appends results to a log:
//
//   run CMDLINE               start the program under test (its folder becomes current)
//   wizard SECONDS            wait for its wizard window (a dialog with a Next button)
//   dump LABEL                log the caption and, per control, LABEL.ID=VISIBLE ENABLED TEXT
//                             (1 or 0 each), and the footer line's x,y,width
//   click ID                  press a button as a user can: refused when hidden or disabled
//   type ID TEXT              replace an edit's text (the edit notifies its change)
//   close                     the window's close command
//   waittext ID SECONDS TEXT  wait until control ID shows TEXT (any text when TEXT is "*")
//   box ANSWER SECONDS [MS]   wait for a message box of the program, log its caption, text,
//                             buttons and owner, answer it (6 Yes, 7 No, 1 OK, 2 Cancel); with MS,
//                             first hold it open that long and log whether the installation's
//                             file label or progress bar moved meanwhile (box.moved)
//   nobox SECONDS             log whether a message box appears within SECONDS
//   watch LABEL ID SECONDS    log every distinct text of control ID until it is hidden or the time
//                             is up (the file label), and the progress bar's positions
//   splash SECONDS [NAME]     wait for the splash window, log its rectangle, whether it is
//                             topmost, and how long it stays visible (ms); with NAME, snap it
//                             as soon as it is seen
//   snap NAME                 ask the host for a screenshot: write C:\snap\NAME.want holding
//                             the wizard's rectangle and wait for C:\snap\NAME.done
//   link move|up|away         the real pointer over the hyperlink, the left button clicked
//                             there, or the pointer moved off it (60 pixels to its right)
//   linkstate LABEL           log whether the wizard holds the mouse capture (LABEL.capture,
//                             1 or 0): it does while the pointer hovers over a live link
//   licence LABEL             try to type, paste, cut, clear and delete in the licence box and
//                             to scroll it: LABEL.unchanged, LABEL.scrolled (1 or 0)
//   browse LABEL cancel|PATH  press Browse; log where the folder browser opened (LABEL.at) and
//                             where it belongs (LABEL.expected); cancel it, or type PATH into
//                             its folder box and press OK
//   sleep MS
//   exit SECONDS              wait for the program to end, log "exit=CODE" or "exit=timeout"
//
// Called as `wizard_driver.exe /mark FILE ...` it only appends its own command line to FILE and
// ends: a stand-in for a program the installer starts after the installation.
#include <windows.h>
#include <commctrl.h>

#include "core/command_line.h"

namespace {

HANDLE logFile = INVALID_HANDLE_VALUE;
PROCESS_INFORMATION child{};
HWND wizard;
char line[4096];
char scratch[4096];

int length(const char* s) { return lstrlenA(s); }

void write(const char* text) {
  DWORD n;
  WriteFile(logFile, text, DWORD(length(text)), &n, nullptr);
}

void logLine(const char* a, const char* b = "", const char* c = "") {
  write(a);
  write(b);
  write(c);
  write("\r\n");
  FlushFileBuffers(logFile);
}

void logNumber(const char* name, long value) {
  char number[32];
  wsprintfA(number, "%ld", value);
  logLine(name, "=", number);
}

bool same(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

// Splits the next blank-separated word off *p (in place); the rest stays in *p.
char* word(char*& p) {
  while (*p == ' ') ++p;
  char* start = p;
  while (*p && *p != ' ') ++p;
  if (*p) *p++ = 0;
  return start;
}

long number(char*& p) {
  const char* w = word(p);
  long v = 0;
  bool negative = *w == '-';
  if (negative) ++w;
  while (*w >= '0' && *w <= '9') v = v * 10 + (*w++ - '0');
  return negative ? -v : v;
}

bool ofChild(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid == child.dwProcessId;
}

bool isDialogClass(HWND window) {
  char cls[64];
  GetClassNameA(window, cls, sizeof cls);
  return same(cls, "#32770");
}

struct Search {
  HWND found;
  const char* cls;
  bool wantBox;
};

BOOL CALLBACK findWindow(HWND window, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  if (!ofChild(window) || !IsWindowVisible(window)) return TRUE;
  if (s->cls) {
    char cls[64];
    GetClassNameA(window, cls, sizeof cls);
    if (!same(cls, s->cls)) return TRUE;
  } else {
    if (!isDialogClass(window)) return TRUE;
    // The wizard has a Next button; a message box has its text in control 0xFFFF.
    const bool box = GetDlgItem(window, 0xFFFF) != nullptr && GetDlgItem(window, 16) == nullptr;
    if (box != s->wantBox) return TRUE;
  }
  s->found = window;
  return FALSE;
}

HWND find(const char* cls, bool wantBox) {
  Search s{nullptr, cls, wantBox};
  EnumWindows(&findWindow, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND waitFor(const char* cls, bool wantBox, long seconds) {
  const DWORD end = GetTickCount() + DWORD(seconds) * 1000;
  for (;;) {
    if (HWND w = find(cls, wantBox)) return w;
    if (int(GetTickCount() - end) > 0) return nullptr;
    Sleep(50);
  }
}

// A control's text through WM_GETTEXT (which the system carries across processes; the window
// title alone would not show an edit's text).
void textOf(HWND control, char* out, int room) {
  out[0] = 0;
  DWORD_PTR ignored;
  SendMessageTimeoutA(control, WM_GETTEXT, WPARAM(room), reinterpret_cast<LPARAM>(out),
                      SMTO_NORMAL, 5000, &ignored);
}

// Escapes CR and LF so that one value stays on one log line.
void logText(const char* prefix, const char* text) {
  char* o = scratch;
  for (const char* t = text; *t && o < scratch + sizeof scratch - 3; ++t) {
    if (*t == '\r') { *o++ = '\\'; *o++ = 'r'; }
    else if (*t == '\n') { *o++ = '\\'; *o++ = 'n'; }
    else *o++ = *t;
  }
  *o = 0;
  logLine(prefix, "=", scratch);
}

void dump(const char* label) {
  if (!wizard) {
    logLine(label, ".wizard=none");
    return;
  }
  char name[96], text[2048];
  textOf(wizard, text, sizeof text);
  wsprintfA(name, "%s.caption", label);
  logText(name, text);
  static const int ids[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 141, 15, 16, 17, 18, 19, 20};
  for (int id : ids) {
    HWND c = GetDlgItem(wizard, id);
    if (!c) continue;
    // LABEL.ID=VISIBLE ENABLED TEXT
    const int visible = (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) ? 1 : 0;
    wsprintfA(text, "%d %d ", visible, IsWindowEnabled(c) ? 1 : 0);
    textOf(c, text + 4, sizeof text - 4);
    wsprintfA(name, "%s.%d", label, id);
    logText(name, text);
  }
  RECT r;
  GetWindowRect(GetDlgItem(wizard, 2), &r);
  POINT a{r.left, r.top};
  ScreenToClient(wizard, &a);
  wsprintfA(name, "%s.footer", label);
  wsprintfA(text, "%ld,%ld,%ld", a.x, a.y, r.right - r.left);
  logLine(name, "=", text);
}

// Sends a command and waits for it to be handled, unless it opens a modal box first.
void command(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR ignored;
  SendMessageTimeoutA(target, message, wParam, lParam, SMTO_NORMAL, 1500, &ignored);
}

void click(int id) {
  HWND c = GetDlgItem(wizard, id);
  char name[32];
  wsprintfA(name, "click.%d", id);
  if (!c || !(GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE) || !IsWindowEnabled(c)) {
    logLine(name, "=refused");
    return;
  }
  logLine(name, "=done");
  command(wizard, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(c));
}

// The file label's text and the progress bar's position, to see whether an installation moves.
void progressState(char* out, int room) {
  HWND label = wizard ? GetDlgItem(wizard, 141) : nullptr;
  char text[1024] = "";
  if (label) textOf(label, text, sizeof text);
  DWORD_PTR pos = 0;
  if (wizard)
    SendMessageTimeoutA(GetDlgItem(wizard, 14), PBM_GETPOS, 0, 0, SMTO_NORMAL, 2000, &pos);
  wsprintfA(out, "%ld|", long(pos));
  lstrcpynA(out + lstrlenA(out), text, room - lstrlenA(out));
}

void box(long answer, long seconds, long holdMs) {
  HWND b = waitFor(nullptr, true, seconds);
  if (!b) {
    logLine("box=none");
    return;
  }
  if (holdMs > 0) {
    // Leave the question open for a while and see whether the installation moved meanwhile.
    char before[1100], after[1100];
    progressState(before, sizeof before);
    Sleep(DWORD(holdMs));
    progressState(after, sizeof after);
    logNumber("box.moved", same(before, after) ? 0 : 1);
  }
  char text[2048];
  textOf(b, text, sizeof text);
  logText("box.caption", text);
  textOf(GetDlgItem(b, 0xFFFF), text, sizeof text);
  logText("box.text", text);
  char buttons[32] = "";
  static const int ids[] = {1, 2, 3, 4, 5, 6, 7};
  for (int id : ids)
    if (HWND btn = GetDlgItem(b, id)) {
      if (GetWindowLongA(btn, GWL_STYLE) & WS_VISIBLE) {
        char n[4];
        wsprintfA(n, "%d", id);
        lstrcatA(buttons, n);
      }
    }
  logLine("box.buttons=", buttons);
  logNumber("box.owned", GetWindow(b, GW_OWNER) == wizard && wizard ? 1 : 0);
  PostMessageA(b, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

void watch(const char* label, int id, long seconds) {
  HWND c = GetDlgItem(wizard, id);
  HWND bar = GetDlgItem(wizard, 14);
  char last[1024] = "", now[1024], name[64];
  long lastPos = -1;
  int texts = 0;
  const DWORD end = GetTickCount() + DWORD(seconds) * 1000;
  while (int(GetTickCount() - end) < 0 && IsWindow(c) &&
         (GetWindowLongA(c, GWL_STYLE) & WS_VISIBLE)) {
    textOf(c, now, sizeof now);
    if (!same(now, last) && now[0]) {
      wsprintfA(name, "%s.text.%d", label, texts++);
      logText(name, now);
      lstrcpyA(last, now);
    }
    DWORD_PTR pos = 0;
    SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_NORMAL, 2000, &pos);
    if (long(pos) != lastPos) {
      wsprintfA(name, "%s.position", label);
      logNumber(name, long(pos));
      lastPos = long(pos);
    }
    Sleep(20);
  }
  wsprintfA(name, "%s.texts", label);
  logNumber(name, texts);
}

void snap(const char* name);

void splash(long seconds, const char* snapName) {
  HWND s = waitFor("Kivora", false, seconds);
  if (!s) {
    logLine("splash=none");
    return;
  }
  const DWORD seen = GetTickCount();
  if (snapName[0]) snap(snapName);
  RECT r;
  GetWindowRect(s, &r);
  char text[96];
  wsprintfA(text, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left, r.bottom - r.top);
  logLine("splash.rect=", text);
  logNumber("splash.topmost", (GetWindowLongA(s, GWL_EXSTYLE) & WS_EX_TOPMOST) ? 1 : 0);
  logNumber("splash.screen.width", GetSystemMetrics(SM_CXSCREEN));
  logNumber("splash.screen.height", GetSystemMetrics(SM_CYSCREEN));
  while (IsWindow(s) && IsWindowVisible(s)) Sleep(20);
  logNumber("splash.ms", long(GetTickCount() - seen));
}

void snap(const char* name) {
  CreateDirectoryA("C:\\snap", nullptr);
  char path[MAX_PATH], text[96];
  RECT r{};
  HWND target = wizard && IsWindow(wizard) ? wizard : find("Kivora", false);
  if (target) GetWindowRect(target, &r);
  wsprintfA(text, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
  wsprintfA(path, "C:\\snap\\%s.want", name);
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD n;
  WriteFile(f, text, DWORD(length(text)), &n, nullptr);
  CloseHandle(f);
  wsprintfA(path, "C:\\snap\\%s.done", name);
  const DWORD end = GetTickCount() + 60000;
  while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && int(GetTickCount() - end) < 0)
    Sleep(50);
  logLine("snap=", name);
}

// The real pointer over the hyperlink (move), the left button pressed and released there (up),
// or the pointer moved off it to the middle of the dialog (away). Real input, not posted
// messages: the dialog captures the mouse while the pointer is over the link, and the system
// then reports where the real pointer is.
void link(const char* what) {
  RECT r;
  POINT at;
  GetWindowRect(GetDlgItem(wizard, 10), &r);
  at = POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  // Off the link but still over the dialog itself (the footer line lets the pointer through),
  // so the dialog hears the move even without the capture.
  if (same(what, "away")) at.x = r.right + 60;
  SetCursorPos(at.x, at.y);
  if (same(what, "up")) {
    mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
    mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
  }
  Sleep(400);
  DWORD_PTR ignored;
  SendMessageTimeoutA(wizard, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
  char text[64];
  wsprintfA(text, "%s %ld,%ld", what, at.x, at.y);
  logLine("link=", text);
}

// What the hover over the hyperlink shows from outside: whether the wizard's thread holds the
// mouse capture (LABEL.capture, 1 or 0), which it does exactly while the link is underlined.
void linkState(const char* label) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(wizard, nullptr), &info);
  char name[64];
  wsprintfA(name, "%s.capture", label);
  logNumber(name, info.hwndCapture == wizard ? 1 : 0);
}

// Tries to change the licence box as a user could (typing, Backspace, paste, cut, clear, the
// Delete key on a selection) and to scroll it with Page Down; logs LABEL.unchanged and
// LABEL.scrolled (1 or 0).
void licence(const char* label) {
  HWND box = GetDlgItem(wizard, 12);
  char before[4096], after[4096], name[64];
  textOf(box, before, sizeof before);
  command(box, EM_SETSEL, 0, -1);
  command(box, WM_CHAR, 'x', 1);
  command(box, WM_CHAR, VK_BACK, 1);
  command(box, WM_PASTE, 0, 0);
  command(box, WM_CUT, 0, 0);
  command(box, WM_CLEAR, 0, 0);
  command(box, WM_KEYDOWN, VK_DELETE, 1);
  command(box, WM_KEYUP, VK_DELETE, 1);
  textOf(box, after, sizeof after);
  wsprintfA(name, "%s.unchanged", label);
  logNumber(name, same(before, after) ? 1 : 0);
  command(box, EM_SETSEL, 0, 0);
  DWORD_PTR first = 0, later = 0;
  SendMessageTimeoutA(box, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_NORMAL, 2000, &first);
  command(box, WM_KEYDOWN, VK_NEXT, 1);
  command(box, WM_KEYUP, VK_NEXT, 1);
  SendMessageTimeoutA(box, EM_GETFIRSTVISIBLELINE, 0, 0, SMTO_NORMAL, 2000, &later);
  wsprintfA(name, "%s.scrolled", label);
  logNumber(name, later > first ? 1 : 0);
}

BOOL CALLBACK findBrowser(HWND window, LPARAM param) {
  if (window == wizard || !ofChild(window) || !IsWindowVisible(window) || !isDialogClass(window))
    return TRUE;
  if (GetDlgItem(window, 0xFFFF)) return TRUE;  // a message box
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

BOOL CALLBACK findEdit(HWND window, LPARAM param) {
  char cls[32];
  GetClassNameA(window, cls, sizeof cls);
  if (lstrcmpiA(cls, "Edit") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(param) = window;
  return FALSE;
}

// Presses Browse, logs where the folder browser opened (LABEL.at) and where it should be
// (LABEL.expected: centred across the wizard's client area, 44 pixels below its top), then
// cancels it or types PATH into its folder box and presses OK.
void browse(const char* label, const char* path) {
  PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(19, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(wizard, 19)));
  HWND browser = nullptr;
  const DWORD end = GetTickCount() + 60000;
  while (!browser && int(GetTickCount() - end) < 0) {
    EnumWindows(&findBrowser, reinterpret_cast<LPARAM>(&browser));
    if (!browser) Sleep(50);
  }
  char name[64], text[96];
  if (!browser) {
    wsprintfA(name, "%s.at", label);
    logLine(name, "=none");
    return;
  }
  Sleep(500);  // let it finish placing itself
  RECT at, wizardClient, own;
  GetWindowRect(browser, &at);
  GetClientRect(wizard, &wizardClient);
  GetClientRect(browser, &own);
  POINT expected{(wizardClient.right - own.right) >> 1, 44};
  ClientToScreen(wizard, &expected);
  wsprintfA(name, "%s.at", label);
  wsprintfA(text, "%ld,%ld", at.left, at.top);
  logLine(name, "=", text);
  wsprintfA(name, "%s.expected", label);
  wsprintfA(text, "%ld,%ld", expected.x, expected.y);
  logLine(name, "=", text);
  if (same(path, "cancel")) {
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
  } else {
    HWND edit = nullptr;
    EnumChildWindows(browser, &findEdit, reinterpret_cast<LPARAM>(&edit));
    command(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    PostMessageA(browser, WM_COMMAND, IDOK, 0);
  }
  while (IsWindow(browser) && int(GetTickCount() - end) < 0) Sleep(50);
  DWORD_PTR ignored;
  SendMessageTimeoutA(wizard, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

void waitExit(long seconds) {
  if (!child.hProcess) {
    logLine("exit=none");
    return;
  }
  if (WaitForSingleObject(child.hProcess, DWORD(seconds) * 1000) != WAIT_OBJECT_0) {
    logLine("exit=timeout");
    return;
  }
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  logNumber("exit", long(code));
}

void runCommand(char* p) {
  char* verb = word(p);
  if (same(verb, "run")) {
    STARTUPINFOA si{};
    si.cb = sizeof si;
    while (*p == ' ') ++p;
    if (!CreateProcessA(nullptr, p, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &child))
      logLine("run=failed");
    else
      logLine("run=started");
  } else if (same(verb, "wizard")) {
    wizard = waitFor(nullptr, false, number(p));
    logLine(wizard ? "wizard=found" : "wizard=none");
  } else if (same(verb, "dump")) {
    dump(word(p));
  } else if (same(verb, "click")) {
    click(int(number(p)));
  } else if (same(verb, "type")) {
    HWND c = GetDlgItem(wizard, int(number(p)));
    while (*p == ' ') ++p;
    command(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(p));
  } else if (same(verb, "close")) {
    PostMessageA(wizard, WM_CLOSE, 0, 0);
  } else if (same(verb, "waittext")) {
    HWND c = GetDlgItem(wizard, int(number(p)));
    const DWORD end = GetTickCount() + DWORD(number(p)) * 1000;
    while (*p == ' ') ++p;
    char text[1024];
    for (;;) {
      textOf(c, text, sizeof text);
      if (same(text, p) || (same(p, "*") && text[0])) {
        logLine("waittext=ok");
        break;
      }
      if (int(GetTickCount() - end) > 0) {
        logText("waittext.timeout", text);
        break;
      }
      Sleep(50);
    }
  } else if (same(verb, "box")) {
    const long answer = number(p);
    const long seconds = number(p);
    box(answer, seconds, number(p));
  } else if (same(verb, "nobox")) {
    logNumber("nobox", waitFor(nullptr, true, number(p)) ? 0 : 1);
  } else if (same(verb, "watch")) {
    const char* label = word(p);
    const int id = int(number(p));
    watch(label, id, number(p));
  } else if (same(verb, "splash")) {
    const long seconds = number(p);
    splash(seconds, word(p));
  } else if (same(verb, "snap")) {
    snap(word(p));
  } else if (same(verb, "link")) {
    link(word(p));
  } else if (same(verb, "linkstate")) {
    linkState(word(p));
  } else if (same(verb, "licence")) {
    licence(word(p));
  } else if (same(verb, "browse")) {
    const char* label = word(p);
    while (*p == ' ') ++p;
    browse(label, p);
  } else if (same(verb, "sleep")) {
    Sleep(DWORD(number(p)));
  } else if (same(verb, "exit")) {
    waitExit(number(p));
  } else if (verb[0] && verb[0] != '#') {
    logLine("unknown=", verb);
  }
}

// The command line after the program's own name.
char* arguments() {
  char* p = mw::skipProgramPath(GetCommandLineA());
  while (*p == ' ') ++p;
  return p;
}

[[noreturn]] void run() {
  // Parsing cuts the command line up in place: keep the whole of it first.
  static char whole[4096];
  lstrcpynA(whole, GetCommandLineA(), sizeof whole);
  char* args = arguments();
  if (args[0] == '/' && args[1] == 'm' && args[2] == 'a' && args[3] == 'r' && args[4] == 'k') {
    char* p = args + 5;
    char* file = word(p);
    HANDLE f = CreateFileA(file, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
    DWORD n;
    const char* all = whole;
    WriteFile(f, all, DWORD(length(all)), &n, nullptr);
    WriteFile(f, "\r\n", 2, &n, nullptr);
    CloseHandle(f);
    ExitProcess(0);
  }
  char* p = args;
  char* scriptPath = word(p);
  char* logPath = word(p);
  logFile = CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  HANDLE script = CreateFileA(scriptPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  static char commands[65536];
  DWORD got = 0;
  ReadFile(script, commands, sizeof commands - 1, &got, nullptr);
  CloseHandle(script);
  commands[got] = 0;
  for (char* c = commands; *c;) {
    int n = 0;
    while (c[n] && c[n] != '\n' && c[n] != '\r' && n < int(sizeof line) - 1) {
      line[n] = c[n];
      ++n;
    }
    line[n] = 0;
    c += n;
    while (*c == '\n' || *c == '\r') ++c;
    runCommand(line);
  }
  logLine("done");
  CloseHandle(logFile);
  ExitProcess(0);
}

}  // namespace

extern "C" void __stdcall entryPoint() { run(); }
