#include "refhost/editor/options.h"

#include <gtest/gtest.h>

#include "refhost/core/automation.h"

namespace refhost {
namespace {

TEST(OptionsTest, ReadsTheCommandLine) {
  struct Case {
    std::vector<std::string> args;
    std::string file;
    bool headless, save_on_exit;
    int system_type;  // 0: not given
    std::int64_t first, last;
  } cases[] = {
      {{}, "", false, false, 0, 0, 0},
      {{"part.ngc"}, "part.ngc", false, false, 0, 0, 0},
      {{"--headless", "--select", "2:40", "p.nc"}, "p.nc", true, false, 0, 2, 40},
      {{"--select=7:3", "--save-on-exit"}, "", false, true, 0, 7, 3},
      {{"--system-type", "lathe", "x.tap"}, "x.tap", false, false, kSystemTypeLathe, 0, 0},
      {{"--system-type=mill"}, "", false, false, kSystemTypeMill, 0, 0},
      {{"--", "--odd-name.nc"}, "--odd-name.nc", false, false, 0, 0, 0},
      {{"-platform", "offscreen", "a.nc"}, "a.nc", false, false, 0, 0, 0},
  };
  for (const std::string answer : {"ask", "recover", "discard", "keep"}) {
    EditorOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--recovery=" + answer, "a.nc"}, o, error)) << error;
    EXPECT_EQ(o.recovery, answer);
  }
  for (const auto& c : cases) {
    EditorOptions o;
    std::string error;
    ASSERT_TRUE(ParseOptions(c.args, o, error)) << error;
    EXPECT_EQ(o.file, c.file);
    EXPECT_EQ(o.headless, c.headless);
    EXPECT_EQ(o.save_on_exit, c.save_on_exit);
    EXPECT_EQ(o.system_type.value_or(0), c.system_type);
    EXPECT_EQ(o.select_first, c.first);
    EXPECT_EQ(o.select_last, c.last);
  }
}

TEST(OptionsTest, RefusesBadOptionsWithAReason) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--select"}, "needs a value"},
      {{"--select", "5"}, "FIRST:LAST"},
      {{"--select", "0:3"}, "FIRST:LAST"},
      {{"--select", "2:x"}, "FIRST:LAST"},
      {{"--system-type", "router"}, "lathe or mill"},
      {{"--frobnicate"}, "unknown option"},
      {{"a.nc", "b.nc"}, "one program at a time"},
      {{"--recovery", "maybe"}, "ask, recover, discard or keep"},
      {{"--recovery"}, "needs a value"},
  };
  for (const auto& c : cases) {
    EditorOptions o;
    std::string error;
    EXPECT_FALSE(ParseOptions(c.args, o, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace refhost
