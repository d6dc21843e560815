// The edge-snapping rule on plain screen rectangles, shared by the windows of
// every platform.
#ifndef SHELL_SNAP_RULE_H_
#define SHELL_SNAP_RULE_H_

namespace shell {

inline constexpr int kSnapReach = 10;

struct ScreenRect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct ScreenPoint {
  int x = 0, y = 0;
  bool operator==(const ScreenPoint&) const = default;
};

// Returns the top-left corner `frame` takes after a move. Each edge, in the
// order left, top, right, bottom, that lies closer than `reach` pixels to the
// same edge of `workArea` is put onto it, size kept; a later edge wins over
// an earlier one. A frame moved to exactly 0,0 is left alone. Right and
// bottom edges are exclusive coordinates (x + width, y + height).
ScreenPoint SnapRect(const ScreenRect& frame, const ScreenRect& workArea, int reach = kSnapReach);

}  // namespace shell

#endif  // SHELL_SNAP_RULE_H_
