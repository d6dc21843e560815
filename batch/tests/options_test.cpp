// The command line: what is accepted, what is bad usage and what it says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/fields.h"
#include "batch/options.h"

namespace batch {
namespace {

using Args = std::vector<std::string>;

TEST(BatchOptionsTest, BadUsageIsNamed) {
  const Args fields{"--line-length", "1", "--line-feed", "100"};
  const auto with = [&](Args more) {
    Args a = fields;
    a.insert(a.end(), more.begin(), more.end());
    return a;
  };
  const struct {
    Args args;
    const char* error;
  } cases[] = {
      {{"a.ngc"}, "--line-length and --line-feed are required (see --help)"},
      {{"--line-length", "1", "a.ngc"}, "--line-length and --line-feed are required (see --help)"},
      {with({}), "no file given (see --help)"},
      {with({"--arc-radius", "2", "a.ngc"}), "--arc-radius needs --arc-feed as well"},
      {with({"--arc-feed", "2", "a.ngc"}), "--arc-feed needs --arc-radius as well"},
      {with({"--machine", "router", "a.ngc"}), "--machine takes mill, lathe or auto, not \"router\""},
      {with({"--lines", "5", "a.ngc"}),
       "--lines takes FIRST:LAST (line numbers from 1; either may be left out), not \"5\""},
      {with({"--lines", "0:5", "a.ngc"}),
       "--lines takes FIRST:LAST (line numbers from 1; either may be left out), not \"0:5\""},
      {with({"--lines", "x:5", "a.ngc"}),
       "--lines takes FIRST:LAST (line numbers from 1; either may be left out), not \"x:5\""},
      {with({"-o", "out.ngc", "a.ngc", "b.ngc"}), "-o takes the result of one file; 2 were given"},
      {with({"-o", "", "a.ngc"}), "-o needs a file name"},
      {with({"--frobnicate", "a.ngc"}), "unknown option --frobnicate (see --help)"},
      {with({"a.ngc", "-o"}), "-o needs a value"},
      {{"--line-feed", "1", "a.ngc", "--line-length"}, "--line-length needs a value"},
      {with({"--lines", "5:2", "a.ngc"}), "--lines 5:2: the first line comes after the last"},
      {with({"-no", "out.ngc", "a.ngc"}), "--dry-run writes nothing, so it does not go with -o"},
      {with({"--units", "cm", "a.ngc"}), "--units takes mm or inch, not \"cm\""},
      {with({"-", "a.ngc", "-"}), "standard input (-) can be read once only"},
      {with({"--dry-run=yes", "a.ngc"}), "--dry-run takes no value"},
      {with({"-qx", "a.ngc"}), "unknown option -x (see --help)"},
      {with({"a.ngc", "-qo"}), "-o needs a value"},
      {with({"a.ngc", "--output"}), "--output needs a value"},
  };
  for (const auto& c : cases) {
    BatchOptions options;
    std::string error;
    EXPECT_FALSE(ParseOptions(c.args, options, error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(BatchOptionsTest, AcceptedForms) {
  BatchOptions o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--line-length=0.5", "--line-feed", "-1+401", "--arc-radius", "2",
                            "--arc-feed=sqrt(2)*100", "--all-directions", "--lines", "10:",
                            "--machine=lathe", "-o", "out.ngc", "--force", "-q", "--no-backup", "--",
                            "-odd name.ngc"},
                           o, error))
      << error;
  EXPECT_EQ(o.line_length, "0.5");
  EXPECT_EQ(o.line_feed, "-1+401");  // a value may start with "-"
  EXPECT_EQ(o.arc_feed, "sqrt(2)*100");
  EXPECT_TRUE(o.arcs && o.all_directions && o.force && o.quiet && !o.backup);
  EXPECT_EQ(o.first_line, 10);
  EXPECT_EQ(o.last_line, 0);
  EXPECT_EQ(o.machine, 304);
  EXPECT_EQ(o.output, "out.ngc");
  EXPECT_EQ(o.files, (std::vector<std::string>{"-odd name.ngc"}));

  BatchOptions d;
  ASSERT_TRUE(ParseOptions({"--line-length", "1", "--line-feed", "2", ":50.ngc", "b.ngc", "--lines", ":50"}, d, error));
  EXPECT_EQ(d.first_line, 0);
  EXPECT_EQ(d.last_line, 50);
  EXPECT_EQ(d.machine, 0);  // guessed
  EXPECT_TRUE(d.backup && !d.all_directions && !d.arcs);
  EXPECT_EQ(d.files.size(), 2u);

  BatchOptions h;
  EXPECT_TRUE(ParseOptions({"--help"}, h, error));  // needs nothing else
  EXPECT_TRUE(h.help);

  // Combined short options, attached values, abbreviations, "-" as a file.
  BatchOptions c;
  ASSERT_TRUE(ParseOptions({"--line-len=1", "--line-feed", "2", "-qoout.ngc", "--units=inch", "-"}, c, error))
      << error;
  EXPECT_TRUE(c.quiet);
  EXPECT_EQ(c.output, "out.ngc");
  EXPECT_EQ(c.units, 20);
  EXPECT_EQ(c.files, (std::vector<std::string>{"-"}));
  BatchOptions n;
  ASSERT_TRUE(ParseOptions({"--line-length", "1", "--line-feed", "2", "-nq", "a.ngc"}, n, error)) << error;
  EXPECT_TRUE(n.dry_run && n.quiet);
}

TEST(BatchFieldsTest, EachFieldIsCheckedAsThePassWillReadIt) {
  const struct {
    const char* length;
    const char* feed;
    const char* radius;  // nullptr: arcs not given
    const char* arc;
    const char* error;   // "" when accepted
  } cases[] = {
      {"0.5", "400*0.8", "2", "300", ""},
      {" 1 / 16 ", "sqrt(2)*100", nullptr, nullptr, ""},  // blanks go, letters count as capitals
      {"1 000", "1e2", nullptr, nullptr, ""},
      {"0", "100", nullptr, nullptr, "--line-length \"0\": evaluates to 0; it must be above 0"},
      {"1", "-5", nullptr, nullptr, "--line-feed \"-5\": evaluates to -5; it must be above 0"},
      {"1", "abc", nullptr, nullptr, "--line-feed \"ABC\": not an expression"},
      {"", "100", nullptr, nullptr, "--line-length \"\": not an expression"},
      {"1", "1/0", nullptr, nullptr,
       "--line-feed \"1/0\": cannot be computed (a division by zero, or a number or argument out of range)"},
      {"1E400", "100", nullptr, nullptr, "--line-length \"1E400\": Floating point overflow"},
      {"1", "COTAN(0)", nullptr, nullptr, "--line-feed \"COTAN(0)\": Floating point division by zero"},
      {"1", "100", "0", "50", "--arc-radius \"0\": evaluates to 0; it must be above 0"},
      {"1", "100", "2", "", "--arc-feed \"\": not an expression"},
      {"1", "100", "2", "1\t+2", "--arc-feed \"1\t+2\": not an expression"},
      // Feeds that no F word can carry; lengths are not written, so any size goes.
      {"0.0000001", "0.0000001", nullptr, nullptr,
       "--line-feed \"0.0000001\": evaluates to 1e-07, which an F word would write as F0"},
      {"1", "100", "2", "0.00004", "--arc-feed \"0.00004\": evaluates to 4e-05, which an F word would write as F0"},
      {"1E30", "1E9", nullptr, nullptr,
       "--line-feed \"1E9\": evaluates to 1000000000, too large for an F word (below 1000000000)"},
      {"1", "0.00005", "1E30", "999999999", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.length) + " | " + c.feed);
    BatchOptions options;
    options.line_length = c.length;
    options.line_feed = c.feed;
    options.arcs = c.radius != nullptr;
    if (c.radius) options.arc_radius = c.radius, options.arc_feed = c.arc;
    options.all_directions = true;
    feed::PassInput input;
    std::string error;
    EXPECT_EQ(MakePassInput(options, input, error), std::string(c.error).empty());
    EXPECT_EQ(error, c.error);
    if (error.empty()) {
      EXPECT_EQ(input.edt1, AsTyped(c.length));  // the texts the pass evaluates
      EXPECT_EQ(input.edt3, AsTyped(c.feed));
      EXPECT_FALSE(input.chk1);
    }
  }
}

TEST(BatchFieldsTest, TheValuesAreShownAsThePassUsesThem) {
  const struct {
    feed::PassInput input;
    bool arcs;
    const char* line;
  } cases[] = {
      {{"0.5", "400*0.8", "2", "300", true}, true,
       "lines shorter than 0.5 get F320 (near-diagonal only); arcs smaller than R2 get F300"},
      {{"1/16", "100200", "", "", false}, false,
       "lines shorter than 0.0625 get F100200 (all directions); arcs stay as they are"},
      {{"1", "0.00005", "1", "12.34567", true}, true,
       "lines shorter than 1 get F0.0001 (near-diagonal only); arcs smaller than R1 get F12.3457"},
  };
  for (const auto& c : cases) EXPECT_EQ(SettingsLine(c.input, c.arcs), c.line);
}

}  // namespace
}  // namespace batch
