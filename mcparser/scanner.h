// The expression scanner: cuts tokens on demand from the front of the
// evaluator's input buffer.
#ifndef MCPARSER_SCANNER_H_
#define MCPARSER_SCANNER_H_

#include <array>
#include <cstddef>
#include <string_view>

#include "mcparser/token.h"

namespace mcparser {

// The built-in function names in the order NextToken tries them; none is a
// prefix of a later one. Upper case, compared case-sensitively.
inline constexpr std::array<std::string_view, 13> kFunctionNames = {
    "ABS", "ATAN", "TAN", "COTAN", "COS", "EXP", "LN",
    "ROUND", "SIN", "SQRT", "SQR", "TRUNC", "FIX"};

// Longest number text; longer runs go on as the next token.
inline constexpr std::size_t kMaxNumberText = 80;
// Most digits an exponent takes.
inline constexpr std::size_t kMaxExponentDigits = 3;

// Removes one token from the front of the input buffer and returns its code.
// Leading blanks go first; an empty buffer gives EndOfInput. A leading "."
// gets a "0" put in front (a full buffer loses its last character). For a
// Number, stores its value in the current value, or sets the math error flag
// when the text has an "E" without digits; a value beyond the double range
// throws the overflow fault. For a FunctionName, stores the name. A letter
// that begins no name gives BadChar and consumes nothing; any other unknown
// character gives BadChar and is consumed.
Token NextToken();

// True when the input buffer begins with `name` (at most 5 characters); then
// the name becomes the current value and leaves the buffer. On false nothing
// changes.
bool MatchName(std::string_view name);

}  // namespace mcparser

#endif  // MCPARSER_SCANNER_H_
