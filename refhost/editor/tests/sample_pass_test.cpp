// The bundled samples under a real pass, in process: the result must be the
// expected program kept beside them, and one undo takes it back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "feed/pass.h"
#include "refhost/editor/session.h"
#include "refhost/editor/tests/automation_host.h"

namespace refhost::testing {
namespace {

const std::filesystem::path kSamples = NORVANE_SAMPLES_DIR;

std::string Slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The fields refhost/samples/README.md states for mill-expected.ngc.
feed::PassInput SampleFields() {
  feed::PassInput in;
  in.edt1 = "5";
  in.edt3 = "200";
  in.edt2 = "3";
  in.edt4 = "150";
  in.chk1 = true;
  return in;
}

TEST(SamplePassTest, MillSampleGivesTheExpectedProgram) {
  EditorSession session;
  std::string error;
  ASSERT_TRUE(session.Open(kSamples / "mill.ngc", error)) << error;
  ASSERT_EQ(session.SystemType(), kSystemTypeMill);
  session.Select(1, session.document().LineCount());
  AutomationHost host(session.automation());
  feed::RunPass(host, SampleFields(), [](const std::string& m) { FAIL() << m; });
  session.EndPass();
  const std::string expected = Slurp(kSamples / "mill-expected.ngc");
  EXPECT_EQ(session.FileText(), expected);
  if (std::getenv("PRINT_PASS_RESULT")) std::fputs(session.FileText().c_str(), stdout);

  // Every written line is marked; 15 and 19 got the feed they had.
  EXPECT_EQ(session.document().MarkedLines(),
            (std::vector<std::int64_t>{9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 24, 25, 26}));

  session.Undo();
  EXPECT_EQ(session.FileText(), Slurp(kSamples / "mill.ngc"));
  EXPECT_TRUE(session.document().MarkedLines().empty());
}

TEST(SamplePassTest, LatheSampleIsReadInTheXZPlane) {
  EditorSession session;
  std::string error;
  ASSERT_TRUE(session.Open(kSamples / "lathe.ngc", error)) << error;
  EXPECT_EQ(session.SystemType(), kSystemTypeLathe);
  session.Select(1, session.document().LineCount());
  AutomationHost host(session.automation());
  feed::PassInput in;
  in.edt1 = "2";      // chamfers are short
  in.edt3 = "0.08";
  in.edt2 = "2.5";
  in.edt4 = "0.1";
  feed::RunPass(host, in, [](const std::string& m) { FAIL() << m; });
  session.EndPass();
  const std::string expected = Slurp(kSamples / "lathe-expected.ngc");
  EXPECT_EQ(session.FileText(), expected);
  if (std::getenv("PRINT_PASS_RESULT")) std::fputs(session.FileText().c_str(), stdout);
}

}  // namespace
}  // namespace refhost::testing
