#include "refhost/core/automation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace refhost {
namespace {

// A program whose every line differs in feed, position or mode.
std::string Generated(int lines) {
  std::string text = "G21 G90 G17 G1 F100\n";
  for (int i = 2; i <= lines; ++i) {
    switch (i % 7) {
      case 0: text += "G2 X" + std::to_string(i % 50) + " Y3 R" + std::to_string(60 + i % 9) + "\n"; break;
      case 1: text += "G1 X" + std::to_string(i % 31) + ".5 F" + std::to_string(100 + i % 13) + "\n"; break;
      case 2: text += "Y" + std::to_string(i % 17) + "\n"; break;
      case 3: text += "(comment " + std::to_string(i) + ")\n"; break;
      case 4: text += "G91 X1 Z-1\n"; break;
      case 5: text += "G90 G0 Z" + std::to_string(i % 5) + "\n"; break;
      default: text += "G3 X1 Y1 I1 J0 F" + std::to_string(40 + i % 3) + "\n"; break;
    }
  }
  return text;
}

void ExpectSameBlock(const Block& a, const Block& b, const std::string& where) {
  for (int index = 0; index <= 23; ++index) {
    EXPECT_EQ(BlockValue(a, index), BlockValue(b, index)) << where << " index " << index;
  }
}

class AutomationTest : public ::testing::Test {
 protected:
  void Load(const std::string& text) { doc.Load(text); }
  std::vector<double> Feeds(Automation& a, std::int32_t first, int count) {
    std::vector<double> out;
    a.selectline(first);
    for (int i = 0; i < count; ++i) {
      a.step();
      out.push_back(a.CurrentBlock(19));
    }
    return out;
  }
  Document doc;
};

TEST_F(AutomationTest, StepsAfterSelectlineDescribeTheLinesInOrder) {
  Load(Generated(3000));
  std::vector<Block> reference;
  {
    Automation a(doc);
    for (std::int64_t i = 1; i <= doc.LineCount(); ++i) {
      a.step();
      reference.push_back(a.LastBlock());
    }
  }
  Automation a(doc);
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::int32_t first = 1 + static_cast<std::int32_t>(random() % 2990);
    a.selectline(first);
    for (int k = 0; k < 8; ++k) {
      a.step();
      ExpectSameBlock(a.LastBlock(), reference[static_cast<std::size_t>(first + k - 1)],
                      "line " + std::to_string(first + k));
      // Interleaved feed-write positioning on the line just stepped.
      if (k % 3 == 1) {
        a.selectline(first + k);
        a.selectline(first + k + 1);
      }
    }
  }
}

TEST_F(AutomationTest, MovesCostWhatTheyShould) {
  Load(Generated(100000));
  Automation a(doc);
  a.selectline(50000);
  std::uint64_t cost = a.LinesInterpreted();
  EXPECT_LT(cost, 50000u);  // nothing before: from line 1 once
  for (int k = 0; k < 100; ++k) {
    std::uint64_t before = a.LinesInterpreted();
    a.step();
    std::int32_t line = 50000 + k;
    a.selectline(line);
    a.selectline(line + 1);
    EXPECT_EQ(a.LinesInterpreted() - before, 1u) << "step and the write pair cost one line";
  }
  // Jumps go from the nearest checkpoint.
  for (std::int32_t target : {10, 20000, 49000, 33333, 50150}) {
    std::uint64_t before = a.LinesInterpreted();
    a.selectline(target);
    EXPECT_LE(a.LinesInterpreted() - before, static_cast<std::uint64_t>(Automation::kCheckpointEvery))
        << target;
  }
  // An edit drops only the checkpoints past it.
  doc.ReplaceLine(40000, "G1 X1 F7");
  std::uint64_t before = a.LinesInterpreted();
  a.selectline(30001);
  EXPECT_LE(a.LinesInterpreted() - before, static_cast<std::uint64_t>(Automation::kCheckpointEvery));
  a.selectline(40001);
  a.step();
  EXPECT_DOUBLE_EQ(a.CurrentBlock(19), 7);
}

// The pass's feed writes: selectline(L), add("F", v), markline(L, 1), selectline(L + 1).
void FeedWrite(Automation& a, std::int32_t line, double value) {
  a.selectline(line);
  a.add("F", value);
  a.markline(line, 1);
  a.selectline(line + 1);
}

