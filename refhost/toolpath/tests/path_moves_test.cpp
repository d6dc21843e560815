// The move stream as the planner and the view read it.
#include <gtest/gtest.h>

#include <vector>

#include "refhost/core/document.h"
#include "refhost/toolpath/path_move.h"

namespace refhost {
namespace {

std::vector<PathMove> Moves(const char* text) {
  Document doc;
  doc.Load(text);
  std::vector<PathMove> moves;
  ForEachPathMove(doc, [&](const PathMove& m) { moves.push_back(m); });
  return moves;
}

TEST(PathMoves, CarryWhatThePlannerNeeds) {
  using K = PathMove::Kind;
  const auto m = Moves(
      "G21 G0 X10\n"               // 1 rapid
      "G64 P0.02 G1 Y5 F300\n"     // 2 line, tolerance
      "G61 X0\n"                   // 3 exact stop
      "G4 P1.5\n"                  // 4 dwell, no move
      "M6 T2\n"                    // 5 tool change
      "G64 G2 X0 Y5 I5 J0\n"       // 6 arc, tolerance cleared
      "/G1 X50\n"                  // 7 block delete
      "G3 X0 Y5 I5 J0 P3\n"        // 8 full circle and two more turns
      "G20 G95 S1000 G1 X1 F0.01\n"  // 9 per revolution, inch
      "G18 G7 G1 X4 Z-1\n");       // 10 diameter: X is a radius
  ASSERT_EQ(m.size(), 9u);
  const K kinds[] = {K::kRapid, K::kLine, K::kLine, K::kDwell, K::kToolChange, K::kArcCw, K::kArcCcw, K::kLine, K::kLine};
  const std::int64_t lines[] = {1, 2, 3, 4, 5, 6, 8, 9, 10};
  for (std::size_t i = 0; i < m.size(); ++i) {
    EXPECT_EQ(m[i].kind, kinds[i]) << i;
    EXPECT_EQ(m[i].line, lines[i]) << i;
  }
  EXPECT_EQ(m[0].feed, 0.0);
  EXPECT_EQ(m[1].tolerance, 0.02);
  EXPECT_FALSE(m[1].exact_stop);
  EXPECT_TRUE(m[2].exact_stop);
  EXPECT_EQ(m[3].seconds, 1.5);
  EXPECT_EQ(m[5].tolerance, 0.0);
  EXPECT_EQ(m[5].centre[0], 5.0);
  EXPECT_EQ(m[6].turns, 2);
  EXPECT_EQ(m[7].feed, 10.0);
  EXPECT_EQ(m[7].units, 20);
  EXPECT_EQ(m[8].plane, 18);
  EXPECT_EQ(m[8].end[0], 2.0);
  EXPECT_EQ(m[8].start[0], 1.0);  // G7 reads the X words, not the position
}


// Moves as the machine runs them: a canned cycle's own rapids and feed, and a
// subroutine called in a loop once per call.
TEST(PathMoves, CyclesAndSubroutinesAsExecuted) {
  using K = PathMove::Kind;
  const auto cycle = Moves("G21 G0 X0 Y0 Z5\nG81 X2 Y3 Z-1 R1 F50\nG80\n");
  ASSERT_EQ(cycle.size(), 5u);
  const K kinds[] = {K::kRapid, K::kRapid, K::kRapid, K::kLine, K::kRapid};
  const double z[] = {5, 5, 1, -1, 5};  // to the hole, down to R, the feed to Z, back to the start level
  for (std::size_t i = 0; i < cycle.size(); ++i) {
    EXPECT_EQ(cycle[i].kind, kinds[i]) << i;
    EXPECT_EQ(cycle[i].end[2], z[i]) << i;
  }
  EXPECT_EQ(cycle[3].feed, 50);
  const auto calls = Moves("o1 sub\nG91 G1 X1 F100\nG90\no1 endsub\n#1=0\no2 while [#1 LT 3]\no1 call\n"
                           "#1=[#1+1]\no2 endwhile\nM2\n");
  ASSERT_EQ(calls.size(), 3u);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].line, 2) << i;
    EXPECT_EQ(calls[i].end[0], static_cast<double>(i + 1)) << i;
  }
}

}  // namespace
}  // namespace refhost
