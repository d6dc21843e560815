// Planned times against the formulas worked by hand.
#include "refhost/toolpath/cycle_time.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "refhost/core/document.h"

namespace refhost {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kA = 1000;  // mm/s^2 on every axis

MachineProfile TestProfile() {
  MachineProfile p;
  p.name = "test";
  for (int i = 0; i < 3; ++i) {
    p.max_velocity[i] = 12000;  // 200 mm/s
    p.max_acceleration[i] = kA;
  }
  p.blend_tolerance = 0.05;
  p.tool_change = 5;
  return p;
}

// Time of one move from v0 to v1, cruising at vc, at kA.
double Trapezoid(double length, double v0, double v1, double vc) {
  const double up = (vc * vc - v0 * v0) / (2 * kA), down = (vc * vc - v1 * v1) / (2 * kA);
  return (vc - v0) / kA + (vc - v1) / kA + (length - up - down) / vc;
}

CycleTime Estimate(const std::string& text) {
  Document doc;
  doc.Load(text);
  return EstimateCycleTime(doc, TestProfile());
}

struct Case {
  const char* name;
  const char* program;
  double seconds;
};

TEST(CycleTime, MatchesHandComputedTimes) {
  // 90-degree corner under G64 P0.01: v^2 = a P s / (1 - s), s = cos 45deg.
  const double s = std::sqrt(0.5);
  const double corner = std::sqrt(kA * 0.01 * s / (1 - s));
  const Case cases[] = {
      // 50 mm/s, ramps of 1.25 mm each side: 0.1 s of ramps, 97.5 mm cruise.
      {"long move", "G1 X100 F3000\n", 0.05 + 0.05 + 97.5 / 50},
      // Too short for 50 mm/s: peak sqrt(a L).
      {"triangle", "G1 X1 F3000\n", 2 * std::sqrt(kA * 1.0) / kA},
      {"square G61", "G61\nG1 X10 F3000\nY10\nX0\nY0\n", 4 * Trapezoid(10, 0, 0, 50)},
      {"square G64 P0.01", "G64 P0.01\nG1 X10 F3000\nY10\nX0\nY0\n",
       Trapezoid(10, 0, corner, 50) + 2 * Trapezoid(10, corner, corner, 50) +
           Trapezoid(10, corner, 0, 50)},
      // F9000 is above the cap sqrt(a r) = 100 mm/s of r = 10.
      {"full circle", "G17 G2 X0 Y0 I10 J0 F9000\n", Trapezoid(20 * kPi, 0, 0, 100)},
      // Rapid at 200 mm/s, then a dwell and a tool change, each from rest.
      {"rapid dwell tool change", "G0 X100\nG4 P2.5\nM6 T2\n", Trapezoid(100, 0, 0, 200) + 2.5 + 5},
      // Split in two, a straight move plans as one.
      {"collinear", "G1 X50 F3000\nX100\n", 0.05 + 0.05 + 97.5 / 50},
      // Look-ahead: the fast move slows to the slow one's 10 mm/s in time.
      {"fast into slow", "G1 X100 F6000\nX101 F600\n",
       Trapezoid(100, 0, 10, 100) + Trapezoid(1, 10, 0, 10)},
      // Inch: 1 in at 100 in/min = 25.4 mm at 42.333 mm/s.
      {"inch", "G20 G1 X1 F100\n", Trapezoid(25.4, 0, 0, 254.0 / 6)},
  };
  for (const Case& c : cases) {
    const double got = Estimate(c.program).total;
    EXPECT_NEAR(got, c.seconds, c.seconds * 0.001) << c.name;
  }
}

TEST(CycleTime, SelectionSumsItsLines) {
  const CycleTime t = Estimate("G61\nG1 X10 F3000\nY10\nG4 P1\nX0\n");
  const double side = Trapezoid(10, 0, 0, 50);
  EXPECT_NEAR(t.Lines(2, 3), 2 * side, 1e-9);
  EXPECT_NEAR(t.Lines(4, 4), 1.0, 1e-9);
  EXPECT_NEAR(t.Lines(1, 99), t.total, 1e-9);
  EXPECT_EQ(t.Lines(4, 3), 0.0);
}

TEST(CycleTime, LongProgramsPlanAcrossTheWindow) {
  // More straight moves than the look-ahead window holds: still one ramp up and one down.
  std::string text = "G1 F3000\n";
  const int n = static_cast<int>(CyclePlanner::kWindow) * 2 + 10;
  for (int i = 1; i <= n; ++i) text.append("X").append(std::to_string(i)).append("\n");  // (appended: MinGW g++ 12 warns falsely on "X" + string)
  const double got = Estimate(text).total;
  const double want = 0.1 + (n - 2.5) / 50;
  EXPECT_NEAR(got, want, want * 1e-6);
}

TEST(CycleTime, FormatsDurations) {
  EXPECT_EQ(FormatDuration(754.4), "12:34");
  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(3725), "1:02:05");
  EXPECT_EQ(FormatDuration(-1), "0:00");
}

}  // namespace
}  // namespace refhost
