#include "refhost/core/document.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace refhost {
namespace {

std::vector<std::string> Lines(const Document& doc) {
  std::vector<std::string> out;
  for (std::int64_t i = 1; i <= doc.LineCount(); ++i) out.emplace_back(doc.Line(i));
  return out;
}

using V = std::vector<std::string>;

TEST(DocumentLoadTest, SplitsLines) {
  struct Case {
    const char* text;
    V lines;
  };
  const Case cases[] = {
      {"", {""}},
      {"\n", {""}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\n\nb\n\n", {"a", "", "b", ""}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
  };
  for (const Case& c : cases) {
    Document doc;
    doc.Load(c.text);
    EXPECT_EQ(Lines(doc), c.lines) << '"' << c.text << '"';
    EXPECT_FALSE(doc.Modified());
    EXPECT_FALSE(doc.CanUndo());
  }
}

TEST(DocumentLoadTest, TextJoinsWithEol) {
  Document doc;
  doc.Load("G1 X1\r\nG1 X2\r\n");
  EXPECT_EQ(doc.Text(), "G1 X1\nG1 X2\n");
  EXPECT_EQ(doc.Text("\r\n"), "G1 X1\r\nG1 X2\r\n");
}

TEST(DocumentEditTest, EditsAndTheirUndo) {
  Document doc;
  doc.Load("a\nb\nc\n");
  doc.ReplaceLine(2, "B");
  doc.InsertLines(1, {"x", "y"});
  doc.InsertLines(6, {"end"});
  doc.RemoveLines(4, 2);
  EXPECT_EQ(Lines(doc), (V{"x", "y", "a", "end"}));
  EXPECT_TRUE(doc.Modified());

  const V history[] = {{"x", "y", "a", "B", "c", "end"}, {"x", "y", "a", "B", "c"},
                       {"a", "B", "c"}, {"a", "b", "c"}};
  for (const V& expected : history) {
    doc.Undo();
    EXPECT_EQ(Lines(doc), expected);
  }
  EXPECT_FALSE(doc.CanUndo());
  EXPECT_FALSE(doc.Modified());
  for (int i = 0; i < 4; ++i) doc.Redo();
  EXPECT_EQ(Lines(doc), (V{"x", "y", "a", "end"}));
  EXPECT_FALSE(doc.CanRedo());
}

TEST(DocumentEditTest, TextWithBreaksBecomesMoreLines) {
  Document doc;
  doc.Load("a\nb");
  doc.ReplaceLine(1, "one\ntwo\r\n");
  EXPECT_EQ(Lines(doc), (V{"one", "two", "", "b"}));
  doc.InsertLines(5, {"x\ry", "z"});
  EXPECT_EQ(Lines(doc), (V{"one", "two", "", "b", "x", "y", "z"}));
  doc.Undo();
  doc.Undo();
  EXPECT_EQ(Lines(doc), (V{"a", "b"}));
}

TEST(DocumentEditTest, RemovingEverythingLeavesOneEmptyLine) {
  Document doc;
  doc.Load("a\nb");
  doc.RemoveLines(1, 2);
  EXPECT_EQ(Lines(doc), (V{""}));
  doc.Undo();
  EXPECT_EQ(Lines(doc), (V{"a", "b"}));
}

TEST(DocumentEditTest, NewEditDropsRedo) {
  Document doc;
  doc.Load("a");
  doc.ReplaceLine(1, "b");
  doc.Undo();
  doc.ReplaceLine(1, "c");
  EXPECT_FALSE(doc.CanRedo());
  doc.Redo();
  EXPECT_EQ(doc.Line(1), "c");
}

TEST(DocumentEditTest, BadLinesThrowAndChangeNothing) {
  Document doc;
  doc.Load("a\nb");
  const std::uint64_t revision = doc.Revision();
  EXPECT_THROW(doc.Line(0), std::out_of_range);
  EXPECT_THROW(doc.Line(3), std::out_of_range);
  EXPECT_THROW(doc.ReplaceLine(3, "x"), std::out_of_range);
  EXPECT_THROW(doc.InsertLines(4, {"x"}), std::out_of_range);
  EXPECT_THROW(doc.RemoveLines(2, 2), std::out_of_range);
  EXPECT_THROW(doc.RemoveLines(1, -1), std::out_of_range);
  EXPECT_THROW(doc.SetMark(3, true), std::out_of_range);
  EXPECT_THROW(doc.SetMark(-1, false), std::out_of_range);
  EXPECT_EQ(Lines(doc), (V{"a", "b"}));
  EXPECT_EQ(doc.Revision(), revision);
  EXPECT_FALSE(doc.CanUndo());
}

TEST(DocumentGroupTest, GroupIsOneUndoStep) {
  Document doc;
  doc.Load("a\nb\nc");
  doc.SetMark(3, true);
  doc.BeginGroup();
  doc.SetMark(0, false);
  doc.ReplaceLine(1, "A");
  doc.SetMark(1, true);
  doc.ReplaceLine(2, "B");
  doc.SetMark(2, true);
  doc.EndGroup();
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{1, 2}));
  doc.Undo();
  EXPECT_EQ(Lines(doc), (V{"a", "b", "c"}));
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{3}));
  doc.Redo();
  EXPECT_EQ(Lines(doc), (V{"A", "B", "c"}));
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{1, 2}));
}

TEST(DocumentGroupTest, BeginClosesAnOpenGroupAndUndoClosesToo) {
  Document doc;
  doc.Load("a");
  doc.BeginGroup();
  doc.ReplaceLine(1, "b");
  doc.BeginGroup();
  doc.ReplaceLine(1, "c");
  doc.Undo();  // closes the second group and undoes it
  EXPECT_EQ(doc.Line(1), "b");
  EXPECT_FALSE(doc.GroupOpen());
  doc.Undo();
  EXPECT_EQ(doc.Line(1), "a");
  doc.BeginGroup();
  doc.EndGroup();  // empty: no step
  EXPECT_FALSE(doc.CanUndo());
}

