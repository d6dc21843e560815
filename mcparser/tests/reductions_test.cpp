// The parse stack, the goto table and the built-in functions with their
// guards.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "mcparser/builtins.h"
#include "mcparser/evaluator_state.h"
#include "mcparser/extended.h"
#include "mcparser/grammar.h"
#include "mcparser/parse_stack.h"

namespace mcparser {
namespace {

TEST(ParseStackTest, HoldsTwentyEntriesAndRefusesTheNext) {
  ResetEvaluator();
  for (int i = 0; i < 20; ++i) Push(StackEntry{static_cast<std::uint8_t>(i), EntryValue(i)});
  EXPECT_FALSE(g_evaluator.SyntaxError);
  Push(StackEntry{29, EntryValue(99.0)});
  EXPECT_TRUE(g_evaluator.SyntaxError);
  EXPECT_EQ(StackSize(), 20u);
  EXPECT_EQ(Top().state, 19);
  EXPECT_EQ(Pop().value.Number(), 19.0);
}

TEST(ParseStackTest, PopOnEmptyStackIsASyntaxErrorNotACrash) {
  ResetEvaluator();
  Pop();
  EXPECT_TRUE(g_evaluator.SyntaxError);
  ResetEvaluator();
  Push(StackEntry{});
  Reduce(16);  // needs four entries
  EXPECT_TRUE(g_evaluator.SyntaxError);
}

TEST(GotoTest, UnknownProductionsAndPairs) {
  const struct {
    std::uint16_t production;
    std::uint8_t state;
    std::uint8_t next;
  } cases[] = {
      {1, 0, 1},   {14, 5, 8},  {12, 5, 17},  {7, 16, 25}, {3, 20, 28}, {6, 12, 21},
      {0, 0, kNoState},  {11, 0, kNoState}, {13, 0, kNoState}, {17, 0, kNoState},
      {3, 5, kNoState},  {15, 1, kNoState}, {1, 200, kNoState},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.production) + " on " + std::to_string(c.state));
    EXPECT_EQ(GotoState(c.production, c.state), c.next);
  }
  ResetEvaluator();
  Push(StackEntry{});
  Reduce(11);
  EXPECT_TRUE(g_evaluator.SyntaxError);
}

TEST(ReduceTest, FailedComputationLeavesCurrentValueAndGoesOn) {
  ResetEvaluator();
  Push(StackEntry{0, EntryValue(0.0)});
  Push(StackEntry{2, EntryValue(1.0)});   // Term
  Push(StackEntry{15, EntryValue()});     // "/"
  Push(StackEntry{24, EntryValue(0.0)});  // Factor
  g_evaluator.current.value.SetNumber(7);
  Reduce(5);
  EXPECT_TRUE(g_evaluator.MathError);
  EXPECT_FALSE(g_evaluator.SyntaxError);
  EXPECT_EQ(StackSize(), 2u);
  EXPECT_EQ(Top().state, 2);
  EXPECT_EQ(Top().value.Number(), 7.0);
}

constexpr double kFail = std::numeric_limits<double>::quiet_NaN();

TEST(BuiltinTest, ValuesAndGuards) {
  const double above_1e18 = std::nextafter(1e18, 2e18);
  const struct {
    const char* name;
    double x;
    double expected;  // kFail: the guard refuses x
  } cases[] = {
      {"ABS", -2.5, 2.5},         {"ABS", 3, 3},
      {"EXP", 0, 1},              {"EXP", 88, static_cast<double>(std::exp(88.0L))},
      {"EXP", -88, static_cast<double>(std::exp(-88.0L))},
      {"EXP", 88.5, kFail},       {"EXP", std::nextafter(88.0, 89.0), kFail},
      {"EXP", -88.5, kFail},
      {"LN", 1, 0},               {"LN", 0, kFail},           {"LN", -1, kFail},
      {"LN", 4.9e-324, static_cast<double>(std::log(static_cast<long double>(4.9e-324)))},
      {"ROUND", 2.5, 2},          {"ROUND", 3.5, 4},          {"ROUND", -2.5, -2},
      {"ROUND", 0.5, 0},          {"ROUND", 1.5, 2},          {"ROUND", 2.4999999, 2},
      {"ROUND", -2.6, -3},        {"ROUND", 1e9, 1e9},        {"ROUND", -1e9, -1e9},
      {"ROUND", 1e9 + 1, kFail},  {"ROUND", -1e9 - 1, kFail},
      {"TRUNC", -2.7, -2},        {"TRUNC", 2.7, 2},          {"TRUNC", 1e9, 1e9},
      {"TRUNC", 1e9 + 1, kFail},  {"TRUNC", -1e9 - 0.5, kFail},
      {"FIX", -2.7, -2},          {"FIX", -1e9, -1e9},        {"FIX", 1e9 + 1, kFail},
      {"SQRT", 0, 0},             {"SQRT", 2.25, 1.5},        {"SQRT", -1, kFail},
      {"SQRT", -4.9e-324, kFail},
      {"SQR", -3, 9},             {"SQR", 1e18, 1e36},        {"SQR", -1e18, 1e36},
      {"SQR", 2e18, kFail},       {"SQR", above_1e18, kFail},
      {"COS", 0, 1},              {"SIN", 0, 0},              {"TAN", 0, 0},
      {"ATAN", 0, 0},
      {"FOO", 1, kFail},          {"", 1, kFail},             {"SQ", 1, kFail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "(" + std::to_string(c.x) + ")");
    double r = -12345;
    const bool ok = ApplyFunction(c.name, c.x, r);
    if (std::isnan(c.expected)) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(r, -12345);
    } else {
      EXPECT_TRUE(ok);
      EXPECT_EQ(r, c.expected);
    }
  }
}

