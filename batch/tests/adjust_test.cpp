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
  LineWriter writer(fileno(file), DetectLineEnding(program), doc.LineCount());
  const AdjustResult result = AdjustProgram(doc, settings, writer);
  std::string error;
  EXPECT_TRUE(writer.Finish(error)) << error;
  Outcome out;
  out.message = result.message;
  out.written = result.written;
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
      {"a run reaching a \"%\" line", "G1 X0 Y0 F100\nX0.1 Y0.1\n%\nX5\n", Fields("1", "50", "", "", true)},
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
    // The batch names the line it was on; the pass's own text follows.
    EXPECT_TRUE(batch.message.size() >= editor.message.size() &&
                batch.message.compare(batch.message.size() - editor.message.size(),
                                      std::string::npos, editor.message) == 0)
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
  const Outcome percent = ThroughBatch("G1 X0 Y0 F100\nX0.1 Y0.1\n%\nX5\n",
                                       Fields("1", "50", "", "", true), 0, 0, 0);
  EXPECT_EQ(percent.message, "line 3: add: line 3 is a \"%\" line, which takes no words");
  const Outcome none = ThroughBatch("G1 X1\n", Fields("1", "50", "", "", true), 0, 0, 0);
  EXPECT_EQ(none.message, "No Lines in Norvane Selected");
  const Outcome overflow = ThroughBatch("G1 X1\nX2\n", Fields("1", "1E400", "", "", true), 0, 0, 0);
  EXPECT_EQ(overflow.message, "Floating point overflow");
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
