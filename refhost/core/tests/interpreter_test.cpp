#include "refhost/core/interpreter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace refhost {
namespace {

std::vector<Block> Interpret(const std::string& program) {
  std::vector<Block> blocks;
  ModalState state;
  std::istringstream in(program);
  std::string line;
  while (std::getline(in, line)) {
    Block block;
    block.line = static_cast<std::int64_t>(blocks.size()) + 1;
    InterpretLine(line, state, block);
    blocks.push_back(block);
  }
  return blocks;
}

constexpr double kNone = 1e300;  // "do not check"

struct LastLineCase {
  const char* name;
  const char* program;
  int motion;
  double start[3];
  double end[3];
  double feed;
  double radius;
  double centre[3];  // checked when radius is checked and nonzero
};

// Cases print as their names in test listings.
void PrintTo(const LastLineCase& c, std::ostream* os) { *os << c.name; }

class LastLineTest : public ::testing::TestWithParam<LastLineCase> {};

TEST_P(LastLineTest, ReportsTheLastLine) {
  const LastLineCase& c = GetParam();
  std::vector<Block> blocks = Interpret(c.program);
  ASSERT_FALSE(blocks.empty());
  const Block& b = blocks.back();
  EXPECT_EQ(b.motion, c.motion);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(b.start[i], c.start[i], 1e-9) << "start " << i;
    EXPECT_NEAR(b.end[i], c.end[i], 1e-9) << "end " << i;
  }
  EXPECT_DOUBLE_EQ(b.feed, c.feed);
  if (c.radius != kNone) {
    EXPECT_NEAR(b.radius, c.radius, 1e-9);
    if (c.radius != 0) {
      for (int i = 0; i < 3; ++i) EXPECT_NEAR(b.centre[i], c.centre[i], 1e-9) << "centre " << i;
    }
  }
}

const double kR2 = std::sqrt(2.0);

