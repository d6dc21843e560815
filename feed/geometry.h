// The geometry of one move: lengths, direction and the near-diagonal test.
//
// Pure functions of their arguments, safe on any thread. Angles are in
// degrees, counted from +x toward +y of the plane given.
//
// Non-finite inputs never crash, hang or invoke undefined behaviour; what
// comes out is stated with each function. Finite inputs so large that a
// difference or a square leaves the double range give +inf lengths (and
// raise the overflow flag of <cfenv>); callers that must not go on with an
// infinity check the flags around the call.
#ifndef FEED_GEOMETRY_H_
#define FEED_GEOMETRY_H_

namespace feed {

// One point of a move, in the units of the host's program.
struct TPoint3D {
  double X, Y, Z;
};

// Radians to degrees, as the pass has always used it (not 180/pi exactly).
inline constexpr double kDegreesPerRadian = 57.2957795131;

// Moves `a` into 0..360 by at most two turns up or down: 360 stays 360,
// -720 gives 0, 1081 gives 361. NaN gives NaN; +inf gives +inf and -inf -inf.
double NormalizeAngle(double a);

// Direction of the move from (x1, y1) to (x2, y2). Equal points give exactly
// 0. A zero difference on an axis is replaced by 1e-7 (the first point
// shifted by it), so a finite move along an axis never gives a multiple of
// 90: toward +x it gives just under 360. A NaN input, a difference of two
// equal infinities, or infinite differences on both axes give NaN; an
// infinite difference on one axis only gives that axis's direction (toward
// +x: 360, toward +y: about 90).
double DirectionAngle(double x1, double y1, double x2, double y2);

// Distance between (x1, y1) and (x2, y2); 0 when either axis differs by more
// than 200000 (exactly 200000 is still measured) or the points coincide.
// NaN or infinite inputs give 0 (they never measure as a short move).
double Distance2D(double x1, double y1, double x2, double y2);

// Distance between p and q; 0 when they coincide. No bound applies. A NaN
// coordinate, or one infinite in both points, gives 0; any other infinite
// coordinate gives +inf.
double Distance3D(const TPoint3D& p, const TPoint3D& q);

// True when 43 < a < 47, 133 < a < 137, 223 < a < 227 or 313 < a < 317. The
// angle is not normalised first (405 is not near). NaN is not near.
bool IsNear45(double a);

}  // namespace feed

#endif  // FEED_GEOMETRY_H_
