// The pass over a real program in process, against the reference editor's
// core: the F words it writes, line by line, must be the expected list that
// the Windows end-to-end run through brevand.exe is held to as well.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "feed/pass.h"
#include "feed/tests/feed_words.h"
#include "refhost/core/automation.h"
#include "refhost/core/document.h"
#include "refhost/editor/tests/automation_host.h"

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(NgcPass, LathePawnGetsTheExpectedFeedWords) {
  const std::string program = Slurp(std::string(BREVAND_NGC_DIR) + "/lathe_pawn.ngc");
  ASSERT_FALSE(program.empty());
  refhost::Document document;
  document.Load(program);
  refhost::Automation automation(document);
  automation.SetSystemType(refhost::kSystemTypeLathe);
  automation.SetSelection(1, document.LineCount());
  refhost::testing::AutomationHost host(automation);
  feed::PassInput input;  // as typed in the Windows end-to-end run
  input.edt1 = "SQRT(4)";
  input.edt3 = "150";
  input.edt2 = "ABS(-8)";
  input.edt4 = "60";
  input.chk1 = false;
  feed::RunPass(host, input, [](const std::string& s) { ADD_FAILURE() << s; });

  const std::vector<std::string> got = feed::testing::FeedWords(program, document.Text("\n"));
  const std::vector<std::string> expected =
      feed::testing::SplitProgramLines(Slurp(std::string(FEED_TEST_DATA) + "/lathe_pawn.feeds"));
  std::string all;
  for (const std::string& w : got) all += w + "\n";
  EXPECT_EQ(got, expected) << "the pass wrote:\n" << all;
}

}  // namespace
