// The wizard dialog on Windows: the dialog procedure, the view the page controller drives, the
// painting (white areas, side picture, banner), the static colours, the fonts, the hyperlink,
// the licence box filter, the folder browser, and the worker thread with its pause point.
//
// Threads: everything here runs on the dialog thread except the "worker side" functions at the
// end, which the installation worker calls from its own thread. They touch the dialog only with
// window messages (which the system hands to the dialog thread) and two events.
//
// No C runtime runs before the entry point, so the state below is constant-initialised: plain
// data, and objects whose constructors are constexpr (constinit makes the compiler prove it).
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include "core/bytes.h"
#include "wizard/controls.h"
#include "wizard/geometry.h"
#include "wizard/pages.h"
#include "wizard/texts.h"
#include "wizard/wizard.h"

namespace mw {
namespace {

// Sent by the worker to have the dialog thread show the finished page; lParam is finishText.
constexpr UINT kShowFinishedMessage = WM_APP + 1;
constexpr int kMaxControlId = kFileLabel;

struct WizardState {
  WizardStart start;
  HWND dialog;
  HWND controls[kMaxControlId + 1];
  RECT sideArea;    // white on pages 1 and 6 in the side layout
  RECT bannerBand;  // white on every other page
  PictureRecord side;
  PictureRecord banner;
  HBRUSH faceBrush;
  HBRUSH whiteBrush;
  HFONT dialogFont;
  HFONT linkFont;
  RECT hot;         // where the hyperlink reacts; empty without one
  bool hovering;
  WNDPROC licenceProc;  // the licence box's own procedure, behind the filter
  bool comReady;
  // The worker and its pause point.
  HANDLE worker;
  HANDLE mayRun;    // manual-reset, signalled while the worker may go on
  HANDLE parked;    // auto-reset, set by the worker when it stops at a pause point
  volatile LONG quitting;
};

constinit WizardState g{};

// Every id handed in is one of the template's (kWizardControlIds).
HWND control(int id) { return g.controls[id]; }

const SetupScript& script() { return *g.start.script; }

DWORD WINAPI workerThread(LPVOID) {
  g.start.worker();
  return 0;
}

int CALLBACK browsePlacement(HWND browser, UINT message, LPARAM, LPARAM) {
  if (message != BFFM_INITIALIZED) return 0;
  RECT wizard, own;
  GetClientRect(g.dialog, &wizard);
  GetClientRect(browser, &own);
  // Centred across the wizard's client area, its top 44 pixels below the client's top.
  POINT at{(wizard.right - own.right) >> 1, 44};
  MapWindowPoints(g.dialog, HWND_DESKTOP, &at, 1);  // to screen pixels
  SetWindowPos(browser, HWND_BOTTOM, at.x, at.y, 0, 0, SWP_NOSIZE);
  return 0;
}

constinit WizardController controller;

LRESULT CALLBACK licenceFilter(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    // Typing (every character, Backspace and Enter included), cut, paste and clear.
    case WM_CHAR:
    case WM_CUT:
    case WM_PASTE:
    case WM_CLEAR:
    // The edit also changes its text on the Delete key (Shift+Delete cuts), on Shift+Insert
    // (paste), on undo and from its context menu without passing through the messages above.
    case WM_UNDO:
    case EM_UNDO:
    case WM_IME_CHAR:
    case WM_CONTEXTMENU:
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_DELETE || (wParam == VK_INSERT && GetKeyState(VK_SHIFT) < 0)) return 0;
      break;
  }
  return CallWindowProcA(g.licenceProc, box, message, wParam, lParam);
}

// A control's template rectangle in the dialog's client pixels.
Rect clientRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, g.dialog, reinterpret_cast<POINT*>(&r), 2);
  return Rect{int(r.left), int(r.top), int(r.right), int(r.bottom)};
}

// A font of the given height and weight in the default character set.
HFONT makeFont(int height, int weight, bool underline, const char* face) {
  return CreateFontA(height, 0, 0, 0, weight, FALSE, underline, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                     face);
}

