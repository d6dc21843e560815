#include "shell/edge_snap.h"

namespace shell {

QPoint SnapToWorkArea(const QRect& frame, const QRect& workArea, int reach) {
  const ScreenPoint p =
      SnapRect({frame.x(), frame.y(), frame.width(), frame.height()},
               {workArea.x(), workArea.y(), workArea.width(), workArea.height()}, reach);
  return {p.x, p.y};
}

}  // namespace shell