TEST_F(AutomationTest, PassKeepsTheOriginalFeedForTheRestore) {
  Load("G1 X0 Y0 F500\nX1 Y1\nX2 Y2\nX3 Y3\nX50 Y50\nX51 Y51\n");
  Automation a(doc);
  a.selectline(2);
  a.markline(0, 0);
  // Short moves get F100; the long move gets the feed in force back.
  std::vector<double> seen;
  for (std::int32_t line = 2; line <= 5; ++line) {
    a.step();
    double feed = a.CurrentBlock(19);
    seen.push_back(feed);
    FeedWrite(a, line, line < 5 ? 100.0 : feed);
  }
  a.step();
  seen.push_back(a.CurrentBlock(19));
  EXPECT_EQ(seen, (std::vector<double>{500, 500, 500, 500, 500}));
  EXPECT_EQ(doc.Text(), "G1 X0 Y0 F500\nX1 Y1 F100\nX2 Y2 F100\nX3 Y3 F100\nX50 Y50 F500\nX51 Y51\n");
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{2, 3, 4, 5}));

  // Within the pass a jump back still reads the original program, also after
  // an early EndPass; the next pass reads what was written.
  EXPECT_EQ(Feeds(a, 3, 3), (std::vector<double>{500, 500, 500}));
  a.EndPass();
  EXPECT_EQ(Feeds(a, 3, 3), (std::vector<double>{500, 500, 500}));
  a.markline(0, 0);
  EXPECT_EQ(Feeds(a, 3, 3), (std::vector<double>{100, 100, 500}));

  // Each pass is one undo step: the second only cleared the marks.
  a.EndPass();
  doc.Undo();
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{2, 3, 4, 5}));
  doc.Undo();
  EXPECT_EQ(doc.Text(), "G1 X0 Y0 F500\nX1 Y1\nX2 Y2\nX3 Y3\nX50 Y50\nX51 Y51\n");
  EXPECT_TRUE(doc.MarkedLines().empty());
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_EQ(Feeds(a, 2, 1), (std::vector<double>{500}));
}

TEST_F(AutomationTest, SecondWriteOnALineReplacesTheFirst) {
  Load("G1 X0 F500\nX1\nX2\n");
  Automation a(doc);
  a.markline(0, 0);
  a.selectline(2);
  a.step();
  FeedWrite(a, 2, a.CurrentBlock(19));
  FeedWrite(a, 2, 120);
  a.step();
  EXPECT_DOUBLE_EQ(a.CurrentBlock(19), 500);
  EXPECT_EQ(doc.Line(2), "X1 F120");
}

TEST_F(AutomationTest, EachPassIsItsOwnUndoStepAndClearsMarks) {
  Load("G1 X0 F500\nX1\nX2\n");
  Automation a(doc);
  a.markline(0, 0);
  FeedWrite(a, 2, 100);
  a.markline(0, 0);  // a new pass closes the first one
  EXPECT_TRUE(doc.MarkedLines().empty());
  FeedWrite(a, 3, 200);
  a.EndPass();
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{3}));
  doc.Undo();
  EXPECT_EQ(doc.Text(), "G1 X0 F500\nX1 F100\nX2\n");
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{2}));
  doc.Undo();
  EXPECT_EQ(doc.Text(), "G1 X0 F500\nX1\nX2\n");
}

TEST_F(AutomationTest, AnEditByTheUserEndsThePass) {
  Load("G1 X0 F500\nX1\nX2\nX3\n");
  Automation a(doc);
  a.markline(0, 0);
  FeedWrite(a, 2, 100);
  doc.InsertLines(1, {"G1 F42"});  // the user types while the pass is open
  EXPECT_EQ(Feeds(a, 2, 4), (std::vector<double>{500, 100, 100, 100}));
  EXPECT_FALSE(a.InPass());
  EXPECT_FALSE(a.ReadsPassView());
}

TEST_F(AutomationTest, WriteOnTheLastLineLeavesTheInterpreterAtTheEnd) {
  Load("G1 X0 F5\nX1");
  Automation a(doc);
  a.markline(0, 0);
  a.selectline(2);
  a.step();
  FeedWrite(a, 2, 9);
  EXPECT_EQ(a.NextLine(), 3);
  EXPECT_THROW(a.step(), AutomationError);
  EXPECT_THROW(a.add("F", 1), AutomationError);  // line 3 does not exist
  EXPECT_EQ(doc.Line(2), "X1 F9");
}

