#include "refhost/core/word_edit.h"

#include <gtest/gtest.h>

#include <string>

namespace refhost {
namespace {

TEST(FormatWordValueTest, Table) {
  struct Case {
    double value;
    const char* text;
  };
  const Case cases[] = {
      {200, "200"},        {12.5, "12.5"},     {0.12345, "0.1235"}, {0.1, "0.1"},
      {-0.00001, "0"},     {-0.0, "0"},        {0.00004, "0"},      {0.00005, "0.0001"},
      {-3.25, "-3.25"},    {1000000, "1000000"}, {99.99999, "100"}, {1e-300, "0"},
      {123456789.5, "123456789.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatWordValue(c.value), c.text) << c.value;
}

TEST(IsWordAddressTest, Letters) {
  for (char c : std::string("ABCDEFHIJKLPQRSTUVWXYZfxz")) EXPECT_TRUE(IsWordAddress(c)) << c;
  for (char c : std::string("GMNOgmno1 %;(")) EXPECT_FALSE(IsWordAddress(c)) << c;
}

TEST(SetWordTest, Table) {
  struct Case {
    const char* line;
    char letter;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"G1 X1 Y2", 'F', 200, "G1 X1 Y2 F200"},
      {"G1 X1 F100 Y2", 'F', 12.5, "G1 X1 F12.5 Y2"},
      {"N330Y-47.891F450", 'F', 200, "N330Y-47.891F200"},
      {"G1 X1 (cut) ", 'F', 5, "G1 X1 F5 (cut) "},
      {"G1 X1 ; to the wall", 'F', 5, "G1 X1 F5 ; to the wall"},
      {"G1 X1 (F9) F7", 'F', 5, "G1 X1 (F9) F5"},
      {"g1z-.1f24", 'F', 30, "g1z-.1f30"},
      {"g1 x1 y2", 'F', 30, "g1 x1 y2 f30"},
      {"", 'F', 4, "F4"},
      {"   ", 'F', 4, "   F4"},
      {"(comment)", 'F', 4, "F4 (comment)"},
      {"N10 (comment)", 'F', 4, "N10 F4 (comment)"},
      {"G1 X1", 'x', 2.5, "G1 X2.5"},
      {"G1 X1", 'S', 1200, "G1 X1 S1200"},
      // Only between whole words: values that are expressions, parameters,
      // functions or blank-separated digits stay whole.
      {"G1 X[2+1] Y[2+1]", 'F', 200, "G1 X[2+1] Y[2+1] F200"},
      {"X#5 Y#5", 'F', 100, "X#5 Y#5 F100"},
      {"#1=FIX[#2]", 'F', 100, "#1=FIX[#2] F100"},
      {"#<depth> = 2 (mm)", 'F', 100, "#<depth> = 2 F100 (mm)"},
      {"G1 X 1 0 Y 2", 'F', 5, "G1 X 1 0 Y 2 F5"},
      {"G1 Y-#<d>", 'F', 5, "G1 Y-#<d> F5"},
      {"G1 X ATAN[1]/[2]", 'F', 5, "G1 X ATAN[1]/[2] F5"},
      // A feed given by a parameter or an expression is replaced whole.
      {"G1 X1 F#101", 'F', 200, "G1 X1 F200"},
      {"G1 F[#2*0.8] X1", 'F', 200, "G1 F200 X1"},
      {"G1 F 1 0 0 X1", 'F', 200, "G1 F200 X1"},
      {"g1 f#<_feed> x1", 'F', 200, "g1 f200 x1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetWord(c.line, c.letter, c.value), c.expected) << '"' << c.line << '"';
  }
}

}  // namespace
}  // namespace refhost
