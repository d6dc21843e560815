#include "feed/geometry.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace feed {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(NormalizeAngle, AtMostTwoTurnsEachWay) {
  struct Case {
    double in, out;
  } cases[] = {
      {0, 0},       {360, 360},   {360.5, 0.5}, {720, 360}, {1080, 360}, {1081, 361},
      {-0.5, 359.5}, {-360, 0},   {-720, 0},    {-721, -1}, {45, 45},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(NormalizeAngle(c.in), c.out) << c.in;
}

TEST(NormalizeAngle, NonFiniteComesBackAsIs) {
  EXPECT_TRUE(std::isnan(NormalizeAngle(kNaN)));
  EXPECT_EQ(NormalizeAngle(kInf), kInf);
  EXPECT_EQ(NormalizeAngle(-kInf), -kInf);
}

// Direction of each move, and where it lands against the diagonals.
TEST(DirectionAngle, QuadrantsAndAxes) {
  struct Case {
    double x1, y1, x2, y2;
    double lo, hi;  // exclusive bounds of the expected angle
    bool near45;
  } cases[] = {
      {0, 0, 1, 1, 45, 45.000001, true},             // factor above 180/pi
      {0, 0, -1, 1, 134.999999, 135, true},
      {0, 0, -1, -1, 225, 225.000001, true},
      {0, 0, 1, -1, 314.999999, 315, true},
      {0, 0, 10, 0, 359.99999, 360, false},          // +x: shifted, never 0
      {0, 0, 1, 0, 359.999994, 359.9999945, false},  // about 359.9999943
      {0, 0, -1, 0, 180, 180.00001, false},
      {0, 0, 0, 1, 90, 90.00001, false},
      {0, 0, 0, -1, 269.99999, 270, false},
      {5, 5, 6, 6.0333, 45, 47, true},               // within two degrees
      {0, 0, std::cos(0.5236), std::sin(0.5236), 29.9, 30.1, false},
  };
  for (const auto& c : cases) {
    const double a = DirectionAngle(c.x1, c.y1, c.x2, c.y2);
    EXPECT_GT(a, c.lo) << c.x2 << "," << c.y2;
    EXPECT_LT(a, c.hi) << c.x2 << "," << c.y2;
    EXPECT_EQ(IsNear45(a), c.near45) << c.x2 << "," << c.y2;
  }
}

TEST(DirectionAngle, EqualPointsGiveExactlyZero) {
  EXPECT_EQ(DirectionAngle(0, 0, 0, 0), 0.0);
  EXPECT_EQ(DirectionAngle(-3.5, 1e300, -3.5, 1e300), 0.0);
}

TEST(DirectionAngle, NonFiniteInputs) {
  EXPECT_TRUE(std::isnan(DirectionAngle(kNaN, 0, 1, 1)));
  EXPECT_TRUE(std::isnan(DirectionAngle(0, 0, 1, kNaN)));
  EXPECT_TRUE(std::isnan(DirectionAngle(0, 0, kInf, kInf)));
  EXPECT_TRUE(std::isnan(DirectionAngle(kInf, 0, kInf, 1)));  // inf - inf
  EXPECT_EQ(DirectionAngle(0, 0, kInf, 0), 360.0);
  EXPECT_NEAR(DirectionAngle(0, 0, 1, kInf), 90.0, 1e-6);
  EXPECT_NEAR(DirectionAngle(0, 0, -1, -kInf), 270.0, 1e-6);
  EXPECT_FALSE(IsNear45(DirectionAngle(kNaN, kNaN, 0, 0)));
}

TEST(Distance2D, PerAxisBoundIsStrict) {
  struct Case {
    double x1, y1, x2, y2, out;
  } cases[] = {
      {0, 0, 3, 4, 5},
      {0, 0, 200000, 0, 200000},   // exactly the bound: measured
      {0, 0, 0, -200000, 200000},
      {0, 0, 200000.5, 0, 0},      // beyond it: 0 however small the other axis
      {0, 0, 1e-9, 200000.5, 0},
      {-100000.25, 0, 100000.25, 0, 0},
      {7, 7, 7, 7, 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(Distance2D(c.x1, c.y1, c.x2, c.y2), c.out)
        << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
  }
}

TEST(Distance2D, NonFiniteInputsGiveZero) {
  EXPECT_EQ(Distance2D(kNaN, 0, 1, 1), 0.0);
  EXPECT_EQ(Distance2D(0, 0, kInf, 0), 0.0);
  EXPECT_EQ(Distance2D(kInf, 0, kInf, 0), 0.0);
  EXPECT_EQ(Distance2D(0, -kInf, 0, 0), 0.0);
}

TEST(Distance3D, Unbounded) {
  struct Case {
    TPoint3D p, q;
    double out;
  } cases[] = {
      {{0, 0, 0}, {1, 2, 2}, 3},
      {{1, 1, 1}, {1, 1, 1}, 0},
      {{0, 0, 0}, {0, 0, 1e6}, 1e6},  // no bound in space
      {{-1, -2, -3}, {-1, -2, -3}, 0},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(Distance3D(c.p, c.q), c.out);
}

TEST(Distance3D, NonFiniteAndHugeInputs) {
  EXPECT_EQ(Distance3D({kNaN, 0, 0}, {0, 0, 0}), 0.0);
  EXPECT_EQ(Distance3D({kInf, 0, 0}, {kInf, 0, 0}), 0.0);
  EXPECT_EQ(Distance3D({0, 0, kInf}, {0, 0, 0}), kInf);
  EXPECT_EQ(Distance3D({1e200, 0, 0}, {0, 0, 0}), kInf);  // square overflows
}

TEST(IsNear45, ExclusiveBoundsAndNoNormalising) {
  struct Case {
    double a;
    bool near;
  } cases[] = {
      // Each band probed at both bounds and just inside them.
      {43, false},  {43.001, true},  {45, true},  {46.999, true},  {47, false},
      {133, false}, {133.001, true}, {135, true}, {136.999, true}, {137, false},
      {223, false}, {223.001, true}, {225, true}, {226.999, true}, {227, false},
      {313, false}, {313.001, true}, {315, true}, {316.999, true}, {317, false},
      {405, false}, {-315, false}, {0, false},   {90, false},  {kNaN, false}, {kInf, false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsNear45(c.a), c.near) << c.a;
}

}  // namespace
}  // namespace feed