TEST(DocumentMarkTest, MarksTravelWithTheirLines) {
  Document doc;
  doc.Load("a\nb\nc\nd");
  doc.SetMark(2, true);
  doc.SetMark(4, true);
  doc.InsertLines(1, {"x"});
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{3, 5}));
  doc.RemoveLines(3, 1);
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{4}));
  EXPECT_EQ(doc.MarkCount(), 1);
  doc.Undo();  // the removed line comes back marked
  EXPECT_EQ(doc.MarkedLines(), (std::vector<std::int64_t>{3, 5}));
  EXPECT_EQ(doc.MarkCount(), 2);
  EXPECT_FALSE(doc.Marked(0));
  EXPECT_FALSE(doc.Marked(99));
}

TEST(DocumentMarkTest, MarksAloneDoNotModify) {
  Document doc;
  doc.Load("a\nb");
  const std::uint64_t revision = doc.Revision();
  doc.SetMark(1, true);
  doc.SetMark(1, true);  // no change, no step
  EXPECT_FALSE(doc.Modified());
  EXPECT_EQ(doc.Revision(), revision);
  doc.Undo();
  EXPECT_FALSE(doc.Marked(1));
  EXPECT_FALSE(doc.CanUndo());
}

TEST(DocumentModifiedTest, FollowsSaveUndoAndRedo) {
  Document doc;
  doc.Load("a");
  doc.ReplaceLine(1, "b");
  doc.SetSaved();
  EXPECT_FALSE(doc.Modified());
  doc.SetMark(1, true);
  EXPECT_FALSE(doc.Modified());
  doc.Undo();  // the mark
  EXPECT_FALSE(doc.Modified());
  doc.Undo();  // the edit
  EXPECT_TRUE(doc.Modified());
  doc.Redo();
  EXPECT_FALSE(doc.Modified());
  doc.Undo();
  doc.ReplaceLine(1, "b");  // same text, but another history
  EXPECT_TRUE(doc.Modified());
}

TEST(DocumentRevisionTest, FirstChangedLineSince) {
  Document doc;
  doc.Load("a\nb\nc\nd\ne");
  const std::uint64_t start = doc.Revision();
  EXPECT_EQ(doc.FirstChangedLineSince(start), Document::kNoChange);
  doc.ReplaceLine(4, "D");
  EXPECT_EQ(doc.FirstChangedLine(), 4);
  const std::uint64_t after_first = doc.Revision();
  doc.BeginGroup();
  doc.ReplaceLine(5, "E");
  doc.ReplaceLine(3, "C");
  EXPECT_EQ(doc.Revision(), after_first + 2);  // one per call, also in a group
  doc.EndGroup();
  EXPECT_EQ(doc.FirstChangedLineSince(after_first), 3);
  EXPECT_EQ(doc.FirstChangedLineSince(start), 3);
  const std::uint64_t before_undo = doc.Revision();
  doc.Undo();
  EXPECT_EQ(doc.FirstChangedLineSince(before_undo), 3);
  EXPECT_EQ(doc.Revision(), before_undo + 1);
}

TEST(DocumentRevisionTest, ListenerHearsEveryChange) {
  Document doc;
  int calls = 0;
  doc.SetChangeListener([&] { ++calls; });
  doc.Load("a\nb");
  doc.ReplaceLine(1, "x");
  doc.SetMark(1, true);
  doc.BeginGroup();
  doc.SetMark(0, false);
  doc.InsertLines(1, {"y"});
  doc.EndGroup();
  doc.Undo();
  EXPECT_EQ(calls, 6);
}

}  // namespace
}  // namespace refhost

namespace refhost {
namespace {

// A step as large as a pass over a long program: more than a megabyte of
// new text (a second arena block), line numbers and positions of every
// record width, a line replaced twice, lines inserted and removed among the
// replacements. Undo gives back the text and marks exactly; redo the step.
TEST(DocumentUndoLog, LargeStepUndoesAndRedoesExactly) {
  const int n = 20000;
  std::string original;
  for (int i = 1; i <= n; ++i) {
    original += "N" + std::to_string(i) + " G1 X" + std::to_string(i) + ".125 Y" + std::to_string(i) +
                ".5 Z-1.25 (a comment to make it long)\n";
  }
  Document doc;
  doc.Load(original);
  doc.SetMark(3, true);
  doc.BeginGroup();
  doc.SetMark(0, false);
  for (int i = 1; i <= n; ++i) {
    doc.ReplaceLine(i, std::string(doc.Line(i)) + " F" + std::to_string(i));
    doc.SetMark(i, true);
    if (i % 1000 == 0) doc.ReplaceLine(i, std::string(doc.Line(i)) + "0");
  }
  doc.InsertLines(5, {"(inserted)", "(two)"});
  doc.RemoveLines(200, 3);
  doc.EndGroup();
  const std::string after = doc.Text();
  const std::vector<std::int64_t> marks = doc.MarkedLines();
  ASSERT_EQ(doc.LineCount(), n - 1);

  doc.Undo();
  EXPECT_EQ(doc.Text(), original);
  EXPECT_EQ(doc.MarkedLines(), std::vector<std::int64_t>{3});
  doc.Redo();
  EXPECT_EQ(doc.Text(), after);
  EXPECT_EQ(doc.MarkedLines(), marks);
  EXPECT_EQ(doc.Line(n - 1), "N20000 G1 X20000.125 Y20000.5 Z-1.25 (a comment to make it long) F200000");
}

}  // namespace
}  // namespace refhost
