#include "refhost/editor/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "refhost/editor/find.h"

namespace refhost {
namespace {

namespace fs = std::filesystem;

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/editor-session-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Make(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return dir_ / name;
  }
  static std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
  EditorSession session_;
};

TEST_F(SessionTest, SavePreservesLineEndingsAsFound) {
  struct Case {
    std::string original, expected;
  } cases[] = {
      {"G0 X0\r\nG1 X1 F100\r\n", "G0 X0\r\nG1 X9\r\n"},
      {"G0 X0\nG1 X1 F100", "G0 X0\nG1 X9"},
      {"G0 X0\rG1 X1\r", "G0 X0\rG1 X9\r"},
  };
  for (const auto& c : cases) {
    const fs::path file = Make("p.nc", c.original);
    std::string error;
    ASSERT_TRUE(session_.Open(file, error)) << error;
    session_.ReplaceLine(2, "G1 X9");
    EXPECT_TRUE(session_.document().Modified());
    ASSERT_TRUE(session_.Save(error)) << error;
    EXPECT_EQ(Slurp(file), c.expected);
    EXPECT_EQ(Slurp(file.string() + "~"), c.original);
    EXPECT_FALSE(session_.document().Modified());
  }
}

TEST_F(SessionTest, FailedOpenKeepsWhatWasOpen) {
  std::string error;
  ASSERT_TRUE(session_.Open(Make("a.nc", "G0 X1\nG0 X2\n"), error));
  EXPECT_FALSE(session_.Open(dir_ / "absent.nc", error));
  EXPECT_EQ(session_.document().LineCount(), 2);
  EXPECT_EQ(session_.path(), (dir_ / "a.nc").string());
}

TEST_F(SessionTest, FailedSaveKeepsDocumentModified) {
  std::string error;
  session_.New();
  session_.ReplaceLine(1, "G0 X1");
  EXPECT_FALSE(session_.Save(error)) << "no file name yet";
  EXPECT_FALSE(session_.SaveAs((dir_ / "no" / "such" / "x.nc").string(), error));
  EXPECT_TRUE(session_.document().Modified());
  EXPECT_TRUE(session_.path().empty());
}

TEST_F(SessionTest, SelectionReachesTheAutomationMembers) {
  std::string error;
  ASSERT_TRUE(session_.Open(Make("s.nc", "a\nb\nc\nd\ne\n"), error));
  struct Step {
    std::int64_t line;
    bool extend;
    int first, last;
  } steps[] = {
      {3, false, 3, 3},  // no selection: both are the cursor's line
      {5, true, 3, 5},
      {1, true, 1, 3},   // extending above the anchor
      {9, false, 5, 5},  // clamped to the last line
      {0, true, 1, 5},
  };
  for (const auto& s : steps) {
    session_.MoveCursor(s.line, s.extend);
    EXPECT_EQ(session_.automation().StartSelection(), s.first) << s.line;
    EXPECT_EQ(session_.automation().EndSelection(), s.last) << s.line;
  }
  session_.Select(2, 4);
  session_.RemoveSelectedLines();
  EXPECT_EQ(session_.document().LineCount(), 2);
  EXPECT_EQ(session_.automation().StartSelection(), 2);
  EXPECT_EQ(session_.automation().EndSelection(), 2);
}

TEST_F(SessionTest, UndoShrinksSelectionIntoDocument) {
  session_.New();
  session_.InsertLine(2, "x");
  session_.InsertLine(3, "y");
  session_.Select(1, 3);
  session_.Undo();
  EXPECT_EQ(session_.document().LineCount(), 2);
  EXPECT_EQ(session_.automation().EndSelection(), 2);
}

// A pass is one undo step; a user edit in the middle of a pass closes it
// first, so the edit stays a step of its own.
TEST_F(SessionTest, PassIsOneUndoStepApartFromUserEdits) {
  std::string error;
  const std::string text = "G1 X1 F100\nG1 X2\nG1 X3\n";
  ASSERT_TRUE(session_.Open(Make("u.nc", text), error));
  Automation& host = session_.automation();
  host.markline(0, 0);
  for (int line : {1, 2}) {
    host.selectline(line);
    host.add("F", 50);
    host.markline(line, 1);
  }
  session_.ReplaceLine(3, "G1 X30");
  host.selectline(3);
  host.add("F", 70);  // a late write after the user edit: a step of its own
  session_.EndPass();

  session_.Undo();
  EXPECT_EQ(session_.document().Line(3), "G1 X30");
  session_.Undo();
  EXPECT_EQ(session_.document().Line(3), "G1 X3");
  EXPECT_NE(session_.document().Line(1), "G1 X1 F100");
  session_.Undo();
  EXPECT_EQ(session_.FileText(), text);
  EXPECT_TRUE(session_.document().MarkedLines().empty());
  EXPECT_FALSE(session_.document().Modified());
}

// Real programs written elsewhere come back byte for byte when saved
// unchanged, whatever their line endings.
TEST_F(SessionTest, RealProgramsRoundTrip) {
  const fs::path ngc = NORVANE_NGC_DIR;
  if (!fs::is_directory(ngc)) GTEST_SKIP() << "no folder " << ngc;
  int seen = 0;
  for (const auto& entry : fs::directory_iterator(ngc)) {
    if (entry.path().extension() != ".ngc") continue;
    const std::string original = Slurp(entry.path());
    const fs::path copy = Make(entry.path().filename(), original);
    std::string error;
    ASSERT_TRUE(session_.Open(copy, error)) << error;
    ASSERT_TRUE(session_.Save(error)) << error;
    EXPECT_EQ(Slurp(copy), original) << entry.path();
    ++seen;
  }
  EXPECT_GE(seen, 3);
}

TEST(FindLineTest, WrapsAndIgnoresCase) {
  Document doc;
  doc.Load("G0 X0\n(finish pass)\nG1 X1\nM30\n");
  struct Case {
    std::int64_t from;
    std::string needle;
    bool forward;
    std::int64_t found;
  } cases[] = {
      {1, "g1", true, 3},   {3, "g1", true, 3},   {4, "x", true, 1},
      {1, "x", false, 3},   {2, "FINISH", true, 2}, {1, "G2", true, 0},
      {1, "", true, 0},     {99, "m30", true, 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindLine(doc, c.from, c.needle, c.forward), c.found) << c.from << " " << c.needle;
  }
}

}  // namespace
}  // namespace refhost
