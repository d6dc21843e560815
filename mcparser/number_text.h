// Converting a number text of the scanner to a double.
#ifndef MCPARSER_NUMBER_TEXT_H_
#define MCPARSER_NUMBER_TEXT_H_

#include <string_view>

namespace mcparser {

// `text` is digits with at most one ".", then optionally "E", an optional
// sign and up to three digits (it begins with a digit). Returns false, and
// leaves `value` alone, when an "E" has no digit after it. Otherwise stores
// the nearest double in `value`; a value too small for a double gives 0, and
// one too large throws the overflow fault. Independent of the locale.
bool ConvertNumberText(std::string_view text, double& value);

}  // namespace mcparser

#endif  // MCPARSER_NUMBER_TEXT_H_
