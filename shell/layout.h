// The stored layout of the main window at 96 dpi: one row a control, in the
// order the controls are created.
#ifndef SHELL_LAYOUT_H_
#define SHELL_LAYOUT_H_

#include <span>
#include <string>
#include <vector>

namespace shell {

inline constexpr const char* kWindowCaption = "Norvane Brevand";
inline constexpr int kClientWidth = 431;
inline constexpr int kClientHeight = 266;
inline constexpr int kWindowFontPixels = 11;  // character height, 8 pt at 96 dpi

enum class ControlKind { kLabel, kPushButton, kCancelButton, kGroupBox, kEdit, kCheckBox };

struct ControlLayout {
  const char* name;
  ControlKind kind;
  const char* parent;  // nullptr: the window's client area
  int left, top, width, height;
  const char* text;    // UTF-8; "\n" breaks a label's lines
  int fontPixels;      // character height at 96 dpi
  bool black;          // text drawn in black rather than the window-text colour
  int tabOrder;        // within the parent; -1 takes no focus
  bool windowFont;     // uses the window's own font (fontPixels is its design height)
};

// Every control, parents before their children.
std::span<const ControlLayout> MainWindowLayout();

// The focus order across the whole window, from the first control on: the
// window's controls by tab order, a group box's contents in its place.
std::vector<std::string> MainWindowTabChain();

}  // namespace shell

#endif  // SHELL_LAYOUT_H_
