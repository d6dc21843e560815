// The evaluator's one module-wide state.
#ifndef MCPARSER_EVALUATOR_STATE_H_
#define MCPARSER_EVALUATOR_STATE_H_

#include <cstddef>
#include <cstdint>

#include "mcparser/input_buffer.h"
#include "mcparser/stack_entry.h"
#include "mcparser/token.h"

namespace mcparser {

struct EvaluatorState {
  InputBuffer input;
  Token current_token = Token::EndOfInput;
  // The current entry; its value is the scanner's current value, where a
  // number or a name waits for the next shift and reductions leave results.
  StackEntry current;
  StackEntry stack[kStackCapacity];
  std::size_t top = 0;  // entries held
  bool SyntaxError = false;
  bool MathError = false;  // a rejected number text or a failed computation
};

// Shared by the scanner, the stack, the reductions and the driver. Not
// thread-safe: one evaluation at a time.
extern EvaluatorState g_evaluator;

// Clears the flags, the input buffer, the stack and the current entry.
void ResetEvaluator();

}  // namespace mcparser

#endif  // MCPARSER_EVALUATOR_STATE_H_
