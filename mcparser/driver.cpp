#include "mcparser/driver.h"

#include "mcparser/action_table.h"
#include "mcparser/evaluator_state.h"
#include "mcparser/grammar.h"
#include "mcparser/mcparser.h"
#include "mcparser/parse_stack.h"
#include "mcparser/scanner.h"

namespace mcparser {

void Shift(std::uint8_t state) {
  EvaluatorState& s = g_evaluator;
  s.current.state = state;
  Push(s.current);
  s.current_token = NextToken();
}

double Evaluate(std::string_view text, std::uint16_t& status) {
  status = kStatusSyntaxError;  // what a caller sees if a fault escapes
  EvaluatorState& s = g_evaluator;
  ResetEvaluator();
  s.input.Load(text);
  Push(StackEntry{0, EntryValue(0.0)});
  s.current_token = NextToken();

  bool accepted = false;
  while (!accepted && !s.SyntaxError) {
    const Action a = ActionFor(Top().state, s.current_token);
    switch (a.kind) {
      case Action::Shift:
        Shift(a.arg);
        break;
      case Action::Reduce:
        Reduce(a.arg);
        break;
      case Action::Accept:
        accepted = true;
        break;
      case Action::Error:
        s.SyntaxError = true;
        break;
    }
  }

  if (s.SyntaxError) {
    status = kStatusSyntaxError;
    return 0;
  }
  if (s.MathError) {
    status = kStatusMathError;
    return 0;
  }
  status = kStatusOk;
  return Top().value.Number();
}

std::string StripBlanks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

double FieldValue(std::string_view text) {
  std::uint16_t status = 0;
  if (text.find(' ') != std::string_view::npos) return Evaluate(StripBlanks(text), status);
  return Evaluate(text, status);
}

}  // namespace mcparser
