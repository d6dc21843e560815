// Token codes of the expression scanner.
#ifndef MCPARSER_TOKEN_H_
#define MCPARSER_TOKEN_H_

#include <cstdint>

namespace mcparser {

// The scanner's token codes; code 9 is not used.
enum class Token : std::uint16_t {
  Plus = 0,
  Minus = 1,
  Times = 2,
  Divide = 3,
  Power = 4,
  Colon = 5,
  LeftParen = 6,
  RightParen = 7,
  Number = 8,
  FunctionName = 10,
  EndOfInput = 11,
  BadChar = 12,
};

// One more than the highest token code: the width of the action table.
inline constexpr int kTokenCount = 13;

}  // namespace mcparser

#endif  // MCPARSER_TOKEN_H_
