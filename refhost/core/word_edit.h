// Putting one word (letter and value) on an NC line, as the automation's
// add member does.
#ifndef REFHOST_CORE_WORD_EDIT_H_
#define REFHOST_CORE_WORD_EDIT_H_

#include <string>
#include <string_view>

#include "refhost/core/block_reader.h"

namespace refhost {

// True for the letters that add() may write: every address letter of a word
// that carries a value (A-F, H-L, P-Z; either case), not G and M (codes that
// a line may hold several of), N (the block number) or O (program number).
bool IsWordAddress(char letter);

// The value as the word writes it: rounded to 4 decimals, no trailing zeros,
// no trailing point, never "-0" (200 -> "200", 12.5 -> "12.5",
// 0.12345 -> "0.1235", -0.00001 -> "0"). Requires a finite value.
std::string FormatWordValue(double value);

// `line` with the word letter+value on it: a word of that letter takes the
// value in place, its letter as written, whatever its value was ("F#101"
// becomes "F200"); without one the word goes after the line's last word or
// parameter setting with one blank before it, so a trailing comment stays
// after the words. On a line without either it goes first (after the line
// number), before any comment. It never lands inside a word, an
// expression, a parameter name or a comment. Requires IsWordAddress and a
// line that reads without error and is not a "%", "/" or O-word line.
std::string SetWord(std::string_view line, char letter, double value);
// The same for a line already read into `parsed`.
std::string SetWord(std::string_view line, const ParsedBlock& parsed, char letter, double value);

}  // namespace refhost

#endif  // REFHOST_CORE_WORD_EDIT_H_