INSTANTIATE_TEST_SUITE_P(
    Programs, LastLineTest,
    ::testing::Values(
        LastLineCase{"ModalCarryOver", "G1 X1 F100\nX2\nY3", 1, {2, 0, 0}, {2, 3, 0}, 100, 0, {}},
        LastLineCase{"TwoDigitCodes", "G00 X1\nG01 X2 F50", 1, {1, 0, 0}, {2, 0, 0}, 50, 0, {}},
        LastLineCase{"RapidKeepsFeed", "G1 X1 F80\nG0 Z5", 0, {1, 0, 0}, {1, 0, 5}, 80, 0, {}},
        LastLineCase{"Incremental", "G91 G1 X1 Y1 F10\nX1 Y-3 Z2", 1, {1, 1, 0}, {2, -2, 2}, 10, 0, {}},
        LastLineCase{"ModeAppliesToWholeLine", "G1 X5 F1\nX1 G91", 1, {5, 0, 0}, {6, 0, 0}, 1, 0, {}},
        LastLineCase{"BackToAbsolute", "G91 G1 X1 F1\nG90 X4", 1, {1, 0, 0}, {4, 0, 0}, 1, 0, {}},
        LastLineCase{"NoMotionKeepsState", "G1 X1 Y2 F100\nM8", 1, {1, 2, 0}, {1, 2, 0}, 100, 0, {}},
        LastLineCase{"BlankLine", "G2 X1 Y1 R1 F7\n\n", 2, {1, 1, 0}, {1, 1, 0}, 7, 0, {}},
        LastLineCase{"PercentLine", "G1 X3 F9\n% X7 F1", 1, {3, 0, 0}, {3, 0, 0}, 9, 0, {}},
        LastLineCase{"CannedCycleCancel", "G1 X1 F3\nG80", -1, {1, 0, 0}, {1, 0, 0}, 3, 0, {}},
        LastLineCase{"OwnFeedCounts", "G1 X1 F100\nX2 F200", 1, {1, 0, 0}, {2, 0, 0}, 200, 0, {}},
        LastLineCase{"Comments", "G1 X1 (X5 Y5) Y2 F3 ; X9", 1, {0, 0, 0}, {1, 2, 0}, 3, 0, {}},
        LastLineCase{"BlockDelete", "G1 X1 F5\n  /X5 F9", 1, {1, 0, 0}, {1, 0, 0}, 5, 0, {}},
        LastLineCase{"PackedLowerCase", "g1f24\nn120y-56.12z-27.725", 1, {0, 0, 0}, {0, -56.12, -27.725}, 24, 0, {}},
        LastLineCase{"TrailingAndLeadingPoint", "   G1X53.Y-.5Z+.25F1.", 1, {0, 0, 0}, {53, -0.5, 0.25}, 1, 0, {}},
        LastLineCase{"BlankAfterLetter", "G 1 X 2 F 3", 1, {0, 0, 0}, {2, 0, 0}, 3, 0, {}},
        LastLineCase{"OtherCodesIgnored", "G21 G64P.1 G94 G8 T1M6 S1600M3 G54\nG01 X1 F2", 1, {0, 0, 0}, {1, 0, 0}, 2, 0, {}},
        LastLineCase{"DwellLeavesTheAxisWordsToTheMotion", "G1 X1 F2\nG4 P1 X9", 1, {1, 0, 0}, {9, 0, 0}, 2, 0, {}},
        LastLineCase{"OffsetTakesTheAxisWords", "G1 X1 F1\nG92 X0 Y0", 1, {0, 0, 0}, {0, 0, 0}, 1, 0, {}},
        // Arcs by R: the centre of the short arc lies right of the chord for G2.
        LastLineCase{"ArcRHalfCircle", "G17 G2 X2 Y0 R1 F10", 2, {0, 0, 0}, {2, 0, 0}, 10, 1, {1, 0, 0}},
        LastLineCase{"ArcRClockwise", "G2 X2 Y0 R1.4142135623730951 F1", 2, {0, 0, 0}, {2, 0, 0}, 1, kR2, {1, -1, 0}},
        LastLineCase{"ArcRCounterClockwise", "G3 X2 Y0 R1.4142135623730951 F1", 3, {0, 0, 0}, {2, 0, 0}, 1, kR2, {1, 1, 0}},
        LastLineCase{"ArcRNegativeLongArc", "G2 X2 Y0 R-1.4142135623730951 F1", 2, {0, 0, 0}, {2, 0, 0}, 1, kR2, {1, 1, 0}},
        LastLineCase{"ArcRShorterThanHalf", "G2 X2 Y0 R1.25 F1", 2, {0, 0, 0}, {2, 0, 0}, 1, 1.25, {1, -0.75, 0}},
        LastLineCase{"ArcRModal", "G2 X2 R1 F3\nX0 R1", 2, {2, 0, 0}, {0, 0, 0}, 3, 1, {1, 0, 0}},
        LastLineCase{"ArcRIncremental", "G91 G3 X2 Y2 R2 F1", 3, {0, 0, 0}, {2, 2, 0}, 1, 2, {0, 2, 0}},
        LastLineCase{"ArcRZXPlane", "G18 G2 X2 Z2 R2 F1", 2, {0, 0, 0}, {2, 0, 2}, 1, 2, {0, 0, 2}},
        LastLineCase{"ArcRYZPlane", "G19 G2 Y2 Z2 R2 F1", 2, {0, 0, 0}, {0, 2, 2}, 1, 2, {0, 2, 0}},
        // Arcs by centre offsets in each plane; offsets of other planes do not count.
        LastLineCase{"ArcIJ", "G3 X0 Y2 I0 J1 F1", 3, {0, 0, 0}, {0, 2, 0}, 1, 1, {0, 1, 0}},
        LastLineCase{"ArcIJIgnoresK", "G17 G2 X6 I3 J4 K99 F1", 2, {0, 0, 0}, {6, 0, 0}, 1, 5, {3, 4, 0}},
        LastLineCase{"ArcIK", "G18 G2 X6 I3 K4 J99 F1", 2, {0, 0, 0}, {6, 0, 0}, 1, 5, {3, 0, 4}},
        LastLineCase{"ArcIKOmittedK", "G18 F1\nG1 X1 Z1\nG3 X4 Z-2 I2", 3, {1, 0, 1}, {4, 0, -2}, 1, 2, {3, 0, 1}},
        LastLineCase{"ArcJK", "G19 G2 Z6 J3 K4 I99 F1", 2, {0, 0, 0}, {0, 0, 6}, 1, 5, {0, 3, 4}},
        LastLineCase{"ArcAbsoluteCentre", "G1 X1 Y1 F1\nG90.1 G2 X3 Y1 I2 J1", 2, {1, 1, 0}, {3, 1, 0}, 1, 1, {2, 1, 0}},
        // With absolute centres an offset left out is the axis origin, 0.
        LastLineCase{"ArcAbsoluteOmittedJ", "G1 X1 Y1 F1\nG90.1 G2 X3 Y1 I2", 2, {1, 1, 0}, {3, 1, 0}, 1, kR2, {2, 0, 0}},
        LastLineCase{"ArcAbsoluteOmittedK", "G18 G90.1 F1\nG1 X1 Z1\nG3 X-1 Z1 I0", 3, {1, 0, 1}, {-1, 0, 1}, 1, kR2, {0, 0, 0}},
        LastLineCase{"ArcBackToRelativeCentre", "G90.1 F1\nG91.1 G1 X1 Y1\nG2 X3 Y1 I1", 2, {1, 1, 0}, {3, 1, 0}, 1, 1, {2, 1, 0}},
        LastLineCase{"ArcWithoutAxisWordsDoesNotMove", "G1 X1 Y1 F1\nG2 I1", 2, {1, 1, 0}, {1, 1, 0}, 1, 0, {}},
        LastLineCase{"LineAfterArcHasNoRadius", "G2 X2 R1 F1\nG1 X3", 1, {2, 0, 0}, {3, 0, 0}, 1, 0, {}}),
    [](const ::testing::TestParamInfo<LastLineCase>& info) { return std::string(info.param.name); });

