// The grammar: productions with their computations, the goto table and the
// reduction step.
#ifndef MCPARSER_GRAMMAR_H_
#define MCPARSER_GRAMMAR_H_

#include <cstdint>

namespace mcparser {

enum class NonTerminal : std::uint8_t { Expression, Term, Factor, Signed, Operand, Primary };

// Returned by GotoState for a pair the grammar never produces.
inline constexpr std::uint8_t kNoState = 0xFF;

// The state to enter after reducing by `production` when `state` is on top
// of the stack; kNoState for an unknown production or pair.
std::uint8_t GotoState(std::uint16_t production, std::uint8_t state);

// Performs one production on the module's evaluator state: pops its right
// side, computes the left side's value into the current entry (on a failed
// computation sets the math error flag and leaves the current value as it
// was), then pushes the current entry with the goto state. An unknown
// production or goto pair sets the syntax error flag.
// Throws the overflow, division-by-zero or invalid-operation fault of an
// unguarded computation.
void Reduce(std::uint16_t production);

}  // namespace mcparser

#endif  // MCPARSER_GRAMMAR_H_
