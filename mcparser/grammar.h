// The grammar's steps: the goto lookup and the reduction. Inline, so that the
// parse driver's loop holds them without a call.
#ifndef MCPARSER_GRAMMAR_H_
#define MCPARSER_GRAMMAR_H_

#include <cstddef>
#include <cstdint>

#include "mcparser/evaluator_state.h"
#include "mcparser/production_table.h"

namespace mcparser {

// The state to enter after reducing by `production` when `state` is on top
// of the stack; kNoState for an unknown production or pair.
inline std::uint8_t GotoState(std::uint16_t production, std::uint8_t state) {
  if (production >= kProductions.size() || kProductions[production].length == 0 ||
      state >= kGotoStates) {
    return kNoState;
  }
  return kGoto[static_cast<int>(kProductions[production].lhs)][state];
}

// Performs one production on the module's evaluator state: pops its right
// side, computes the left side's value into the current entry (on a failed
// computation sets the math error flag and leaves the current value as it
// was), then pushes the current entry with the goto state. An unknown
// production or goto pair, or a stack too short for the right side, sets the
// syntax error flag.
// Throws the overflow, division-by-zero or invalid-operation fault of an
// unguarded computation.
inline void Reduce(std::uint16_t production) {
  EvaluatorState& s = g_evaluator;
  if (production >= kProductions.size()) {
    s.SyntaxError = true;
    return;
  }
  const Production& p = kProductions[production];
  if (p.length == 0 || s.top <= p.length) {  // unknown, or would pop the first entry
    s.SyntaxError = true;
    return;
  }
  // Pop the right side; it stays readable in place until the push below.
  const std::size_t base = s.top - p.length;
  s.top = base;
  const StackEntry* rhs = &s.stack[base];
  if (p.compute == nullptr) {
    s.current.value = rhs[0].value;
  } else if (!p.compute(rhs, s.current.value)) {
    s.MathError = true;
  }
  const std::uint8_t below = s.stack[base - 1].state;
  const std::uint8_t next =
      below < kGotoStates ? kGoto[static_cast<int>(p.lhs)][below] : kNoState;
  if (next == kNoState) {
    s.SyntaxError = true;
    return;
  }
  // Push the current entry (the pop left room), field by field: copying the
  // whole entry just after storing its state byte would stall the load.
  s.current.state = next;
  s.stack[base].state = next;
  s.stack[base].value = s.current.value;
  s.top = base + 1;
}

}  // namespace mcparser

#endif  // MCPARSER_GRAMMAR_H_
