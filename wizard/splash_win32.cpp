// The splash screen: the script's picture in a topmost popup, centred on the screen, for
// splashSeconds + 1 seconds, before any check runs. The timer lives on a hidden owner window;
// destroying that window takes the splash with it and ends the message loop.
#include <windows.h>

#include "wizard/geometry.h"
#include "wizard/wizard.h"

namespace mw {
namespace {

constexpr char kSplashClass[] = "Kivora";

// What the window procedure paints; filled before the windows are made.
constinit PictureRecord splashPicture{};

LRESULT CALLBACK splashProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      const DibDraw d = pictureDraw(splashPicture, 0);
      SetDIBitsToDevice(dc, 0, 0, DWORD(d.width), DWORD(d.height), 0, d.srcY, 0, d.lines,
                        splashPicture.bits,
                        reinterpret_cast<const BITMAPINFO*>(splashPicture.info), DIB_RGB_COLORS);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_TIMER:
      // Only the hidden owner has the timer; the splash goes with it.
      DestroyWindow(window);
      PostQuitMessage(0);
      Sleep(200);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

void showSplash(const Picture& splashBitmap, uint8_t splashSeconds, void* instanceHandle) {
  // The whole picture is shown, however large: the screen does not cut it.
  pictureRecord(splashBitmap, 0x7FFFFFFF, 0x7FFFFFFF, splashPicture);
  // A picture whose bits would be read past the script is not shown at all.
  if (!splashPicture.drawable) return;

  HINSTANCE instance = static_cast<HINSTANCE>(instanceHandle);
  WNDCLASSEXA cls{};
  cls.cbSize = sizeof cls;
  cls.style = CS_HREDRAW | CS_VREDRAW;
  cls.lpfnWndProc = &splashProc;
  cls.hInstance = instance;
  cls.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  cls.hIconSm = cls.hIcon;
  cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  cls.lpszClassName = kSplashClass;
  RegisterClassExA(&cls);

  HWND owner = CreateWindowExA(0, kSplashClass, nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               instance, nullptr);
  if (!owner) return;  // without it no timer could ever end the splash
  const SplashPlacement at =
      splashPlacement(splashPicture.width, splashPicture.rows, GetSystemMetrics(SM_CXSCREEN),
                      GetSystemMetrics(SM_CYSCREEN));
  CreateWindowExA(WS_EX_TOPMOST, kSplashClass, nullptr, WS_POPUP | WS_VISIBLE, at.x, at.y,
                  at.width, at.height, owner, nullptr, instance, nullptr);
  SetTimer(owner, 1, splashMilliseconds(splashSeconds), nullptr);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace mw
