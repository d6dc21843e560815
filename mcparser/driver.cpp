#include "mcparser/driver.h"

#include "mcparser/action_table.h"
#include "mcparser/evaluator_state.h"
#include "mcparser/grammar.h"
#include "mcparser/mcparser.h"
#include "mcparser/parse_stack.h"
#include "mcparser/scanner.h"

namespace mcparser {

double Evaluate(std::string_view text, std::uint16_t& status) {
  status = kStatusSyntaxError;  // what a caller sees if a fault escapes
  EvaluatorState& s = g_evaluator;
  ResetEvaluator();
  s.input.Load(text);
  Push(StackEntry{0, EntryValue(0.0)});
  s.current_token = NextToken();

  // Each step reads the action for the state on top and the current token.
  while (!s.SyntaxError) {
    const Action a = ActionFor(Top().state, s.current_token);
    if (a.kind == Action::Reduce) {
      Reduce(a.arg);
    } else if (a.kind == Action::Shift) {
      Shift(a.arg);
    } else {
      if (a.kind == Action::Error) s.SyntaxError = true;
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
  if (text.find(' ') == std::string_view::npos) return Evaluate(text, status);
  // Blanks removed into a fixed buffer: a character of the input buffer takes
  // at most 4 bytes, so only the first 4 x 100 bytes kept can matter.
  char stripped[4 * InputBuffer::kCapacity];
  std::size_t n = 0;
  for (char c : text) {
    if (c == ' ') continue;
    stripped[n++] = c;
    if (n == sizeof stripped) break;
  }
  return Evaluate({stripped, n}, status);
}

}  // namespace mcparser