// Fonts and the hyperlink; returns lineX, the left end of the footer line in the header layout.
int setUpFontsAndLink() {
  g.dialogFont = reinterpret_cast<HFONT>(SendMessageA(g.dialog, WM_GETFONT, 0, 0));
  LOGFONTA dialogLook{};
  GetObjectA(g.dialogFont, sizeof dialogLook, &dialogLook);
  g.linkFont = makeFont(dialogLook.lfHeight, dialogLook.lfWeight, true, dialogLook.lfFaceName);
  const TitleFontHeights h = titleFontHeights(dialogLook.lfHeight);
  HFONT title = makeFont(h.title, FW_BOLD, false, "Arial");
  SendMessageA(control(kBigTitle), WM_SETFONT, WPARAM(title), FALSE);
  if (HWND header = control(kHeaderTitle)) {
    HFONT headerTitle = makeFont(h.headerTitle, FW_BOLD, false, "Arial");
    SendMessageA(header, WM_SETFONT, WPARAM(headerTitle), FALSE);
  }

  const char* linkText = script().linkText;
  if (!linkText || !linkText[0]) return 0;
  HWND link = GetDlgItem(g.dialog, kHyperlink);
  g.controls[kHyperlink] = link;
  SetWindowTextA(link, linkText);
  if (script().linkTarget && script().linkTarget[0]) EnableWindow(link, TRUE);
  HDC dc = GetDC(link);
  HGDIOBJ previous = SelectObject(dc, g.dialogFont);
  SIZE extent{};
  GetTextExtentPoint32A(dc, linkText, int(textLength(linkText)), &extent);
  SelectObject(dc, previous);
  ReleaseDC(link, dc);
  const HyperlinkLayout layout = hyperlinkLayout(clientRect(link), int(extent.cx));
  SetWindowPos(link, nullptr, 0, 0, layout.width, layout.height, SWP_NOMOVE);
  g.hot = RECT{layout.hot.left, layout.hot.top, layout.hot.right, layout.hot.bottom};
  return layout.lineX;
}

void initialise(HWND dialog) {
  g.dialog = dialog;
  // Both areas start at the client's top-left corner (mapping keeps 0 at 0).
  g.sideArea = RECT{0, 0, kSideAreaRightDu, kSideAreaBottomDu};
  g.bannerBand = RECT{0, 0, kSideAreaRightDu, kBannerBottomDu};
  MapDialogRect(dialog, &g.sideArea);
  MapDialogRect(dialog, &g.bannerBand);
  pictureRecord(script().sideBitmap, g.sideArea.right, g.sideArea.bottom, g.side);
  pictureRecord(script().bannerBitmap, g.bannerBand.right, g.bannerBand.bottom, g.banner);
  g.faceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
  g.whiteBrush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));

  for (int id : kWizardControlIds) g.controls[id] = GetDlgItem(dialog, id);
  // Controls the page logic treats as absent stay without a handle: the header texts when the
  // script wants none, the hyperlink until it is set up with a text.
  if (script().noTitleTexts) g.controls[kHeaderTitle] = g.controls[kHeaderSubtitle] = nullptr;
  g.controls[kHyperlink] = nullptr;

  // The licence text itself is set by the controller's initialisation, behind the filter
  // (which lets WM_SETTEXT through).
  g.licenceProc = reinterpret_cast<WNDPROC>(
      SetWindowLongA(control(kLicenceBox), GWL_WNDPROC, reinterpret_cast<LONG>(&licenceFilter)));

  // The subtitle has room for two lines: it wraps before a banner on the right instead of
  // running under it. (The title has room for one line only and keeps its width.)
  if (g.banner.drawable && script().bannerAlignment == 2 && control(kHeaderSubtitle)) {
    const int left = bannerX(2, g.bannerBand.right, g.banner.drawWidth);
    const Rect r = clientRect(control(kHeaderSubtitle));
    const int width = headerTextWidth(r, left);
    if (width != r.right - r.left)
      SetWindowPos(control(kHeaderSubtitle), nullptr, 0, 0, width, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER);
  }

  WizardGeometry geometry{};
  geometry.lineX = setUpFontsAndLink();
  const Rect line = clientRect(control(kFooterLine));
  geometry.lineY = line.top;
  geometry.lineH = line.bottom - line.top;
  geometry.lineW = line.right - geometry.lineX;
  geometry.sideWidth = g.sideArea.right;
  controller.initialise(geometry);
}

void drawPicture(HDC dc, const PictureRecord& picture, int x) {
  if (!picture.drawable) return;
  const DibDraw d = pictureDraw(picture, x);
  SetDIBitsToDevice(dc, d.destX, d.destY, DWORD(d.width), DWORD(d.height), d.srcX, d.srcY,
                    d.startScan, d.lines, picture.bits,
                    reinterpret_cast<const BITMAPINFO*>(picture.info), DIB_RGB_COLORS);
}

