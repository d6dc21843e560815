#include "shell/snap_rule.h"

#include <cstdlib>

namespace shell {

ScreenPoint SnapRect(const ScreenRect& frame, const ScreenRect& workArea, int reach) {
  ScreenPoint pos{frame.x, frame.y};
  if (pos == ScreenPoint{0, 0}) return pos;
  const int right = frame.x + frame.width;
  const int bottom = frame.y + frame.height;
  const int areaRight = workArea.x + workArea.width;
  const int areaBottom = workArea.y + workArea.height;
  if (std::abs(frame.x - workArea.x) < reach) pos.x = workArea.x;
  if (std::abs(frame.y - workArea.y) < reach) pos.y = workArea.y;
  if (std::abs(right - areaRight) < reach) pos.x = areaRight - frame.width;
  if (std::abs(bottom - areaBottom) < reach) pos.y = areaBottom - frame.height;
  return pos;
}

}  // namespace shell
