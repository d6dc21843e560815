// The field expression evaluator.
//
// Texts are UTF-8; each Unicode character takes one place of the 100-character
// input buffer, and a character outside ASCII (or a byte of invalid UTF-8) is
// a bad character. The evaluator keeps one state for the process and is not
// re-entrant: call it from one thread at a time.
#ifndef MCPARSER_MCPARSER_H_
#define MCPARSER_MCPARSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "mcparser/fpfault.h"

namespace mcparser {

// Status words of Evaluate.
inline constexpr std::uint16_t kStatusSyntaxError = 0;
inline constexpr std::uint16_t kStatusOk = 1;
inline constexpr std::uint16_t kStatusMathError = 5;

// Evaluates the expression in `text`. Sets `status` to 1 and returns the
// value, or sets 0 (syntax error) or 5 (computation error) and returns 0.
// Throws FloatingPointError on overflow or division by zero of a computation
// that has no guard; the next call starts clean. Never returns NaN or inf.
double Evaluate(std::string_view text, std::uint16_t& status);

// The text without any blank (U+0020); tabs and other white space stay.
std::string StripBlanks(std::string_view text);

// The value of an input field: blanks removed, then Evaluate; 0 whenever the
// status is not 1. Throws as Evaluate does.
double FieldValue(std::string_view text);

}  // namespace mcparser

#endif  // MCPARSER_MCPARSER_H_
