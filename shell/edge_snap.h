// Edge snapping of the main window against the work area of its monitor.
#ifndef SHELL_EDGE_SNAP_H_
#define SHELL_EDGE_SNAP_H_

#include <QPoint>
#include <QRect>

#include "shell/snap_rule.h"

namespace shell {

// SnapRect (snap_rule.h) on Qt rectangles.
QPoint SnapToWorkArea(const QRect& frame, const QRect& workArea, int reach = kSnapReach);

}  // namespace shell

#endif  // SHELL_EDGE_SNAP_H_
