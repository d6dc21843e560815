#include "mcparser/parse_stack.h"

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

void ClearStack() { g_evaluator.top = 0; }

void Push(const StackEntry& entry) {
  EvaluatorState& s = g_evaluator;
  if (s.top >= kStackCapacity) {
    s.syntax_error = true;
    return;
  }
  s.stack[s.top++] = entry;
}

StackEntry Pop() {
  EvaluatorState& s = g_evaluator;
  if (s.top == 0) {
    s.syntax_error = true;
    return StackEntry{};
  }
  return s.stack[--s.top];
}

const StackEntry& Top() { return g_evaluator.stack[g_evaluator.top - 1]; }

std::size_t StackSize() { return g_evaluator.top; }

}  // namespace mcparser