TEST(BuiltinTest, WholeNumberResultsAreNeverNegativeZero) {
  for (const char* name : {"ROUND", "TRUNC", "FIX"}) {
    double r = 1;
    ASSERT_TRUE(ApplyFunction(name, -0.4, r));
    EXPECT_FALSE(std::signbit(r)) << name;
  }
}

TEST(BuiltinTest, AnglesUseTheDecimalDegreeFactorAtExtendedPrecision) {
  const long double d = 57.2957795131L;
  const struct {
    const char* name;
    double x;
    double expected;
    double near;  // the textbook value, to 12 significant digits
  } cases[] = {
      {"SIN", 30, static_cast<double>(std::sin(30 / d)), 0.5},
      {"COS", 60, static_cast<double>(std::cos(60 / d)), 0.5},
      {"TAN", 45, static_cast<double>(std::tan(45 / d)), 1},
      {"COTAN", 45, static_cast<double>(1 / std::tan(45 / d)), 1},
      {"ATAN", 1, static_cast<double>(std::atan(1.0L) * d), 45},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    double r = 0;
    ASSERT_TRUE(ApplyFunction(c.name, c.x, r));
    EXPECT_EQ(r, c.expected);
    EXPECT_NE(r, c.near);
    EXPECT_NEAR(r, c.near, 5e-12 * c.near);
  }
}

TEST(BuiltinTest, FaultsOfUnguardedFunctions) {
  const struct {
    const char* name;
    double x;
    const char* text;
  } cases[] = {
      {"COTAN", 0, kDivideByZeroText},
      {"COTAN", -0.0, kDivideByZeroText},
      {"COTAN", 1e-320, kOverflowText},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "(" + std::to_string(c.x) + ")");
    double r = 0;
    try {
      ApplyFunction(c.name, c.x, r);
      ADD_FAILURE() << "no fault";
    } catch (const FloatingPointError& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
  }
}

TEST(StoreDoubleTest, FaultsAtTheDoubleRangeAndForNaN) {
  const long double max = std::numeric_limits<double>::max();
  EXPECT_EQ(StoreDouble(max), std::numeric_limits<double>::max());
  // Just below half an ulp above DBL_MAX still rounds to DBL_MAX.
  EXPECT_EQ(StoreDouble(std::nextafter(kDoubleOverflowBound, 0.0L)),
            std::numeric_limits<double>::max());
  EXPECT_THROW(StoreDouble(kDoubleOverflowBound), FloatingPointError);
  EXPECT_THROW(StoreDouble(-kDoubleOverflowBound), FloatingPointError);
  EXPECT_THROW(StoreDouble(std::numeric_limits<long double>::infinity()), FloatingPointError);
  try {
    StoreDouble(std::numeric_limits<long double>::quiet_NaN());
    ADD_FAILURE() << "no fault";
  } catch (const FloatingPointError& e) {
    EXPECT_STREQ(e.what(), kInvalidOperationText);
  }
  EXPECT_EQ(StoreDouble(1e-4000L), 0.0);
  EXPECT_GT(StoreDouble(1e-320L), 0.0);
}

}  // namespace
}  // namespace mcparser
