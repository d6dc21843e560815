#include "shell/win32/controls.h"

#include <vector>

#include "shell/guard/win32/objects.h"

namespace shell::win32 {

using guard::win32::Narrow;
using guard::win32::Widen;

HFONT MakeFont(int pixels) {
  HFONT font = CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, kFontFace);
  return font != nullptr ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

int ZeroTextHeight(HFONT font) {
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return 0;
  const HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  const BOOL ok = GetTextExtentPoint32W(dc, L"0", 1, &size);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return ok ? size.cy : 0;
}

int ScreenDpi() {
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return kDesignDpi;
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  return dpi > 0 ? dpi : kDesignDpi;
}

LayoutScale ScaleForScreen(int dpi) {
  HFONT font = MakeFont(FontPixelsAtDpi(kWindowFontPixels, dpi));
  const LayoutScale scale = ScaleForZeroHeight(ZeroTextHeight(font));
  DeleteObject(font);
  return scale;
}

HWND CreateControl(const ControlLayout& row, HWND window, POINT origin, const LayoutScale& scale, int id,
                   HFONT font) {
  const wchar_t* cls = L"BUTTON";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD exStyle = 0;
  switch (row.kind) {
    case ControlKind::kLabel:
      cls = L"STATIC";
      style |= SS_LEFT | SS_NOPREFIX;
      break;
    case ControlKind::kPushButton:
    case ControlKind::kCancelButton:
      style |= BS_PUSHBUTTON | WS_TABSTOP;
      break;
    case ControlKind::kGroupBox:
      style |= BS_GROUPBOX;
      break;
    case ControlKind::kEdit:
      cls = L"EDIT";
      style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP;
      exStyle = WS_EX_CLIENTEDGE;
      break;
    case ControlKind::kCheckBox:
      style |= BS_AUTOCHECKBOX | WS_TABSTOP;
      break;
  }
  std::wstring text = Widen(row.text);
  // Label lines break at "\n"; the static control wants CR LF.
  for (std::size_t at = text.find(L'\n'); at != std::wstring::npos; at = text.find(L'\n', at + 2)) {
    text.insert(at, 1, L'\r');
  }
  int width = scale(row.width);
  int height = scale(row.height);
  if (row.kind == ControlKind::kLabel || row.kind == ControlKind::kCheckBox) {
    // Labels size themselves to their text, never smaller than stored; a
    // check box grows to keep its text whole beside the box.
    const int box = row.kind == ControlKind::kCheckBox ? scale(17) : 0;
    HDC dc = GetDC(nullptr);
    if (dc != nullptr) {
      const HGDIOBJ old = SelectObject(dc, font);
      RECT r{0, 0, 0, 0};
      DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX);
      SelectObject(dc, old);
      ReleaseDC(nullptr, dc);
      if (r.right + box > width) width = r.right + box;
      if (box == 0 && r.bottom > height) height = r.bottom;
    }
  }
  HWND control = CreateWindowExW(exStyle, cls, text.c_str(), style, scale(origin.x + row.left),
                                 scale(origin.y + row.top), width, height, window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  if (control == nullptr) return nullptr;
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  if (row.kind == ControlKind::kEdit) SendMessageW(control, EM_SETLIMITTEXT, 0, 0);  // no limit
  return control;
}

HIMAGELIST LoadButtonGlyph(HINSTANCE instance, int resourceId) {
  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageW(instance, MAKEINTRESOURCEW(resourceId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (picture == nullptr) return nullptr;
  BITMAP info{};
  GetObjectW(picture, sizeof info, &info);
  const int side = info.bmHeight;
  if (side <= 0 || info.bmWidth != 2 * side) {
    DeleteObject(picture);
    return nullptr;
  }
  // The images in the button's state order (normal, hot, pressed, disabled,
  // defaulted, stylus hot) side by side; the bottom-left colour is clear.
  constexpr int kStates[] = {0, 0, 0, 1, 0, 0};
  HIMAGELIST list = nullptr;
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  HBITMAP strip = CreateCompatibleBitmap(screen, 6 * side, side);
  if (from != nullptr && to != nullptr && strip != nullptr) {
    const HGDIOBJ oldFrom = SelectObject(from, picture);
    const HGDIOBJ oldTo = SelectObject(to, strip);
    const COLORREF transparent = GetPixel(from, 0, side - 1);
    for (int i = 0; i < 6; ++i) BitBlt(to, i * side, 0, side, side, from, kStates[i] * side, 0, SRCCOPY);
    SelectObject(from, oldFrom);
    SelectObject(to, oldTo);
    list = ImageList_Create(side, side, ILC_COLOR24 | ILC_MASK, 6, 0);
    if (list != nullptr && (ImageList_AddMasked(list, strip, transparent) < 0 ||
                            ImageList_GetImageCount(list) != 6)) {
      ImageList_Destroy(list);
      list = nullptr;
    }
  }
  if (strip != nullptr) DeleteObject(strip);
  if (to != nullptr) DeleteDC(to);
  if (from != nullptr) DeleteDC(from);
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  DeleteObject(picture);
  return list;
}

std::string WindowText(HWND window) {
  const int n = GetWindowTextLengthW(window);
  std::vector<wchar_t> buffer(static_cast<std::size_t>(n) + 1);
  const int got = GetWindowTextW(window, buffer.data(), n + 1);
  return Narrow(std::wstring(buffer.data(), static_cast<std::size_t>(got > 0 ? got : 0)));
}

}  // namespace shell::win32
