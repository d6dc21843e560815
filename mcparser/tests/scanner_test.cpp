// Tokens and values the scanner cuts from the input buffer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mcparser/evaluator_state.h"
#include "mcparser/fpfault.h"
#include "mcparser/scanner.h"

namespace mcparser {
namespace {

// A token as the tests write it: "N:<value>", "F:<name>", "+", "BAD", ...
std::string Describe(Token t) {
  const EntryValue& v = g_evaluator.current.value;
  switch (t) {
    case Token::Plus: return "+";
    case Token::Minus: return "-";
    case Token::Times: return "*";
    case Token::Divide: return "/";
    case Token::Power: return "^";
    case Token::Colon: return ":";
    case Token::LeftParen: return "(";
    case Token::RightParen: return ")";
    case Token::Number: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "N:%.17g", v.Number());
      return buf;
    }
    case Token::FunctionName: return "F:" + std::string(v.Name());
    case Token::EndOfInput: return "END";
    case Token::BadChar: return "BAD";
  }
  return "?";
}

// Scans `text` up to the end of input or the first bad character.
std::vector<std::string> Scan(const std::string& text) {
  ResetEvaluator();
  g_evaluator.input.Load(text);
  std::vector<std::string> out;
  for (int i = 0; i < 200; ++i) {
    const Token t = NextToken();
    out.push_back(Describe(t));
    if (t == Token::EndOfInput || t == Token::BadChar) break;
  }
  return out;
}

using Tokens = std::vector<std::string>;

TEST(ScannerTest, TokensAndValues) {
  const struct {
    std::string text;
    Tokens tokens;
  } cases[] = {
      {"", {"END"}},
      {"    ", {"END"}},
      {" 1 + 2 ", {"N:1", "+", "N:2", "END"}},
      {"+-*/^:()", {"+", "-", "*", "/", "^", ":", "(", ")", "END"}},
      {".5", {"N:0.5", "END"}},
      {".", {"N:0", "END"}},
      {"5.", {"N:5", "END"}},
      {"5.E2", {"N:500", "END"}},
      {"1.2.3", {"N:1.2", "N:0.29999999999999999", "END"}},
      {"..", {"N:0", "N:0", "END"}},
      {"2E3", {"N:2000", "END"}},
      {"2E+3", {"N:2000", "END"}},
      {"5E-1", {"N:0.5", "END"}},
      {"2E1234", {"N:2e+123", "N:4", "END"}},
      {"1E0001", {"N:1", "N:1", "END"}},
      {"007", {"N:7", "END"}},
      {"2e3", {"N:2", "BAD"}},
      {"E5", {"BAD"}},
      {"SQRT(", {"F:SQRT", "(", "END"}},
      {"SQR(", {"F:SQR", "(", "END"}},
      {"SINX", {"F:SIN", "BAD"}},
      {"SIN30", {"F:SIN", "N:30", "END"}},
      {"COTANCOS", {"F:COTAN", "F:COS", "END"}},
      {"sin(", {"BAD"}},
      {"X", {"BAD"}},
      {",", {"BAD"}},
      {"\t1", {"BAD"}},
      {std::string("\0", 1), {"BAD"}},
      {"\xC3\xA9", {"BAD"}},
      {"1E-400", {"N:0", "END"}},
      {"3E-320", {"N:2.999966601548049e-320", "END"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: " + c.text);
    EXPECT_EQ(Scan(c.text), c.tokens);
  }
}

TEST(ScannerTest, NumberTextHoldsAtMost80Characters) {
  const std::string digits80(80, '7');
  const std::string first = Scan(digits80)[0];
  EXPECT_EQ(Scan(digits80 + "1234567890"), (Tokens{first, "N:1234567890", "END"}));
  // The cut can leave an "E" without digits: a rejected text.
  ResetEvaluator();
  g_evaluator.input.Load(std::string(79, '1') + "E5");
  EXPECT_EQ(NextToken(), Token::Number);
  EXPECT_TRUE(g_evaluator.MathError);
  EXPECT_EQ(NextToken(), Token::Number);  // the "5"
}

TEST(ScannerTest, EveryFunctionNameMatchesItself) {
  for (std::string_view name : kFunctionNames) {
    SCOPED_TRACE(std::string(name));
    EXPECT_EQ(Scan(std::string(name) + "("), (Tokens{"F:" + std::string(name), "(", "END"}));
  }
}

TEST(ScannerTest, LetterThatBeginsNoNameConsumesNothing) {
  ResetEvaluator();
  g_evaluator.input.Load("Q1");
  EXPECT_EQ(NextToken(), Token::BadChar);
  EXPECT_EQ(g_evaluator.input.View(), "Q1");
  EXPECT_FALSE(MatchName("QX"));
  EXPECT_EQ(g_evaluator.input.View(), "Q1");
}

TEST(ScannerTest, ExponentWithoutDigitsIsRejected) {
  for (const char* text : {"5E", "5E-", "5E+", "5.E"}) {
    SCOPED_TRACE(text);
    ResetEvaluator();
    g_evaluator.input.Load(text);
    EXPECT_EQ(NextToken(), Token::Number);
    EXPECT_TRUE(g_evaluator.MathError);
    EXPECT_EQ(NextToken(), Token::EndOfInput);
  }
  ResetEvaluator();
  g_evaluator.input.Load("5E1");
  NextToken();
  EXPECT_FALSE(g_evaluator.MathError);
}

TEST(ScannerTest, LeadingPointPushesLastCharacterOutOfFullBuffer) {
  // 100 characters: ".", 97 fives, "+", "9". The inserted "0" drops the "9".
  const std::string full = "." + std::string(97, '5') + "+9";
  ASSERT_EQ(full.size(), 100u);
  const Tokens tokens = Scan(full);
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[2], "+");
  EXPECT_EQ(tokens[3], "END");
  // One character shorter, nothing is lost.
  EXPECT_EQ(Scan("." + std::string(96, '5') + "+9").rbegin()[1], "N:9");
}

TEST(ScannerTest, NumberBeyondDoubleRangeRaisesOverflow) {
  for (const char* text : {"1E400", "1.8E308", "99999E304"}) {
    SCOPED_TRACE(text);
    ResetEvaluator();
    g_evaluator.input.Load(text);
    try {
      NextToken();
      ADD_FAILURE() << "no fault";
    } catch (const FloatingPointError& e) {
      EXPECT_STREQ(e.what(), kOverflowText);
    }
  }
  EXPECT_EQ(Scan("1.7976931348623157E308")[0], "N:1.7976931348623157e+308");
}

}  // namespace
}  // namespace mcparser
