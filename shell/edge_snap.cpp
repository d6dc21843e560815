#include "shell/edge_snap.h"

#include <cstdlib>

namespace shell {

QPoint SnapToWorkArea(const QRect& frame, const QRect& workArea, int reach) {
  QPoint pos = frame.topLeft();
  if (pos == QPoint(0, 0)) return pos;
  // Right and bottom edges are exclusive coordinates, as on the desktop.
  const int right = frame.x() + frame.width();
  const int bottom = frame.y() + frame.height();
  const int areaRight = workArea.x() + workArea.width();
  const int areaBottom = workArea.y() + workArea.height();
  if (std::abs(frame.x() - workArea.x()) < reach) pos.setX(workArea.x());
  if (std::abs(frame.y() - workArea.y()) < reach) pos.setY(workArea.y());
  if (std::abs(right - areaRight) < reach) pos.setX(areaRight - frame.width());
  if (std::abs(bottom - areaBottom) < reach) pos.setY(areaBottom - frame.height());
  return pos;
}

}  // namespace shell
