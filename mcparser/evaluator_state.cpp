#include "mcparser/evaluator_state.h"

namespace mcparser {

EvaluatorState g_evaluator;

void ResetEvaluator() {
  EvaluatorState& s = g_evaluator;
  s.input.LoadChars({});
  s.current_token = Token::EndOfInput;
  s.current = StackEntry{};
  s.top = 0;
  s.syntax_error = false;
  s.math_error = false;
}

}  // namespace mcparser
