// Edge snapping of the main window against the work area of its monitor.
#ifndef SHELL_EDGE_SNAP_H_
#define SHELL_EDGE_SNAP_H_

#include <QPoint>
#include <QRect>

namespace shell {

inline constexpr int kSnapReach = 10;

// Returns the top-left corner `frame` takes after a move. Each edge, in the
// order left, top, right, bottom, that lies closer than `reach` pixels to the
// same edge of `workArea` is put onto it, size kept; a later edge wins over
// an earlier one. A frame moved to exactly 0,0 is left alone.
QPoint SnapToWorkArea(const QRect& frame, const QRect& workArea, int reach = kSnapReach);

}  // namespace shell

#endif  // SHELL_EDGE_SNAP_H_
