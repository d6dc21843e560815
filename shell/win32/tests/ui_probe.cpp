// ui_probe.exe: looks at the desktop from inside a Wine prefix, for
// debugging the window tests by hand.
//   ui_probe list               every top-level window (and its children)
//   ui_probe capture HWND FILE  the window's screen pixels as a 24-bit BMP
//   ui_probe dismiss HWND       presses OK on a message box
//   ui_probe colours            a few system colours
//   ui_probe click HWND         a mouse click on the window's middle
//   ui_probe type TEXT          types TEXT into the focused window
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "shell/win32/tests/ui_driver.h"

namespace {

BOOL CALLBACK PrintChild(HWND w, LPARAM) {
  RECT r;
  GetWindowRect(w, &r);
  std::printf("    %p %-12s %4ld,%-4ld %4ldx%-4ld vis=%d id=%ld '%s'\n", static_cast<void*>(w),
              uitest::Narrow(uitest::ClassOf(w)).c_str(), r.left, r.top, r.right - r.left, r.bottom - r.top,
              IsWindowVisible(w) ? 1 : 0, static_cast<long>(GetDlgCtrlID(w)),
              uitest::Narrow(uitest::TextOf(w)).c_str());
  return TRUE;
}

bool Capture(HWND w, const char* file) {
  RECT r;
  GetWindowRect(w, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  SelectObject(mem, dib);
  BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const int stride = ((width * 3 + 3) / 4) * 4;
  BITMAPFILEHEADER fh{};
  fh.bfType = 0x4D42;
  fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
  fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * height);
  FILE* f = std::fopen(file, "wb");
  if (f == nullptr) return false;
  std::fwrite(&fh, sizeof fh, 1, f);
  std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
  std::fwrite(bits, static_cast<std::size_t>(stride * height), 1, f);
  std::fclose(f);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "list") == 0) {
    for (const uitest::WindowInfo& w : uitest::TopLevelWindows()) {
      RECT r;
      GetWindowRect(w.handle, &r);
      std::printf("%p pid=%lu %-28s %4ld,%-4ld %4ldx%-4ld vis=%d ex=%08lx fg=%d '%s'\n",
                  static_cast<void*>(w.handle), w.pid, uitest::Narrow(w.className).c_str(), r.left, r.top,
                  r.right - r.left, r.bottom - r.top, w.visible ? 1 : 0,
                  static_cast<unsigned long>(GetWindowLongW(w.handle, GWL_EXSTYLE)),
                  GetForegroundWindow() == w.handle ? 1 : 0, uitest::Narrow(w.title).c_str());
      if (w.visible) EnumChildWindows(w.handle, &PrintChild, 0);
    }
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "colours") == 0) {
    for (int c : {COLOR_BTNFACE, COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_3DFACE}) {
      const COLORREF v = GetSysColor(c);
      std::printf("%d: %d,%d,%d\n", c, GetRValue(v), GetGValue(v), GetBValue(v));
    }
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "capture") == 0) {
    return Capture(reinterpret_cast<HWND>(std::strtoull(argv[2], nullptr, 16)), argv[3]) ? 0 : 1;
  }
  if (argc == 3 && std::strcmp(argv[1], "click") == 0) {
    const HWND w = reinterpret_cast<HWND>(std::strtoull(argv[2], nullptr, 16));
    uitest::BringToFront(GetAncestor(w, GA_ROOT));
    uitest::ClickOn(w);
    return 0;
  }
  if (argc >= 3 && std::strcmp(argv[1], "type") == 0) {
    uitest::TypeText(uitest::Widen(argv[2]));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "dismiss") == 0) {
    return uitest::DismissBox(reinterpret_cast<HWND>(std::strtoull(argv[2], nullptr, 16))) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: ui_probe list | capture HWND FILE | dismiss HWND\n");
  return 2;
}