TEST(InterpreterTest, ModalGroupsAndNumbers) {
  std::vector<Block> b = Interpret("N10 G20 G18 G91\nN20.5 G21\nG19 G90\nG17");
  EXPECT_EQ(b[0].units, 20);
  EXPECT_EQ(b[0].plane, 18);
  EXPECT_TRUE(b[0].incremental);
  EXPECT_DOUBLE_EQ(b[0].n, 10);
  EXPECT_EQ(b[1].units, 21);
  EXPECT_DOUBLE_EQ(b[1].n, 20.5);
  EXPECT_EQ(b[1].plane, 18);
  EXPECT_EQ(b[2].plane, 19);
  EXPECT_FALSE(b[2].incremental);
  EXPECT_EQ(b[3].plane, 17);
  EXPECT_DOUBLE_EQ(b[3].n, 0);
}

TEST(InterpreterTest, InchProgramKeepsItsNumbers) {
  std::vector<Block> b = Interpret("G20 G1 X1.5 F12");
  EXPECT_EQ(b[0].units, 20);
  EXPECT_DOUBLE_EQ(b[0].end[0], 1.5);
}

TEST(InterpreterTest, MovesAndSkippedFlags) {
  std::vector<Block> b = Interpret("G1 X1 F1\nM3\n/G1 X2\nG0");
  EXPECT_TRUE(b[0].moves);
  EXPECT_FALSE(b[1].moves);
  EXPECT_TRUE(b[2].skipped);
  EXPECT_FALSE(b[2].moves);
  EXPECT_FALSE(b[3].moves);
  EXPECT_EQ(b[3].motion, 0);
}

TEST(InterpreterTest, NumbersReadExactly) {
  // Long numbers take the slow path; short ones must match it exactly.
  std::vector<Block> b = Interpret("G0 X0.1 Y1.997999 Z-27.725\nX0.12345678901234567 Y123456789012345678");
  EXPECT_EQ(b[0].end[0], 0.1);
  EXPECT_EQ(b[0].end[1], 1.997999);
  EXPECT_EQ(b[0].end[2], -27.725);
  EXPECT_EQ(b[1].end[0], 0.12345678901234567);
  EXPECT_EQ(b[1].end[1], 123456789012345678.0);
}

TEST(BlockValueTest, Indices) {
  std::vector<Block> b = Interpret("G20 G1 X1 F5\nN7 G91 G18 G3 X2 Z0 I1 K0 F9");
  Block block = b[1];
  block.line = 42;
  struct Case {
    int index;
    double value;
  };
  const Case cases[] = {{1, 3},  {2, 18},  {3, 91}, {4, 1},  {5, 0},  {6, 0}, {7, 3},
                        {8, 0},  {9, 0},   {10, 2}, {11, 0}, {12, 0}, {13, 20}, {14, 7},
                        {15, 42}, {16, 1}, {19, 9}, {23, 1}, {0, 0},  {17, 0}, {50, 0}, {99, 0}};
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(BlockValue(block, c.index), c.value) << c.index;
  EXPECT_TRUE(IsKnownIndex(23));
  EXPECT_FALSE(IsKnownIndex(17));
  EXPECT_FALSE(IsKnownIndex(0));
}

}  // namespace
}  // namespace refhost
