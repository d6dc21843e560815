// Evaluate and FieldValue: statuses, values, the 100-character cut, the
// stack limit and the floating-point faults.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "mcparser/mcparser.h"

namespace mcparser {
namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}
std::string Nested(int depth, const std::string& open, const std::string& inner) {
  return Repeat(open, depth) + inner + std::string(depth, ')');
}
std::string PowerChain(int operands) {
  std::string s = "1";
  for (int i = 1; i < operands; ++i) s += "^1";
  return s;
}

struct Case {
  std::string text;
  std::uint16_t status;
  double value;
};

void ExpectEvaluates(const Case& c) {
  SCOPED_TRACE("text: " + c.text);
  std::uint16_t status = 99;
  const double v = Evaluate(c.text, status);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(v, c.value);
}

constexpr std::uint16_t kOk = kStatusOk, kSyntax = kStatusSyntaxError, kMath = kStatusMathError;

TEST(EvaluateTest, Arithmetic) {
  const Case cases[] = {
      {"2.5", kOk, 2.5},         {"1/16", kOk, 0.0625},     {"400*0.8", kOk, 320},
      {"1+2*3", kOk, 7},         {"7-2-1", kOk, 4},         {"12/3/2", kOk, 2},
      {"(1+2)*3", kOk, 9},       {"2^3^2", kOk, 512},       {"2^-2", kOk, 0.25},
      {"2^0", kOk, 1},           {"2^10", kOk, 1024},       {"10^3", kOk, 1000},
      {"3^4", kOk, 81},          {"1.5^10", kOk, 57.6650390625},
      {"1^1E300", kOk, 1},       {"10^-38", kOk, 1e-38},    {"4^0.5", kOk, 2},
      {"-(-2)", kOk, 2},         {"2--3", kOk, 5},          {"2*-3", kOk, -6},
      {"2^-1", kOk, 0.5},       {"-2*3", kOk, -6},         {"-SQRT(4)", kOk, -2},
      {"-400/-2", kOk, 200},     {"8/-2", kOk, -4},         {"1+-2", kOk, -1},
      {"-400+-2", kOk, -402},    {"6/-(1+2)", kOk, -2},     {"1+-SQRT(4)", kOk, -1},
      {"0/5", kOk, 0},           {"((5))", kOk, 5},         {".5+.5", kOk, 1},
      {"SQRT(2)*0.5", kOk, static_cast<double>(std::sqrt(2.0L)) * 0.5},
      {"ABS(-3)+SQR(3)", kOk, 12},
      {"ROUND(2.5)", kOk, 2},    {"ROUND(3.5)", kOk, 4},    {"ROUND(-2.5)", kOk, -2},
      {"TRUNC(-2.7)", kOk, -2},  {"FIX(-2.7)", kOk, -2},    {"ROUND(1E9)", kOk, 1e9},
      {"SQRT(0)", kOk, 0},       {"SQR(1E18)", kOk, 1e36},  {"SQRT(SQRT(16))", kOk, 2},
      {"1E-200*1E-200", kOk, 0},
  };
  for (const Case& c : cases) ExpectEvaluates(c);

  std::uint16_t status = 0;
  EXPECT_NEAR(Evaluate("10^38", status), 1e38, 1e26);
  EXPECT_EQ(status, kOk);
  EXPECT_GT(Evaluate("EXP(88)", status), 1.6e38);
  EXPECT_EQ(status, kOk);
}

TEST(EvaluateTest, ComputationErrors) {
  const Case cases[] = {
      {"10^39", kMath, 0},        {"10^-39", kMath, 0},       {"-2^2", kMath, 0},
      {"(-2)^2", kMath, 0},       {"0^2", kMath, 0},          {"-(3+4)^2", kMath, 0},
      {"1/0", kMath, 0},          {"1/0+2", kMath, 0},        {"1/(1-1)", kMath, 0},
      {"5E", kMath, 0},           {"5E-+1", kMath, 0},      {"5E-*2", kMath, 0},
      {"TRUNC(1E9+1)", kMath, 0}, {"EXP(88.5)", kMath, 0},    {"LN(0)", kMath, 0},
      {"SQRT(-1)", kMath, 0},     {"SQR(2E18)", kMath, 0},    {"SQRT(-1)+SQRT(4)", kMath, 0},
      {"2*LN(-1)*3", kMath, 0},   {"1/0+", kSyntax, 0},       {"1/0)", kSyntax, 0},
      {"(1/0", kSyntax, 0},
  };
  for (const Case& c : cases) ExpectEvaluates(c);
}

TEST(EvaluateTest, SyntaxErrors) {
  const Case cases[] = {
      {"", kSyntax, 0},       {"   ", kSyntax, 0},   {"+5", kSyntax, 0},
      {"--2", kSyntax, 0},    {"(5", kSyntax, 0},    {"5)", kSyntax, 0},
      {"()", kSyntax, 0},     {"SIN30", kSyntax, 0}, {"SIN", kSyntax, 0},
      {"SIN()", kSyntax, 0},  {"2(3)", kSyntax, 0},  {"2X", kSyntax, 0},
      {"1:2", kSyntax, 0},    {"1,5", kSyntax, 0},   {"1.2.3", kSyntax, 0},
      {"2e3", kSyntax, 0},    {"sin(30)", kSyntax, 0}, {"1 000", kSyntax, 0},
      {"1+", kSyntax, 0},     {"*2", kSyntax, 0},    {"2^", kSyntax, 0},
      {"2**3", kSyntax, 0},   {"1\t+2", kSyntax, 0}, {"SIN(30)SIN(30)", kSyntax, 0},
      {"SQRT(-1)SIN", kSyntax, 0}, {"1E-", kMath, 0},
      {"2\xC3\xA9", kSyntax, 0},   {"\xE2\x88\x92" "2", kSyntax, 0}, {"1\xFF", kSyntax, 0},
      {std::string("1\0", 2), kSyntax, 0},
  };
  for (const Case& c : cases) ExpectEvaluates(c);
}

