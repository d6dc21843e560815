// The batch's host against the editor's own: the same pass over the same
// program must give the same text (or the same error) as the pass against
// the Automation members over a Document, as the editor runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "batch/adjust.h"
#include "batch/line_writer.h"
#include "batch/program_file.h"
#include "batch/tests/generated_programs.h"
#include "refhost/core/automation.h"
#include "refhost/editor/tests/automation_host.h"

namespace batch {
namespace {

using testing::LatheProgram;
using testing::MillProgram;

struct Outcome {
  std::string text;     // the program as saved
  std::string message;  // the pass's message or error ("" when none)
  std::int64_t written = 0;
  bool adjusted = true;  // batch: the pass ran to its end and the text was written
  std::vector<std::int64_t> left_out;  // batch: restores left out
  std::string open_run;                // batch: the warning of a run left open
};

std::string AsSaved(const refhost::Document& doc, const LineEnding& ending) {
  std::string text = doc.Text(ending.eol);
  if (!ending.final_break && text.size() >= ending.eol.size()) text.resize(text.size() - ending.eol.size());
  return text;
}

Outcome ThroughEditor(const std::string& program, const feed::PassInput& input, int machine,
                      std::int64_t first, std::int64_t last) {
  refhost::Document doc;
  doc.Load(program);
  refhost::Automation automation(doc);
  automation.SetSystemType(machine ? machine : refhost::GuessSystemType(doc));
  const std::int64_t n = doc.LineCount();
  automation.SetSelection(std::clamp<std::int64_t>(first ? first : 1, 1, n),
                          std::clamp<std::int64_t>(last ? last : n, 1, n));
  refhost::testing::AutomationHost host(automation);  // the editor's way
  Outcome out;
  try {
    feed::RunPass(host, input, [&](const std::string& m) { out.message = m; });
  } catch (const std::exception& e) {
    out.message = e.what();
  }
  out.text = AsSaved(doc, DetectLineEnding(program));
  out.written = doc.MarkCount();
  return out;
}

Outcome ThroughBatch(const std::string& program, const feed::PassInput& input, int machine,
                     std::int64_t first, std::int64_t last) {
  refhost::Document doc;
  doc.Load(program);
  AdjustSettings settings;
  settings.input = input;
  settings.machine = machine;
  settings.first_line = first;
  settings.last_line = last;
  std::FILE* file = std::tmpfile();
  const LineEndings endings(program);
  LineWriter writer(fileno(file), endings);
  const AdjustResult result = AdjustProgram(doc, settings, writer);
  std::string error;
  EXPECT_TRUE(writer.Finish(error)) << error;
  Outcome out;
  out.message = result.message;
  out.written = result.written;
  out.left_out = result.restores_left_out;
  out.open_run = result.open_run;
  if (result.outcome == AdjustResult::Outcome::kAdjusted) {
    std::rewind(file);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.text.append(buffer, n);
  }
  out.adjusted = result.outcome == AdjustResult::Outcome::kAdjusted;
  std::fclose(file);
  return out;
}

feed::PassInput Fields(const char* length, const char* feed, const char* radius, const char* arc,
                       bool diagonals) {
  return {length, feed, radius, arc, diagonals};
}

std::string Ngc(const char* name) { return testing::ReadAll(std::string(BREVAND_NGC_DIR) + "/" + name); }
std::string Sample(const char* name) {
  return testing::ReadAll(std::string(BREVAND_SAMPLES_DIR) + "/" + name);
}

TEST(BatchAdjustTest, SameResultAsThePassAgainstTheEditor) {
  const std::string mill = MillProgram(3000);
  const std::string lathe = LatheProgram(2000);
  std::string crlf;
  for (char c : MillProgram(300, 3)) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  std::string cr = MillProgram(300, 4);
  for (char& c : cr) c = c == '\n' ? '\r' : c;
  const struct Case {
    const char* name;
    std::string program;
    feed::PassInput input;
    int machine = 0;
    std::int64_t first = 0, last = 0;
  } cases[] = {
      {"3D_Chips", Ngc("3D_Chips.ngc"), Fields("1", "150", "2", "120", true)},
      {"3D_Chips all directions", Ngc("3D_Chips.ngc"), Fields("1", "150", "2", "120", false)},
      {"arcspiral", Ngc("arcspiral.ngc"), Fields("0.5", "30", "0.75", "25", true)},
      {"arcspiral all directions", Ngc("arcspiral.ngc"), Fields("0.5", "30", "0.75", "25", false)},
      {"lathe_pawn", Ngc("lathe_pawn.ngc"), Fields("2", "30", "3", "20", true)},
      {"lathe_pawn all directions", Ngc("lathe_pawn.ngc"), Fields("2", "30", "3", "20", false)},
      {"mill sample", Sample("mill.ngc"), Fields("5", "200", "3", "150", true)},
      {"lathe sample", Sample("lathe.ngc"), Fields("2", "0.08", "2.5", "0.1", true)},
      {"generated mill", mill, Fields("0.5", "150", "2", "120", true)},
      {"generated mill all directions", mill, Fields("0.5", "150", "2", "120", false)},
      {"generated mill, no arc fields", mill, Fields("0.5", "150", "", "", false)},
      {"generated mill as a lathe", mill, Fields("0.5", "150", "2", "120", false), refhost::kSystemTypeLathe},
      {"generated mill, lines 100 to 900", mill, Fields("0.5", "150", "2", "120", false), 0, 100, 900},
      {"generated mill, lines from 2500 on", mill, Fields("0.5", "150", "2", "120", false), 0, 2500, 0},
      {"generated mill, lines given backwards", mill, Fields("0.5", "150", "2", "120", false), 0, 900, 100},
      {"generated lathe", lathe, Fields("2", "0.1", "2", "0.08", true)},
      {"generated lathe all directions", lathe, Fields("2", "0.1", "2", "0.08", false)},
      {"generated lathe as a mill", lathe, Fields("2", "0.1", "2", "0.08", false), refhost::kSystemTypeMill},
      {"CR LF line ends", crlf, Fields("0.5", "150", "2", "120", false)},
      {"CR line ends", cr, Fields("0.5", "150", "2", "120", false)},
      {"no final line break", "G1 X0 Y0 F100\nX0.1 Y0.1\nX0.2 Y0.2\nX5 Y5", Fields("1", "50", "", "", true)},
      // Failures and messages: the same text, and nothing saved.
      {"a feed too large for a word", "G1 X0 Y0 F100\nX0.1 Y0.1\nX9\n", Fields("1", "2E9", "", "", true)},
      {"one line", "G1 X1 Y1 F100\n", Fields("1", "50", "", "", true)},
      {"an empty program", "", Fields("1", "50", "", "", true)},
      {"a floating-point fault in a field", mill, Fields("1", "1E400", "", "", true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.program.empty() && std::string(c.name) != "an empty program") << "program missing";
    const Outcome editor = ThroughEditor(c.program, c.input, c.machine, c.first, c.last);
    const Outcome batch = ThroughBatch(c.program, c.input, c.machine, c.first, c.last);
    // The batch names the line it was on; the pass's own text follows,
    // without the member's name.
    std::string expected = editor.message;
    if (expected.rfind("add: ", 0) == 0) expected.erase(0, 5);
    EXPECT_TRUE(batch.message.size() >= expected.size() &&
                batch.message.compare(batch.message.size() - expected.size(), std::string::npos,
                                      expected) == 0)
        << "batch: " << batch.message << "\neditor: " << editor.message;
    if (editor.message.empty()) {
      EXPECT_EQ(batch.text, editor.text);
      EXPECT_EQ(batch.written, editor.written);
    } else {
      EXPECT_FALSE(batch.adjusted);  // nothing to save
    }
  }
}

TEST(BatchAdjustTest, SamplesGiveTheirExpectedPrograms) {
  EXPECT_EQ(ThroughBatch(Sample("mill.ngc"), Fields("5", "200", "3", "150", true), 0, 0, 0).text,
            Sample("mill-expected.ngc"));
  EXPECT_EQ(ThroughBatch(Sample("lathe.ngc"), Fields("2", "0.08", "2.5", "0.1", true), 0, 0, 0).text,
            Sample("lathe-expected.ngc"));
}

TEST(BatchAdjustTest, FailuresNameTheLineAndThePassText) {
  // The member's name ("add: ") is not the user's business.
  const Outcome large = ThroughBatch("G1 X0 Y0 F100\nX0.1 Y0.1\nX9\n", Fields("1", "2E9", "", "", true), 0, 0, 0);
  EXPECT_EQ(large.message, "line 2: the value 2e+09 is too large for a word");
  EXPECT_FALSE(large.adjusted);
  const Outcome none = ThroughBatch("G1 X1\n", Fields("1", "50", "", "", true), 0, 0, 0);
  EXPECT_EQ(none.message, "No Lines in Norvane Selected");
  const Outcome overflow = ThroughBatch("G1 X1\nX2\n", Fields("1", "1E400", "", "", true), 0, 0, 0);
  EXPECT_EQ(overflow.message, "Floating point overflow");
}

// Where the batch differs from the editor on purpose: a restore that no
// executed line reads is left out rather than failing the file, and a walk
// ending inside a run says which feed stays in force.
TEST(BatchAdjustTest, RestoresNothingReadsAreLeftOutAndOpenRunsNamed) {
  const struct {
    const char* name;
    const char* program;
    std::int64_t last;
    const char* text;  // as saved
    std::vector<std::int64_t> left_out;
    const char* open_run;
  } cases[] = {
      {"closing %", "G1 X0 Y0 F100\nX0.1 Y0.1\n%\n", 0, "G1 X0 Y0 F100\nX0.1 Y0.1 F50\n%\n", {3}, ""},
      {"% with blanks before it", "G1 X0 Y0 F100\nX0.1 Y0.1\n  %\nX5\n", 0,
       "G1 X0 Y0 F100\nX0.1 Y0.1 F50\n  %\nX5\n", {3}, ""},
      {"after M30", "G1 X0 Y0 F100\nX0.1 Y0.1 M30\nG0 X5\n", 0,
       "G1 X0 Y0 F100\nX0.1 Y0.1 M30 F50\nG0 X5\n", {3}, ""},
      {"M30 in a comment ends nothing", "G1 X0 Y0 F100\nX0.1 Y0.1 (M30)\nG0 X5\n", 0,
       "G1 X0 Y0 F100\nX0.1 Y0.1 F50 (M30)\nG0 X5 F100\n", {}, ""},
      {"--lines ending inside a run", "G1 X0 Y0 F100\nX0.1 Y0.1\nX0.2 Y0.2\nX9 Y9\n", 2,
       "G1 X0 Y0 F100\nX0.1 Y0.1 F50\nX0.2 Y0.2\nX9 Y9\n", {},
       "--lines ends inside a run of changed lines: F50 of line 2 stays in force after it, up to the "
       "program's next F word"},
      {"--lines ending where the run closes", "G1 X0 Y0 F100\nX0.1 Y0.1\nX9 Y9\nX9.1 Y9.1\n", 3,
       "G1 X0 Y0 F100\nX0.1 Y0.1 F50\nX9 Y9 F100\nX9.1 Y9.1\n", {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome batch = ThroughBatch(c.program, Fields("1", "50", "", "", true), 0, 0, c.last);
    EXPECT_TRUE(batch.adjusted) << batch.message;
    EXPECT_EQ(batch.text, c.text);
    EXPECT_EQ(batch.left_out, c.left_out);
    EXPECT_EQ(batch.open_run, c.open_run);
  }
}

// The controller's programs with parameters, expressions, subroutines and
// loops: every move reads the same after the pass, or the file fails whole.
TEST(BatchAdjustTest, ControllerProgramsKeepEveryMove) {
  const auto moves = [](const std::string& program) {
    refhost::Document doc;
    doc.Load(program);
    refhost::Automation a(doc);
    std::vector<refhost::Block> out;
    for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
      a.step();
      out.push_back(a.LastBlock());
    }
    return out;
  };
  int adjusted = 0;
  std::int64_t written = 0;
  for (const char* name : {"axis.ngc", "systems.ngc", "mmount.ngc", "flowsnake.ngc", "threading.ngc"}) {
    const std::string program = Ngc(name);
    if (program.empty()) GTEST_SKIP() << name << " not found";
    const Outcome out = ThroughBatch(program, Fields("3", "7", "1", "6", false), 0, 0, 0);
    if (!out.adjusted) {
      EXPECT_NE(out.message.find("line "), std::string::npos) << name << ": " << out.message;
      continue;
    }
    ++adjusted;
    written += out.written;
    const std::vector<refhost::Block> before = moves(program), after = moves(out.text);
    ASSERT_EQ(before.size(), after.size()) << name;
    for (std::size_t i = 0; i < before.size(); ++i) {
      EXPECT_FALSE(after[i].error) << name << ":" << i + 1 << " " << *after[i].error;
      if (!before[i].moves) continue;
      EXPECT_TRUE(after[i].moves) << name << ":" << i + 1;
      for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(before[i].start[k], after[i].start[k]) << name << ":" << i + 1;
        EXPECT_EQ(before[i].end[k], after[i].end[k]) << name << ":" << i + 1;
      }
    }
  }
  EXPECT_GE(adjusted, 3);
  EXPECT_GT(written, 100);
}

}  // namespace
}  // namespace batch
