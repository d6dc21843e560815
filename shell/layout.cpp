#include "shell/layout.h"

#include <algorithm>
#include <string_view>

namespace shell {
namespace {

using K = ControlKind;
constexpr int kBig = 15;
constexpr int kSmall = kWindowFontPixels;

constexpr ControlLayout kLayout[] = {
    {"lbl2", K::kLabel, nullptr, 36, 8, 232, 18, "Select lines in Norvane editor to Adjust", kBig, true, -1, false},
    {"lbl4", K::kLabel, nullptr, 15, 8, 13, 18, "1.", kBig, false, -1, false},
    {"lbl7", K::kLabel, nullptr, 15, 205, 13, 18, "4.", kBig, false, -1, false},
    {"lbl5", K::kLabel, nullptr, 39, 236, 119, 13, "Gutter will show changes", kSmall, false, -1, true},
    {"btnRun", K::kPushButton, nullptr, 52, 201, 75, 25, "Adjust", kSmall, false, 0, true},
    {"btnExit", K::kCancelButton, nullptr, 276, 201, 75, 25, "Close", kSmall, false, 1, true},
    {"grp1", K::kGroupBox, nullptr, 8, 123, 413, 69, "3. Arcs", kBig, false, 2, false},
    {"lbl3", K::kLabel, "grp1", 28, 19, 124, 26, "Change programmed Arcs\nwith Radius less than ", kSmall, false, -1, false},
    {"lbl10", K::kLabel, "grp1", 248, 27, 99, 13, "Change feedrate to:", kSmall, false, -1, false},
    {"edt2", K::kEdit, "grp1", 160, 24, 57, 21, "", kSmall, false, 0, false},
    {"edt4", K::kEdit, "grp1", 351, 24, 49, 21, "", kSmall, false, 1, false},
    {"grp2", K::kGroupBox, nullptr, 8, 43, 413, 74, "2. Lines", kBig, false, 3, false},
    {"lbl1", K::kLabel, "grp2", 20, 23, 130, 26, "Change programmed Lines \nwith length less than:", kSmall, false, -1, false},
    {"lbl9", K::kLabel, "grp2", 244, 28, 99, 13, "Change feedrate to:", kSmall, false, -1, false},
    {"edt1", K::kEdit, "grp2", 160, 24, 57, 21, "", kSmall, false, 0, false},
    {"edt3", K::kEdit, "grp2", 351, 24, 49, 21, "", kSmall, false, 1, false},
    {"chk1", K::kCheckBox, "grp2", 244, 49, 97, 17, "Only on 45 Deg.", kSmall, false, 2, false},
};

// Appends the focusable controls under `parent` in tab order, a group box
// standing for its own contents.
void AppendTabChain(const char* parent, std::vector<std::string>& chain) {
  std::vector<const ControlLayout*> children;
  for (const ControlLayout& c : kLayout) {
    const bool same = parent == nullptr ? c.parent == nullptr
                                        : c.parent != nullptr && std::string_view(c.parent) == parent;
    if (same && c.tabOrder >= 0) children.push_back(&c);
  }
  std::stable_sort(children.begin(), children.end(),
                   [](const ControlLayout* a, const ControlLayout* b) { return a->tabOrder < b->tabOrder; });
  for (const ControlLayout* c : children) {
    if (c->kind == ControlKind::kGroupBox) {
      AppendTabChain(c->name, chain);
    } else {
      chain.emplace_back(c->name);
    }
  }
}

}  // namespace

std::span<const ControlLayout> MainWindowLayout() { return kLayout; }

std::vector<std::string> MainWindowTabChain() {
  std::vector<std::string> chain;
  AppendTabChain(nullptr, chain);
  return chain;
}

}  // namespace shell