TEST_F(AutomationTest, TooLargeValueIsNamedInTheMessage) {
  Load("G1 X0 F5\nX1\n");
  Automation a(doc);
  a.selectline(2);
  try {
    a.add("F", 1e300);
    FAIL() << "no error";
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "add: the value 1e+300 is too large for a word");
  }
}

TEST_F(AutomationTest, BadCallsThrowAndChangeNothing) {
  Load("G1 X0 F5\nX1\n%\n");
  struct Case {
    const char* name;
    std::function<void(Automation&)> call;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {"selectline 0", [](Automation& a) { a.selectline(0); }},
      {"selectline -1", [](Automation& a) { a.selectline(-1); }},
      {"selectline past end", [](Automation& a) { a.selectline(5); }},
      {"markline negative", [](Automation& a) { a.markline(-1, 1); }},
      {"markline past end", [](Automation& a) { a.markline(4, 1); }},
      {"markline 0 1", [](Automation& a) { a.markline(0, 1); }},
      {"markline mark 2", [](Automation& a) { a.markline(1, 2); }},
      {"step past end", [](Automation& a) { a.selectline(4); a.step(); }},
      {"index -1", [](Automation& a) { a.CurrentBlock(-1); }},
      {"index 100", [](Automation& a) { a.CurrentBlock(100); }},
      {"add before selectline", [](Automation& a) { a.add("F", 1); }},
      {"add two letters", [](Automation& a) { a.selectline(2); a.add("FF", 1); }},
      {"add empty letter", [](Automation& a) { a.selectline(2); a.add("", 1); }},
      {"add G", [](Automation& a) { a.selectline(2); a.add("G", 1); }},
      {"add N", [](Automation& a) { a.selectline(2); a.add("N", 1); }},
      {"add digit", [](Automation& a) { a.selectline(2); a.add("1", 1); }},
      {"add NaN", [nan](Automation& a) { a.selectline(2); a.add("F", nan); }},
      {"add infinity", [inf](Automation& a) { a.selectline(2); a.add("F", -inf); }},
      {"add huge", [](Automation& a) { a.selectline(2); a.add("F", 1e12); }},
      {"add on percent line", [](Automation& a) { a.selectline(3); a.add("F", 1); }},
      {"add after the end", [](Automation& a) { a.selectline(4); a.add("F", 1); }},
      {"system type", [](Automation& a) { a.SetSystemType(5); }},
  };
  for (const Case& c : cases) {
    Automation a(doc);
    a.markline(2, 1);
    const std::string text = doc.Text();
    const std::uint64_t revision = doc.Revision();
    EXPECT_THROW(c.call(a), AutomationError) << c.name;
    EXPECT_EQ(doc.Text(), text) << c.name;
    EXPECT_EQ(doc.Revision(), revision) << c.name;
    EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{2})) << c.name;
    EXPECT_EQ(a.SystemType(), kSystemTypeMill) << c.name;
    doc.Undo();
  }
}

TEST_F(AutomationTest, ErrorMessagesSayWhatWasWrong) {
  Load("G1 X0\n");
  Automation a(doc);
  try {
    a.selectline(7);
    FAIL();
  } catch (const AutomationError& e) {
    EXPECT_STREQ(e.what(), "selectline: line 7 is outside the document (1 to 2)");
  }
}

TEST_F(AutomationTest, QueriesAndMarks) {
  Load("a\nb\nc\n");
  Automation a(doc);
  a.SetSelection(3, 2);
  EXPECT_EQ(a.StartSelection(), 2);
  EXPECT_EQ(a.EndSelection(), 3);
  a.SetSelection(0, int64_t{1} << 40);
  EXPECT_EQ(a.StartSelection(), 1);
  EXPECT_EQ(a.EndSelection(), INT32_MAX);
  a.SetSystemType(kSystemTypeLathe);
  EXPECT_EQ(a.SystemType(), 304);
  a.markline(3, 1);
  a.markline(1, 1);
  a.markline(3, 0);
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{1}));
  EXPECT_DOUBLE_EQ(a.CurrentBlock(1), -1);  // before any step
  EXPECT_DOUBLE_EQ(a.CurrentBlock(50), 0);
}

}  // namespace
}  // namespace refhost