TEST(EvaluateTest, BlanksAreSkippedBetweenTokens) {
  ExpectEvaluates({" 1 + 2 ", kOk, 3});
  ExpectEvaluates({"SQRT ( 4 )", kOk, 2});
}

TEST(EvaluateTest, OnlyTheFirst100CharactersCount) {
  const Case cases[] = {
      {Repeat("1+", 49) + "1000", kOk, 59},          // cut inside the number
      {Repeat("1+", 50) + "1000", kSyntax, 0},       // cut after the last "+"
      {Repeat("1+", 49) + "10" + "1/0", kOk, 59},    // what lies beyond is ignored
      {Repeat("1+", 49) + "10" + "\xE2\x82\xAC", kOk, 59},
      {Repeat("1+", 49) + "1" + "\xE2\x82\xAC", kSyntax, 0},  // the 100th character
      {Repeat("\xC3\xA9", 100) + "1", kSyntax, 0},
      {std::string(100, ' ') + "1", kSyntax, 0},     // blanks take places too
      {".5" + Repeat("+1", 48) + "+9", kSyntax, 0},  // "0" in front pushes out the "9"
      {".5" + Repeat("+1", 47) + "+99", kOk, 146.5},
  };
  for (const Case& c : cases) ExpectEvaluates(c);
}

TEST(EvaluateTest, StackHoldsTwentyEntries) {
  const Case cases[] = {
      {Nested(17, "(", "5"), kOk, 5},
      {Nested(18, "(", "5"), kSyntax, 0},
      {Nested(8, "ABS(", "-5"), kOk, 5},
      {Nested(8, "ABS(", "5"), kOk, 5},
      {Nested(9, "ABS(", "5"), kSyntax, 0},
      {Nested(8, "SQRT(", "0"), kOk, 0},
      {PowerChain(10), kOk, 1},
      {PowerChain(11), kSyntax, 0},
      {Nested(18, "(", "1/0"), kSyntax, 0},   // a syntax error wins
      {std::string("-").append(Nested(17, "(", "5")), kSyntax, 0},
      {std::string("1+").append(Nested(15, "(", "5")), kOk, 6},
      {std::string("1+").append(Nested(16, "(", "5")), kSyntax, 0},
  };
  for (const Case& c : cases) ExpectEvaluates(c);
}

TEST(EvaluateTest, FloatingPointFaultsAndRecovery) {
  const struct {
    std::string text;
    const char* fault;
  } cases[] = {
      {"1E400", kOverflowText},
      {"1E99*1E99*1E99*1E99", kOverflowText},
      {"1E308+1E308", kOverflowText},
      {"-1E308-1E308", kOverflowText},
      {"1E300/1E-300", kOverflowText},
      {"SQR(1E18)*1E300", kOverflowText},
      {"COTAN(0)", kDivideByZeroText},
      {"COTAN(1E-320)", kOverflowText},
      {"(1E400", kOverflowText},   // the fault comes before the syntax error
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    std::uint16_t status = 77;
    try {
      Evaluate(c.text, status);
      ADD_FAILURE() << "no fault";
    } catch (const FloatingPointError& e) {
      EXPECT_STREQ(e.what(), c.fault);
    }
    EXPECT_EQ(status, kSyntax);
    try {
      FieldValue(c.text);
      ADD_FAILURE() << "no fault from FieldValue";
    } catch (const FloatingPointError& e) {
      EXPECT_STREQ(e.what(), c.fault);
    }
    // The next evaluation starts clean.
    ExpectEvaluates({"1+2", kOk, 3});
    ExpectEvaluates({"(2", kSyntax, 0});
  }
}

TEST(EvaluateTest, NothingCarriesOverBetweenEvaluations) {
  ExpectEvaluates({"1/0", kMath, 0});
  ExpectEvaluates({"4", kOk, 4});
  ExpectEvaluates({Nested(17, "(", "5"), kOk, 5});
  ExpectEvaluates({"(5", kSyntax, 0});
  ExpectEvaluates({"5", kOk, 5});
}

TEST(FieldValueTest, BlanksRemovedThenZeroUnlessOk) {
  const struct {
    std::string text;
    double value;
  } cases[] = {
      {"", 0},           {"    ", 0},         {" 1 + 2 ", 3},    {"1 000", 1000},
      {"S I N ( 3 0 )", static_cast<double>(std::sin(30 / 57.2957795131L))},
      {"SIN 30", 0},     {"1\t+2", 0},        {"5E", 0},         {"1/0+2", 0},
      {"1 \t+2", 0},     {"1\t +2", 0},       {" \t1", 0},       {"-400 / -2", 200},
      {"-(3+4)^2", 0},   {"(5", 0},           {"400*0.8", 320},  {" - 2", -2},
      {std::string(200, ' ') + "7", 7},       // blanks go before the cut
      {[] {  // 100 characters, then one the cut drops
         std::string s;
         for (int i = 0; i < 49; ++i) s += " 1 +";
         s += " 10";
         for (int i = 0; i < 150; ++i) s += " \xE2\x82\xAC";
         return s + "+1";
       }(),
       59},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(FieldValue(c.text), c.value);
  }
}

TEST(FieldValueTest, StripBlanksRemovesOnlySpaces) {
  EXPECT_EQ(StripBlanks(" a\tb  c\n "), "a\tbc\n");
  EXPECT_EQ(StripBlanks("   "), "");
}

}  // namespace
}  // namespace mcparser
