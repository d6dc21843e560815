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

// The input buffer begins with a digit. Reads the number text in place,
// without copying it out of the buffer.
void ReadNumber() {
  InputBuffer& in = g_evaluator.input;
  const std::string_view rest = in.View();
  const char* p = rest.data();
  const std::size_t size = rest.size();
  std::size_t n = 0;
  bool seen_point = false;
  for (; n < size; ++n) {
    const char c = p[n];
    if (IsDigit(c)) continue;
    if (c != '.' || seen_point) break;
    seen_point = true;
  }
  if (n < size && p[n] == 'E') {
    ++n;
    if (n < size && (p[n] == '+' || p[n] == '-')) ++n;
    for (std::size_t digits = 0; digits < kMaxExponentDigits && n < size && IsDigit(p[n]);
         ++digits) {
      ++n;
    }
  }
  if (n > kMaxNumberText) n = kMaxNumberText;
  in.DropFront(n);  // the characters stay in place until the next load

  double value = 0;
  if (!ConvertNumberText({p, n}, value)) {
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
      if (name[0] == c && MatchName(name)) return Token::FunctionName;
    }
    return Token::BadChar;
  }
  in.DropFront(1);
  return kCharTokens[static_cast<unsigned char>(c)];
}

}  // namespace mcparser
