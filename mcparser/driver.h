// The parse driver's shift step, inline for the driver's loop.
#ifndef MCPARSER_DRIVER_H_
#define MCPARSER_DRIVER_H_

#include <cstdint>

#include "mcparser/evaluator_state.h"
#include "mcparser/parse_stack.h"
#include "mcparser/scanner.h"

namespace mcparser {

// Writes `state` into the current entry, pushes it, then reads the next
// token into the current token.
inline void Shift(std::uint8_t state) {
  EvaluatorState& s = g_evaluator;
  s.current.state = state;
  Push(StackEntry{state, s.current.value});  // not a copy of s.current: see Reduce
  s.current_token = NextToken();
}

}  // namespace mcparser

#endif  // MCPARSER_DRIVER_H_
