#include "feed/geometry.h"

#include <cmath>

namespace feed {

namespace {

// Stands in for a zero difference so that atan never sees 0/0.
constexpr double kAxisNudge = 1e-7;

// Beyond this difference on either axis a planar move is not measured.
constexpr double kPlanarBound = 200000.0;

}  // namespace

double NormalizeAngle(double a) {
  if (a > 360) a -= 360;
  if (a > 360) a -= 360;
  if (a < 0) a += 360;
  if (a < 0) a += 360;
  return a;
}

double DirectionAngle(double x1, double y1, double x2, double y2) {
  if (x1 == x2 && y1 == y2) return 0;

  double dy = std::fabs(y2 - y1);
  if (dy == 0) {
    dy = kAxisNudge;
    y1 += kAxisNudge;
  }
  double dx = std::fabs(x2 - x1);
  if (dx == 0) {
    dx = kAxisNudge;
    x1 += kAxisNudge;
  }

  double a = std::atan(dy / dx) * kDegreesPerRadian;  // 0..90

  // Fold into the quadrant of the second point as seen from the (shifted) first.
  if (x1 > x2 && y1 < y2) {
    a = 180 - a;
  } else if (x1 > x2 && y1 > y2) {
    a = a + 180;
  } else if (x1 < x2 && y1 > y2) {
    a = 360 - a;
  }
  return NormalizeAngle(a);
}

double Distance2D(double x1, double y1, double x2, double y2) {
  const double dx = std::fabs(x1 - x2);
  const double dy = std::fabs(y1 - y2);
  if (dx > kPlanarBound || dy > kPlanarBound) return 0;
  const double s = dx * dx + dy * dy;
  return s > 0 ? std::sqrt(s) : 0;
}

double Distance3D(const TPoint3D& p, const TPoint3D& q) {
  const double dx = p.X - q.X;
  const double dy = p.Y - q.Y;
  const double dz = p.Z - q.Z;
  const double s = dx * dx + dy * dy + dz * dz;
  return s > 0 ? std::sqrt(s) : 0;
}

bool IsNear45(double a) {
  return (43 < a && a < 47) || (133 < a && a < 137) || (223 < a && a < 227) ||
         (313 < a && a < 317);
}

}  // namespace feed
