#include "mcparser/evaluator_state.h"

namespace mcparser {

EvaluatorState g_evaluator;

void ResetEvaluator() {
  EvaluatorState& s = g_evaluator;
  s.input.LoadChars({});
  s.current_token = Token::EndOfInput;
  s.current = StackEntry{};
  s.top = 0;
  s.SyntaxError = false;
  s.MathError = false;
}

}  // namespace mcparser
