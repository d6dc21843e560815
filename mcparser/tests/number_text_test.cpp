// Number texts convert to the correctly rounded double, on the quick path
// and off it.
#include <gtest/gtest.h>

#include <charconv>
#include <string>

#include "mcparser/fpfault.h"
#include "mcparser/number_text.h"

namespace mcparser {
namespace {

double Reference(const std::string& text) {
  double d = 0;
  std::from_chars(text.data(), text.data() + text.size(), d);
  return d;
}

TEST(NumberTextTest, CorrectlyRoundedAroundTheQuickPathLimits) {
  const char* texts[] = {
      "0", "2.5", "0.1", "0.3", "400", "0.125", "5.", "007.50",
      "123456789012345",    "1234567890123456",      // 15 and 16 digits
      "0.12345678901234",   "0.123456789012345",     // the point does not count
      "9007199254740993",   "8.589973e9",
      "1E22", "1E23", "1E-22", "1E-23",                // the power-of-ten table's end
      "1.5E2", "12.5E-20", "12.5E-21", "0.5E23", "0.5E24",
      "123456789012345E7", "123456789012345E8", "999999999999999E-22",
      "3.14159265358979E-7", "2.718281828459045E0", "1E+5", "1E-0",
      "0.000000000000000000001", "1E-400", "4.9E-324", "2.4E-324",
      "1.7976931348623157E308", "1E-320",
      // 16 and 17 digits whose whole-number reading is no exact double
      "9.648055014934041", "972398456276930.3", "9.648055014934041E5",
      "4.0045620204441694", "2.3269166363414350", "8391380305731727.4",
  };
  for (const std::string text : texts) {
    SCOPED_TRACE(text);
    double value = -1;
    ASSERT_TRUE(ConvertNumberText(text, value));
    EXPECT_EQ(value, Reference(text));
  }
}

TEST(NumberTextTest, RejectsAnExponentWithoutDigitsAndFaultsBeyondTheRange) {
  for (const std::string text : {"1E", "1E+", "1E-", "12345678901234567E"}) {
    double value = 42;
    EXPECT_FALSE(ConvertNumberText(text, value)) << text;
    EXPECT_EQ(value, 42) << text;
  }
  for (const std::string text : {"1E309", "1.8E308", "99999999999999999999E300"}) {
    double value = 0;
    EXPECT_THROW(ConvertNumberText(text, value), FloatingPointError) << text;
  }
}

}  // namespace
}  // namespace mcparser
