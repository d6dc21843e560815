// The parse stack of the module's evaluator state: at most 20 entries.
#ifndef MCPARSER_PARSE_STACK_H_
#define MCPARSER_PARSE_STACK_H_

#include <cstddef>

#include "mcparser/evaluator_state.h"
#include "mcparser/stack_entry.h"

namespace mcparser {

// Empties the stack.
inline void ClearStack() { g_evaluator.top = 0; }

// Adds `entry` on top; when kStackCapacity entries are held, sets the syntax
// error flag instead and stores nothing.
inline void Push(const StackEntry& entry) {
  EvaluatorState& s = g_evaluator;
  if (s.top >= kStackCapacity) {
    s.SyntaxError = true;
    return;
  }
  s.stack[s.top++] = entry;
}

// Removes and returns the entry on top. On an empty stack (never reached by
// the grammar) sets the syntax error flag and returns an entry of state 0.
inline StackEntry Pop() {
  EvaluatorState& s = g_evaluator;
  if (s.top == 0) {
    s.SyntaxError = true;
    return StackEntry{};
  }
  return s.stack[--s.top];
}

// The entry on top; requires a non-empty stack.
inline const StackEntry& Top() { return g_evaluator.stack[g_evaluator.top - 1]; }

// The number of entries held.
inline std::size_t StackSize() { return g_evaluator.top; }

}  // namespace mcparser

#endif  // MCPARSER_PARSE_STACK_H_
