#include "mcparser/scanner.h"

#include <array>

#include "mcparser/evaluator_state.h"
#include "mcparser/number_text.h"

namespace mcparser {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Token of a one-character token; everything else is BadChar.
constexpr std::array<Token, 256> MakeCharTokens() {
  std::array<Token, 256> t{};
  t.fill(Token::BadChar);
  t['+'] = Token::Plus;
  t['-'] = Token::Minus;
  t['*'] = Token::Times;
  t['/'] = Token::Divide;
  t['^'] = Token::Power;
  t[':'] = Token::Colon;
  t['('] = Token::LeftParen;
  t[')'] = Token::RightParen;
  return t;
}
constexpr std::array<Token, 256> kCharTokens = MakeCharTokens();

// The input buffer begins with a digit.
void ReadNumber() {
  InputBuffer& in = g_evaluator.input;
  const std::size_t size = in.Size();
  std::size_t n = 0;
  bool seen_point = false;
  for (; n < size; ++n) {
    const char c = in.At(n);
    if (c == '.' && !seen_point) {
      seen_point = true;
    } else if (!IsDigit(c)) {
      break;
    }
  }
  if (n < size && in.At(n) == 'E') {
    ++n;
    if (n < size && (in.At(n) == '+' || in.At(n) == '-')) ++n;
    for (std::size_t digits = 0; digits < kMaxExponentDigits && n < size && IsDigit(in.At(n));
         ++digits) {
      ++n;
    }
  }
  if (n > kMaxNumberText) n = kMaxNumberText;

  char text[kMaxNumberText];
  for (std::size_t i = 0; i < n; ++i) text[i] = in.At(i);
  in.DropFront(n);

  double value = 0;
  if (!ConvertNumberText({text, n}, value)) {
    g_evaluator.MathError = true;
    value = 0;
  }
  g_evaluator.current.value.SetNumber(value);
}

}  // namespace

bool MatchName(std::string_view name) {
  InputBuffer& in = g_evaluator.input;
  if (in.View().substr(0, name.size()) != name) return false;
  g_evaluator.current.value.SetName(name);
  in.DropFront(name.size());
  return true;
}

Token NextToken() {
  InputBuffer& in = g_evaluator.input;
  while (!in.Empty() && in.Front() == ' ') in.DropFront(1);
  if (in.Empty()) return Token::EndOfInput;
  if (in.Front() == '.') in.PushFront('0');

  const char c = in.Front();
  if (IsDigit(c)) {
    ReadNumber();
    return Token::Number;
  }
  if (IsLetter(c)) {
    for (std::string_view name : kFunctionNames) {
      if (MatchName(name)) return Token::FunctionName;
    }
    return Token::BadChar;
  }
  in.DropFront(1);
  return kCharTokens[static_cast<unsigned char>(c)];
}

}  // namespace mcparser
