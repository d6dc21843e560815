// Win32 controls from the stored layout: fonts, the resolution rule, one
// control per layout row, the cancel glyph.
#ifndef SHELL_WIN32_CONTROLS_H_
#define SHELL_WIN32_CONTROLS_H_

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "shell/layout.h"
#include "shell/scaling.h"

namespace shell::win32 {

inline constexpr wchar_t kFontFace[] = L"Tahoma";

// Tahoma at `pixels` character height (the em, without internal leading),
// default character set. Never null: the system's font stands in.
HFONT MakeFont(int pixels);

// Height of the text "0" in `font` on the screen.
int ZeroTextHeight(HFONT font);

// The screen's vertical resolution in dots per inch.
int ScreenDpi();

// The layout's scale on a screen of `dpi`: the window font's height scaled
// by dpi/96, then the rule of ScaleForZeroHeight on its "0".
LayoutScale ScaleForScreen(int dpi);

// Creates the control of `row` as a child of `window` at the row's place
// plus `origin` (its group box's corner for a control inside one, in design
// pixels), scaled.
// `id` is its control identifier. Labels grow to fit their text in `font`.
HWND CreateControl(const ControlLayout& row, HWND window, POINT origin, const LayoutScale& scale, int id,
                   HFONT font);

// The Close button's glyph from the 36 by 18 bitmap resource `resourceId`:
// an image list of 18 by 18 images in the order of the button's states
// (normal, hot, pressed, disabled, defaulted, stylus hot), the right half
// for the disabled state. The bitmap's bottom-left colour is transparent.
// Null when the resource or the image list cannot be had.
HIMAGELIST LoadButtonGlyph(HINSTANCE instance, int resourceId);

// The text of a window, as UTF-8.
std::string WindowText(HWND window);

}  // namespace shell::win32

#endif  // SHELL_WIN32_CONTROLS_H_