void erase(HDC dc) {
  const RECT& white = controller.sideLayout() ? g.sideArea : g.bannerBand;
  FillRect(dc, &white, g.whiteBrush);
  RECT client;
  GetClientRect(g.dialog, &client);
  client.top = white.bottom;
  FillRect(dc, &client, g.faceBrush);
}

void paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(g.dialog, &ps);
  if (controller.sideLayout()) {
    drawPicture(dc, g.side, 0);
  } else {  // an absent banner's record is not drawable: nothing is drawn
    drawPicture(dc, g.banner, bannerX(script().bannerAlignment, g.bannerBand.right,
                                      g.banner.drawWidth));
  }
  EndPaint(g.dialog, &ps);
}

INT_PTR staticColour(HDC dc, HWND child) {
  uint32_t colour;
  if (!staticTextColour(GetDlgCtrlID(child), controller.sideLayout(), script().headerTextColour,
                        script().sideTextColour, colour))
    return 0;
  SetTextColor(dc, colour);
  SetBkMode(dc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

bool linkLive() { return script().linkTarget && script().linkTarget[0] && control(kHyperlink); }

// The hyperlink back in the dialog's font, the pointer no longer captured.
[[gnu::noinline]] void plainLink() {
  SendMessageA(control(kHyperlink), WM_SETFONT, WPARAM(g.dialogFont), TRUE);
  InvalidateRect(g.dialog, &g.hot, TRUE);  // a transparent control leaves its underline behind
  ReleaseCapture();
}

void hover(int x, int y) {
  if (!linkLive()) return;
  switch (hoverOnMove(g.hovering, insideRect(g.hot, x, y))) {
    case HoverChange::enter:
      SendMessageA(control(kHyperlink), WM_SETFONT, WPARAM(g.linkFont), TRUE);
      SetCapture(g.dialog);
      if (g.start.handCursor) SetCursor(static_cast<HCURSOR>(g.start.handCursor));
      break;
    case HoverChange::leave:
      plainLink();
      break;
    case HoverChange::none: break;
  }
}

void click() {
  if (!linkLive() || !g.hovering) return;
  ShellExecuteA(nullptr, "open", script().linkTarget, nullptr, nullptr, SW_SHOW);
  plainLink();
  // The hover flag stays set: the link is underlined again only after the pointer has left.
}

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      initialise(dialog);
      return FALSE;  // no initial focus
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kCancelButton: controller.close(); break;
        case kNextButton: controller.next(); break;
        case kBackButton: controller.back(); break;
        case kBrowseButton: controller.browse(); break;
        case kDestinationEdit:
          if (HIWORD(wParam) == EN_CHANGE) controller.destinationChanged();
          break;
        default: break;  // IDOK and IDCANCEL (Enter, Escape) belong to the lines: ignored
      }
      return FALSE;
    case WM_CLOSE:
      controller.close();
      return FALSE;
    case WM_ERASEBKGND:
      erase(reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_PAINT:
      paint();
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return staticColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_MOUSEMOVE:
      hover(short(LOWORD(lParam)), short(HIWORD(lParam)));
      return FALSE;
    case WM_LBUTTONUP:
      click();
      return FALSE;
    case kShowFinishedMessage:
      controller.showFinishedPage(reinterpret_cast<const char*>(lParam));
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

// ---- The page controller's hands on the dialog ------------------------------------------------

void Win32WizardView::setText(int id, const char* text) { SetWindowTextA(control(id), text); }

void Win32WizardView::show(int id, bool visible) {
  ShowWindow(control(id), visible ? SW_SHOW : SW_HIDE);
}

void Win32WizardView::enable(int id, bool enabled) { EnableWindow(control(id), enabled); }

void Win32WizardView::setCaption(const char* text) { SetWindowTextA(g.dialog, text); }

void Win32WizardView::placeFooterLine(int x, int y, int width, int height) {
  SetWindowPos(control(kFooterLine), HWND_BOTTOM, x, y, width, height, SWP_SHOWWINDOW);
}

void Win32WizardView::invalidateSideArea() { InvalidateRect(g.dialog, &g.sideArea, TRUE); }

void Win32WizardView::invalidateAll() { InvalidateRect(g.dialog, nullptr, TRUE); }

void Win32WizardView::setProgressRange(int max, int step) {
  SendMessageA(control(kProgressBar), PBM_SETRANGE, 0, MAKELPARAM(0, max));
  SendMessageA(control(kProgressBar), PBM_SETSTEP, WPARAM(step), 0);
}

uint32_t Win32WizardView::destinationText(char* out, uint32_t room) {
  out[0] = 0;
  // What GetWindowText does for a window of this process: the edit copies at most room - 1
  // characters and a terminating zero, and answers with the number of characters copied.
  const int n = int(SendMessageA(control(kDestinationEdit), WM_GETTEXT, room, LPARAM(out)));
  return n > 0 ? uint32_t(n) : 0;
}

uint32_t Win32WizardView::driveType(const char* root) { return GetDriveTypeA(root); }

bool Win32WizardView::browseFolder(char* out, uint32_t room) {
  // The new-style browser needs COM on this thread.
  if (!g.comReady) g.comReady = SUCCEEDED(CoInitialize(nullptr));
  BROWSEINFOA request{};
  request.hwndOwner = g.dialog;
  request.lpszTitle = wizardtext::kBrowseInstruction;
  request.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
  request.lpfn = &browsePlacement;
  LPITEMIDLIST item = SHBrowseForFolderA(&request);
  if (!item) return false;
  // The path is at most MAX_PATH bytes, which the controller's room (kDestinationRoom) holds.
  static_assert(kDestinationRoom >= MAX_PATH);
  const bool ok = room >= MAX_PATH && SHGetPathFromIDListA(item, out);
  CoTaskMemFree(item);
  return ok;
}

bool Win32WizardView::startWorker() {
  g.quitting = 0;
  SetEvent(g.mayRun);
  DWORD id;
  g.worker = CreateThread(nullptr, 0, &workerThread, nullptr, 0, &id);
  return g.worker != nullptr;
}

void Win32WizardView::pauseWorker() {
  ResetEvent(g.mayRun);
  // Wait until the worker stands at a pause point (or has ended). Meanwhile the worker may
  // still be sending to the controls (file label, progress, the finished page): those sent
  // messages are handled here, or the two threads would wait for each other. Nothing the
  // user does is dispatched during the wait.
  HANDLE wait[2] = {g.parked, g.worker};
  for (;;) {
    const DWORD r = MsgWaitForMultipleObjects(2, wait, FALSE, INFINITE, QS_SENDMESSAGE);
    if (r == WAIT_OBJECT_0 || r == WAIT_OBJECT_0 + 1 || r == WAIT_FAILED) return;
    MSG m;
    PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE);
  }
}

void Win32WizardView::releaseWorker(bool goOn) {
  g.quitting = goOn ? 0 : 1;
  SetEvent(g.mayRun);
}

int Win32WizardView::ask(const char* caption, const char* text, unsigned style) {
  return MessageBoxA(g.dialog, text, caption, style);
}

void Win32WizardView::endDialog() { EndDialog(g.dialog, 0); }

void runWizard(const WizardStart& start) {
  g.start = start;
  g.mayRun = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  g.parked = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  // The progress bar's window class lives in the common controls.
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&classes);
  controller.bind(*start.script, start.installDir);
  DialogBoxParamA(static_cast<HINSTANCE>(start.instanceHandle), MAKEINTRESOURCEA(1), nullptr,
                  &dialogProc, 0);
  // From here on the worker's calls find no wizard and do nothing.
  g.dialog = nullptr;
}

// ---- Worker side -------------------------------------------------------------------------------

void wizardShowFile(const char* displayPath) {
  if (g.dialog) SetWindowTextA(control(kFileLabel), displayPath);
}

void wizardSetProgress(uint32_t position) {
  if (g.dialog) SendMessageA(control(kProgressBar), PBM_SETPOS, WPARAM(position), 0);
}

bool wizardPausePoint() {
  if (!g.dialog || !g.mayRun) return true;
  if (WaitForSingleObject(g.mayRun, 0) != WAIT_OBJECT_0) {
    SetEvent(g.parked);
    WaitForSingleObject(g.mayRun, INFINITE);
  }
  return g.quitting == 0;
}

void* wizardWindow() { return g.dialog; }

void showFinishedPage(const char* finishText) {
  if (!g.dialog) return;
  Sleep(10);
  SendMessageA(g.dialog, kShowFinishedMessage, 0, reinterpret_cast<LPARAM>(finishText));
}

}  // namespace mw
