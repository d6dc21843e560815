// The controller's dialect through the automation members, as the pass reads
// it: words and blanks, parameters and expressions, control flow, the
// per-line rule, motion modes that report no move, errors, and word edits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "refhost/core/automation.h"

namespace refhost {
namespace {

// Every line of `program` as CurrentBlock reports it; `error` holds the
// first failure's text.
struct Walk {
  std::vector<Block> blocks;
  std::string error;
  std::int64_t error_from = 0;  // the first line whose CurrentBlock failed

  explicit Walk(const std::string& program) {
    doc.Load(program);
    Automation a(doc);
    a.selectline(1);
    for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
      a.step();
      blocks.push_back(a.LastBlock());
      try {
        a.CurrentBlock(1);
      } catch (const AutomationError& e) {
        if (error_from == 0) {
          error_from = line;
          error = e.what();
        }
      }
    }
  }
  const Block& At(std::int64_t line) const { return blocks.at(static_cast<std::size_t>(line - 1)); }
  double Length(std::int64_t line) const {
    const Block& b = At(line);
    return std::sqrt(std::pow(b.end[0] - b.start[0], 2) + std::pow(b.end[1] - b.start[1], 2) +
                     std::pow(b.end[2] - b.start[2], 2));
  }
  Document doc;
};

// The last line's X end point and feed: the values a program computes.
TEST(DialectTest, WordsParametersAndExpressions) {
  struct Case {
    const char* program;
    double x, feed;
  };
  const Case cases[] = {
      // Blanks inside a word mean nothing.
      {"G 1 X 1 0 F 1 0 0", 10, 100},
      {"G0X +0. 12 34Y 7", 0.1234, 0},
      // Operators at the controller's precedence, left to right.
      {"G1 X[2.0 / 3 * 1.5 - 5.5 / 11.0] F1", 0.5, 1},
      {"G1 X[1 + 2 * 3] F[2 ** 3 ** 2]", 7, 64},
      {"G1 X[-7 MOD 3] F[7 MOD 3]", 2, 1},
      {"G1 X[1 LT 2 AND 3 GE 3] F[1 XOR 1 OR 0 + 1]", 1, 1},
      {"G1 X[3 EQ 3.0000001] F[[2 NE 2.0000001] + 5]", 1, 5},
      {"G1 X[1 + 2 GT 2] F1", 1, 1},
      // Functions, angles in degrees.
      {"G1 X[SIN[30] + COS[60]] F[TAN[45]]", 1, 1},
      {"G1 X[ASIN[1] + ACOS[0]] F[ATAN[1]/[1]]", 180, 45},
      {"G1 X[ATAN[-1]/[-1]] F[ABS[-2]]", -135, 2},
      {"G1 X[EXP[0] + LN[1]] F[SQRT[16]]", 1, 4},
      {"G1 X[FIX[-2.8] + FUP[-2.8]] F[ROUND[2.5]]", -5, 3},
      {"g1 x[sqrt[2]*[3]] f1", std::sqrt(2.0) * 3, 1},
      // Parameters: numbered, of parameters, computed, named, global.
      {"#1=5\nG1 X#1 F#1", 5, 5},
      {"#2=7\n#7=3\nG1 X##2 F#[1+1]", 3, 7},
      {"#<scale>=2\nG1 X[5.95*#<scale>] F#<scale>", 11.9, 2},
      {"#<P a R am > = 4\nG1 X#<param> F1", 4, 1},
      {"#<_g>=3\nG1 X-#<_g> F[-#<_g> * -1]", -3, 3},
      {"#101=250\nG1 X1 F#101", 1, 250},
      {"#3=1\nG[#3] X2 F1", 2, 1},
      // A setting takes effect after the line's values are read.
      {"#3=15\n#3=6 G1 X#3 F#3", 15, 15},
      {"#3=1 #3=2\nG1 X#3 F1", 2, 1},
      {"G1 X[EXISTS[#<nope>]] F[1 + EXISTS[#<_feed>]]", 0, 2},
      {"G1 X1 F9\nG1 X#<_feed>", 9, 9},
  };
  for (const Case& c : cases) {
    Walk w(c.program);
    ASSERT_TRUE(w.error.empty()) << c.program << ": " << w.error;
    const Block& b = w.blocks.back();
    EXPECT_NEAR(b.end[0], c.x, 1e-9) << c.program;
    EXPECT_NEAR(b.feed, c.feed, 1e-9) << c.program;
  }
}

// A line the controller refuses fails CurrentBlock from that line on, with a
// text naming the line and the cause; earlier lines still answer.
TEST(DialectTest, ErrorsNameTheLineAndNeverTurnIntoNumbers) {
  struct Case {
    std::string program;
    std::int64_t line;
    const char* cause;
  };
  const Case cases[] = {
      {"G1 X1 F1\nG1 X#<scale> F1\nG1 X2", 2, "named parameter #<scale> is read before it is set"},
      {"G1 X[1/0] F1", 1, "division by zero"},
      {"G1 X[SQRT[-4]] F1", 1, "square root of a negative number"},
      {"G1 X[LN[0]] F1", 1, "LN of 0"},
      {"G1 X[ACOS[2]] F1", 1, "ACOS of 2"},
      {"G1 X1 F1\n#1=2\nG1 X#1+2", 3, "unexpected \"+\""},
      {"G1 X1 F1\nIF [#1 GT 0] GOTO 10", 2, "\"IF\" is another dialect's macro word"},
      {"WHILE [#1 LT 3] DO1", 1, "\"WHILE\" is another dialect's macro word"},
      {"G65 P9010 A1", 1, "G65 is not a G code of this dialect"},
      {"G1 X1 E5 F1", 1, "\"E\" is not a word of this dialect"},
      {"G1 F1 X1 F2", 1, "two F words on one line"},
      {"G0 G1 X1", 1, "G0 and G1 are of one modal group"},
      {"M3 M5", 1, "M3 and M5 are of one modal group"},
      {"M10", 1, "M10 is not an M code"},
      {"X1 Y1", 1, "axis words without a motion code"},
      {"G1 X1", 1, "a feed move with no feedrate in force (F0)"},
      {"G1 X1 F1\nG2 X2", 2, "an arc needs R or its centre"},
      {"G1 F1\nG2 X4 R1", 2, "too small to reach the end point"},
      {"G1 X1 F1 (open", 1, "a comment is not closed"},
      {"G1 X[1 + 2 F1", 1, "unknown operator \"f\""},
      {"G1 X1 #1 5", 1, "\"=\" is missing"},
      {"G93 G1 X1 F1\nG1 X2", 2, "needs its own F word"},
      {"o100 call\no100 sub\no100 endsub", 1, "o100 is called before its definition"},
      {"o7 call", 1, "no subroutine o7"},
      {"G1 X1 F1\no100 endsub", 2, "outside a subroutine"},
      {"o1 if [1]\nG0 X1", 1, "o1 if has no endif"},
      {"M98 P5\nM30", 1, "no subprogram O5"},
      {"G1 G92 X0 F1", 1, "both want the axis words"},
      {"G1 F1 X" + std::string(100000, '[') + "1" + std::string(100000, ']'), 1, "nests more than 100 deep"},
      {"G1 F1 X" + std::string(100000, '#') + "1", 1, "nests more than 100 deep"},
  };
  for (const Case& c : cases) {
    Walk w(c.program);
    EXPECT_EQ(w.error_from, c.line) << c.program << ": " << w.error;
    EXPECT_NE(w.error.find("line " + std::to_string(c.line) + " cannot be run"), std::string::npos)
        << c.program << ": " << w.error;
    EXPECT_NE(w.error.find(c.cause), std::string::npos) << c.program << ": " << w.error;
  }
}

// What a line reports under control flow, by the per-line rule.
TEST(DialectTest, ControlFlowAndThePerLineRule) {
  struct Expect {
    std::int64_t line;
    bool moves;
    double length, feed;
  };
  struct Case {
    const char* name;
    const char* program;
    std::vector<Expect> lines;
  };
  const Case cases[] = {
      {"a subroutine's arguments are its own",
       "#1=7\no100 sub\nG1 X#1 F[#2]\no100 endsub\nG0 X0\no100 call [3] [50]\nG1 X#1 F10\nM2",
       {{3, true, 3, 50}, {7, true, 4, 10}}},
      {"a subroutine called with different moves reports none",
       "o100 sub\nG1 X#1 F5\no100 endsub\no100 call [1]\no100 call [4]\nM2", {{2, false, 0, 5}}},
      {"a G91 loop of equal moves reports its move",
       "G91 F20\n#1=0\no101 while [#1 LT 5]\nG1 X1 Y1\n#1=[#1+1]\no101 endwhile\nM2",
       {{4, true, std::sqrt(2.0), 20}}},
      {"a loop of absolute moves reports none",
       "F20\n#1=0\no101 while [#1 LT 3]\nG1 X#1\n#1=[#1+1]\no101 endwhile\nM2", {{4, false, 0, 20}}},
      {"if, elseif and else run one branch",
       "#2=3\nG0 X0\no102 if [#2 GT 5]\nG1 X1 F100\no102 elseif [#2 LT 4]\nG1 X2 F200\no102 else\nG1 X3 "
       "F150\no102 endif\nM2",
       {{4, false, 0, 0}, {6, true, 2, 200}, {8, false, 0, 200}}},
      {"do runs first, then tests",
       "#1=0\nG91 F9\no1 do\nG1 X2\n#1=[#1+1]\no1 while [#1 LT 3]\nM2", {{4, true, 2, 9}}},
      {"repeat, break and continue",
       "G91 F7\no2 repeat [4]\nG1 X1\no3 if [#<_x> GT 2.5]\no2 break\no3 endif\no2 endrepeat\nG1 Y1\nM2",
       {{3, true, 1, 7}, {8, true, 1, 7}}},
      {"a return value", "o9 sub\no9 return [#1 * 2]\no9 endsub\no9 call [21]\nG1 X#<_value> F1\nM2",
       {{5, true, 42, 1}}},
      {"a subroutine never called reports no move", "o5 sub\nG1 X9 F3\no5 endsub\nG1 X1 F1\nM2",
       {{2, false, 0, 0}, {4, true, 1, 1}}},
      {"recursion", "o7 sub\no8 if [#1 GT 0]\nG91 G1 X1 F4\no7 call [#1-1]\no8 endif\no7 endsub\no7 call [3]\nM2",
       {{3, true, 1, 4}}},
      {"M98 with a loop count and M99",
       "G91 F3\nM98 P100 L3\nG1 Y1\nM30\nO100\nG1 X2\nM99", {{3, true, 1, 3}, {6, true, 2, 3}}},
      {"lines after M2 never run", "G1 X1 F5\nM2\nG1 X9 F1", {{3, false, 0, 5}}},
      {"lines after the closing percent never run", "%\nG1 X1 F5\n%\nG1 X9 F1", {{4, false, 0, 5}}},
  };
  for (const Case& c : cases) {
    Walk w(c.program);
    ASSERT_TRUE(w.error.empty()) << c.name << ": " << w.error;
    for (const Expect& e : c.lines) {
      const Block& b = w.At(e.line);
      EXPECT_EQ(b.moves, e.moves) << c.name << " line " << e.line;
      EXPECT_NEAR(w.Length(e.line), e.length, 1e-9) << c.name << " line " << e.line;
      EXPECT_DOUBLE_EQ(b.feed, e.feed) << c.name << " line " << e.line;
    }
  }
}

// Lines after the program's end are told apart from lines that only did not
// run, read line by line and in a whole run alike.
TEST(DialectTest, LinesAfterTheEnd) {
  for (const char* program : {"G1 X1 F5\n/G1 X2\nM2\nG1 X9", "o1 sub\nG1 X2\no1 endsub\nM2\nG1 X9"}) {
    Walk w(program);
    ASSERT_TRUE(w.error.empty()) << program << ": " << w.error;
    const std::int64_t last = static_cast<std::int64_t>(w.blocks.size());
    EXPECT_TRUE(w.At(last).after_end) << program;
    EXPECT_FALSE(w.At(2).after_end) << program;
    EXPECT_FALSE(w.At(last - 1).after_end) << program;
  }
}

// Lines that make no single feed move per minute report none, and leave the
// position where the machine is after them.
TEST(DialectTest, MotionsThatReportNoMove) {
  struct Case {
    const char* name;
    const char* program;
    std::int64_t line;         // reports no move
    double x, y, z;            // ...and the next line starts here
  };
  const Case cases[] = {
      {"drilling cycle, back to the initial level", "G0 X0 Y0 Z5\nG81 X2 Y3 Z-1 R1 F50\nG80\nG1 X3 F10", 2, 2, 3, 5},
      {"drilling cycle under G99, back to R", "G0 Z5\nG99 G81 X2 Y3 Z-1 R1 F50\nX4\nG80\nG1 X5 F10", 3, 4, 3, 1},
      {"peck drilling repeated in G91", "G0 Z5\nG91 G83 X1 Z-2 R-1 Q0.5 L3 F50\nG80 G90\nG1 X0 F10", 2, 3, 0, 5},
      {"homing", "G1 X4 Y4 F10\nG28\nG1 X1", 2, 0, 0, 0},
      {"homing through a point", "G1 X4 Y4 Z2 F10\nG28 Z5\nG1 X1", 2, 4, 4, 0},
      {"inverse time", "G93 G1 X4 F2\nG94 G1 X5 F10", 1, 4, 0, 0},
      {"feed per revolution", "S100 G95 G1 X4 F0.1\nG94 G1 X5 F10", 1, 4, 0, 0},
      {"threading", "S100 G33 Z-2 K0.1\nG1 X1 F10", 1, 0, 0, -2},
      {"spline", "G1 F10\nG5.1 X2 Y2 I1 J0\nG1 X3", 2, 2, 2, 0},
  };
  for (const Case& c : cases) {
    Walk w(c.program);
    ASSERT_TRUE(w.error.empty()) << c.name << ": " << w.error;
    const Block& b = w.At(c.line);
    EXPECT_FALSE(b.moves) << c.name;
    EXPECT_EQ(w.Length(c.line), 0) << c.name;
    const Block& next = w.At(c.line + 1);
    EXPECT_NEAR(next.start[0], c.x, 1e-9) << c.name;
    EXPECT_NEAR(next.start[1], c.y, 1e-9) << c.name;
    EXPECT_NEAR(next.start[2], c.z, 1e-9) << c.name;
  }
  // After probing the position is not known until every axis is given again.
  Walk probe("G1 F10\nG38.2 Z-5\nG91 G1 Z1\nG90 G1 X1 Y1 Z1\nG1 X2");
  ASSERT_TRUE(probe.error.empty()) << probe.error;
  EXPECT_FALSE(probe.At(3).moves);
  EXPECT_FALSE(probe.At(4).moves);
  EXPECT_TRUE(probe.At(5).moves);
}

TEST(DialectTest, DiameterModeUnitsAndOffsets) {
  // G7: X words are diameters, reported as radii.
  Walk lathe("G18 G7 G1 X10 Z0 F1\nX20 Z-5\nG8 X5");
  ASSERT_TRUE(lathe.error.empty()) << lathe.error;
  EXPECT_DOUBLE_EQ(lathe.At(2).start[0], 5);
  EXPECT_DOUBLE_EQ(lathe.At(2).end[0], 10);
  EXPECT_DOUBLE_EQ(lathe.At(3).end[0], 5);
  // G20/G21 convert the position, not the feed; offsets move the origin.
  Walk units("G21 G1 X25.4 F100\nG20 X2\nG92 X0\nG1 X1\nG54 X0");
  ASSERT_TRUE(units.error.empty()) << units.error;
  EXPECT_NEAR(units.At(2).start[0], 1, 1e-12);
  EXPECT_DOUBLE_EQ(units.At(2).feed, 100);
  EXPECT_DOUBLE_EQ(units.At(3).end[0], 0);
  EXPECT_DOUBLE_EQ(units.Length(4), 1);
}

// add: a word never lands inside another; lines that cannot take one are
// refused and stay as they were.
TEST(DialectTest, AddRefusesLinesThatCannotTakeTheWord) {
  struct Case {
    const char* program;
    std::int32_t line;
    double value;
    const char* refusal;  // nullptr: accepted
    const char* text;     // the line after an accepted add
  };
  const Case cases[] = {
      {"G1 X1 F1\nX#5 Y#5", 2, 100, nullptr, "X#5 Y#5 F100"},
      {"#101=5\nG1 X1 F#101", 2, 200, nullptr, "G1 X1 F200"},
      {"o100 if [1]\no100 endif", 1, 100, "is an O-word line", nullptr},
      {"G1 X1 F1\n%", 2, 100, "is a \"%\" line", nullptr},
      {"G1 X1 F1\n/G1 X2", 2, 100, "block-delete", nullptr},
      {"G1 X1 F1\nG1 X2", 2, 0.00001, "would be written as F0", nullptr},
      {"G1 X1 F1\nG93 G1 X2 F3", 2, 100, "runs under G93", nullptr},
      {"G1 X1 F1 (open", 1, 100, "cannot be read", nullptr},
      {"o1 sub\nG1 X#1\no1 endsub\nF10\no1 call [1]\nF20\no1 call [2]\nM2", 2, 100, "different feedrates",
       nullptr},
  };
  for (const Case& c : cases) {
    Document doc;
    doc.Load(c.program);
    Automation a(doc);
    a.markline(0, 0);
    a.selectline(c.line);
    const std::string before(doc.Line(c.line));
    if (c.refusal) {
      try {
        a.add("F", c.value);
        ADD_FAILURE() << c.program << ": accepted";
      } catch (const AutomationError& e) {
        EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
      }
      EXPECT_EQ(doc.Line(c.line), before);
    } else {
      a.add("F", c.value);
      EXPECT_EQ(doc.Line(c.line), c.text);
    }
  }
}

TEST(DialectTest, ARunIsBounded) {
  Document doc;
  doc.Load("#1=0\no1 while [1]\n#1=[#1+1]\no1 endwhile\nM2");
  ProgramRun run;
  ProgramRun::Limits limits;
  limits.lines = 10000;
  run.Run(doc.LineCount(), [&](std::int64_t line) { return doc.Line(line); }, {}, limits);
  EXPECT_GE(run.ErrorLine(), 2);
  EXPECT_NE(run.Error().find("loop forever"), std::string::npos) << run.Error();
  doc.Load("G91 G1 F1\no1 while [1]\nX1\no1 endwhile");
  limits.lines = ProgramRun::kMaxLines;
  limits.moves = 1000;
  run.Run(doc.LineCount(), [&](std::int64_t line) { return doc.Line(line); }, {}, limits);
  EXPECT_EQ(run.ErrorLine(), 3);
  EXPECT_NE(run.Error().find("more than 1000 moves"), std::string::npos) << run.Error();
}

}  // namespace
}  // namespace refhost
