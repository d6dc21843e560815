// The interpreter on real programs written elsewhere, through the automation
// members as a caller steps them.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "refhost/core/automation.h"

namespace refhost {
namespace {

std::string ReadProgram(const std::string& name) {
  std::ifstream in(std::string(BREVAND_NGC_DIR) + "/" + name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every line of the document, stepped from line 1.
std::vector<Block> StepAll(Document& doc) {
  Automation automation(doc);
  automation.selectline(1);
  std::vector<Block> blocks;
  for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
    automation.step();
    blocks.push_back(automation.LastBlock());
  }
  return blocks;
}

class ProgramTest : public ::testing::Test {
 protected:
  void Open(const std::string& name) {
    std::string text = ReadProgram(name);
    if (text.empty()) GTEST_SKIP() << name << " not found in " << BREVAND_NGC_DIR;
    doc.Load(std::move(text));
    blocks = StepAll(doc);
  }
  const Block& At(std::int64_t line) const { return blocks.at(static_cast<std::size_t>(line - 1)); }

  Document doc;
  std::vector<Block> blocks;
};

TEST_F(ProgramTest, SurfacingProgramFeedsAndPackedWords) {
  Open("3D_Chips.ngc");
  ASSERT_EQ(doc.LineCount(), 4701);
  EXPECT_EQ(GuessSystemType(doc), kSystemTypeMill);
  // N100G1Z-25.372F100 after N80G0X53.Y-56.128 and N90G0Z10.
  EXPECT_EQ(At(13).motion, 1);
  EXPECT_DOUBLE_EQ(At(13).feed, 100);
  EXPECT_DOUBLE_EQ(At(13).start[0], 53);
  EXPECT_DOUBLE_EQ(At(13).start[1], -56.128);
  EXPECT_DOUBLE_EQ(At(13).start[2], 10);
  EXPECT_DOUBLE_EQ(At(13).end[2], -25.372);
  // N120Y-56.12Z-27.725: modal G1, feed from the line before.
  EXPECT_EQ(At(15).motion, 1);
  EXPECT_DOUBLE_EQ(At(15).n, 120);
  EXPECT_DOUBLE_EQ(At(15).feed, 225);
  EXPECT_DOUBLE_EQ(At(15).start[2], -27.372);
  EXPECT_DOUBLE_EQ(At(15).end[1], -56.12);
  EXPECT_DOUBLE_EQ(At(15).end[2], -27.725);
  // Feed changes mid-program.
  const std::pair<std::int64_t, double> feeds[] = {{35, 225}, {36, 450}, {37, 450}, {4670, 450}, {4671, 225}};
  for (const auto& [line, feed] : feeds) EXPECT_DOUBLE_EQ(At(line).feed, feed) << line;
  EXPECT_DOUBLE_EQ(At(36).start[1], -53);  // "N320Y-53."
  EXPECT_DOUBLE_EQ(At(36).end[1], -47.891);
  EXPECT_EQ(At(1).motion, -1);  // a comment before any motion code
  EXPECT_EQ(At(5).units, 21);
}

TEST_F(ProgramTest, SpiralOfModalRArcs) {
  Open("arcspiral.ngc");
  EXPECT_EQ(GuessSystemType(doc), kSystemTypeMill);
  // "g2 r1.997999 x1.613302 y-1.178668" then "r1.996000 x1.486083 y-1.332506".
  EXPECT_EQ(At(8).motion, 2);
  EXPECT_DOUBLE_EQ(At(8).radius, 1.997999);
  EXPECT_DOUBLE_EQ(At(8).start[0], 1.724638);
  EXPECT_DOUBLE_EQ(At(8).start[2], -0.1);
  EXPECT_EQ(At(9).motion, 2);
  EXPECT_DOUBLE_EQ(At(9).radius, 1.996);
  EXPECT_DOUBLE_EQ(At(9).feed, 24);
  EXPECT_EQ(At(9).units, 20);
  int arcs = 0;
  for (const Block& b : blocks) {
    if (b.motion != 2 || b.radius == 0) continue;
    ++arcs;
    // Clockwise short arcs: the turn from start to end about the centre is negative.
    double sx = b.start[0] - b.centre[0], sy = b.start[1] - b.centre[1];
    double ex = b.end[0] - b.centre[0], ey = b.end[1] - b.centre[1];
    EXPECT_LT(sx * ey - sy * ex, 0) << "line " << b.line;
    EXPECT_NEAR(std::hypot(sx, sy), b.radius, 1e-6) << "line " << b.line;
  }
  EXPECT_EQ(arcs, 999);
}

TEST_F(ProgramTest, LatheArcsInTheZXPlane) {
  Open("lathe_pawn.ngc");
  EXPECT_EQ(GuessSystemType(doc), kSystemTypeLathe);
  // "G03 X7.073 Z-10.296 I-0.98513 K-2.29772"
  const Block& b = At(39);
  EXPECT_EQ(b.motion, 3);
  EXPECT_EQ(b.plane, 18);
  EXPECT_NEAR(b.radius, 2.5, 1e-4);
  EXPECT_NEAR(b.centre[0], 5.685 - 0.98513, 1e-9);
  EXPECT_NEAR(b.centre[2], -8.784 - 2.29772, 1e-9);
  EXPECT_DOUBLE_EQ(b.feed, 50);
  int arcs = 0;
  for (const Block& a : blocks) {
    if (a.motion != 2 && a.motion != 3) continue;
    if (a.radius == 0) continue;
    ++arcs;
    // The end lies on the circle only if I goes with X and K with Z.
    double end_radius = std::hypot(a.end[0] - a.centre[0], a.end[2] - a.centre[2]);
    EXPECT_NEAR(end_radius, a.radius, 2e-3) << "line " << a.line;
    EXPECT_DOUBLE_EQ(a.centre[1], 0);
  }
  EXPECT_EQ(arcs, 22);
  EXPECT_DOUBLE_EQ(At(131).feed, 75);  // "G02 X1.081 Z0.919 I3.0 K0.0" after F75.0
}


double Length(const Block& b) {
  return std::sqrt(std::pow(b.end[0] - b.start[0], 2) + std::pow(b.end[1] - b.start[1], 2) +
                   std::pow(b.end[2] - b.start[2], 2));
}

// Programs with parameters, expressions, subroutines and loops: what the pass
// needs of a line (motion, length or radius, feedrate in force).
TEST_F(ProgramTest, ParametersSubroutinesAndLoops) {
  struct Expect {
    const char* program;
    std::int64_t line;
    int motion;
    bool moves;
    double length_or_radius;
    double feed;
  };
  const Expect cases[] = {
      {"axis.ngc", 32, 1, true, 5, 100},              // G1 F100.0 Z[-#<depth>] from Z3
      {"axis.ngc", 34, 1, true, 3.71875, 400},        // G1 X[33.3125*#<scale>]
      {"systems.ngc", 14, 1, true, 0.11, 100},        // G01 Z [0-#2] F#4 from Z#1
      {"mmount.ngc", 87, 1, true, 0.25, 10},          // G01 X-0.1806 Y-11.1824 F#101
      {"mmount.ngc", 88, 3, true, std::hypot(1.7574, 2.2824), 10},  // helical G03 by I J
      {"mmount.ngc", 46, 3, false, 0, 10},            // in o100, called with other holes
      {"mmount.ngc", 148, 0, false, 0, 10.0 / 3},     // F[#101/3]
      {"flowsnake.ngc", 34, 1, true, 1, 10},          // g1 f10 z0
      {"flowsnake.ngc", 10, 1, false, 0, 10},         // the recursion's own g1
      {"threading.ngc", 64, 1, true, 0.7, 1.5},       // g1z0 after the loops
  };
  for (const Expect& e : cases) {
    Open(e.program);
    const Block& b = At(e.line);
    EXPECT_FALSE(b.error) << e.program << ":" << e.line << " " << (b.error ? *b.error : "");
    EXPECT_EQ(b.motion, e.motion) << e.program << ":" << e.line;
    EXPECT_EQ(b.moves, e.moves) << e.program << ":" << e.line;
    const double measured = b.radius > 0 ? b.radius : Length(b);
    EXPECT_NEAR(measured, e.length_or_radius, 1e-9) << e.program << ":" << e.line;
    EXPECT_NEAR(b.feed, e.feed, 1e-12) << e.program << ":" << e.line;
  }
  Open("threading.ngc");
  EXPECT_EQ(GuessSystemType(doc), kSystemTypeLathe);
  for (const Block& t : blocks) {
    if (t.motion10 == 330) {
      EXPECT_FALSE(t.moves) << "G33 at line " << t.line;
    }
  }
}

// An F word on every line that takes one leaves every move as it was.
TEST_F(ProgramTest, FeedWordsChangeNoMove) {
  for (const char* name : {"3D_Chips.ngc", "arcspiral.ngc", "lathe_pawn.ngc", "axis.ngc", "systems.ngc",
                           "mmount.ngc", "flowsnake.ngc", "threading.ngc"}) {
    Open(name);
    const std::vector<Block> before = blocks;
    int written = 0;
    for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
      try {
        doc.ReplaceLine(line, Automation::WordAdded(doc.Line(line), line, 'F', 123.4));
        ++written;
      } catch (const AutomationError&) {
      }
    }
    EXPECT_GT(written, doc.LineCount() / 2) << name;
    blocks = StepAll(doc);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      const Block& a = before[i];
      const Block& b = blocks[i];
      EXPECT_FALSE(b.error) << name << ":" << i + 1 << " " << (b.error ? *b.error : "");
      if (!a.moves) continue;
      EXPECT_TRUE(b.moves) << name << ":" << i + 1;
      EXPECT_EQ(a.motion10, b.motion10) << name << ":" << i + 1;
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(a.start[k], b.start[k]) << name << ":" << i + 1;
        EXPECT_EQ(a.end[k], b.end[k]) << name << ":" << i + 1;
      }
      EXPECT_EQ(a.radius, b.radius) << name << ":" << i + 1;
    }
  }
}

}  // namespace
}  // namespace refhost
