#include "mcparser/grammar.h"

#include <array>
#include <cmath>
#include <initializer_list>

#include "mcparser/builtins.h"
#include "mcparser/evaluator_state.h"
#include "mcparser/extended.h"
#include "mcparser/parse_stack.h"

namespace mcparser {

namespace {

using NT = NonTerminal;

// Computes the left side's value from the popped right side (first symbol
// first) into `out`; false when the computation fails.
using Compute = bool (*)(const StackEntry* rhs, EntryValue& out);

bool Store(long double r, EntryValue& out) {
  out.SetNumber(StoreDouble(r));
  return true;
}
long double L(const StackEntry* rhs) { return rhs[0].value.Number(); }
long double R(const StackEntry* rhs) { return rhs[2].value.Number(); }

bool Add(const StackEntry* rhs, EntryValue& out) { return Store(L(rhs) + R(rhs), out); }
bool Subtract(const StackEntry* rhs, EntryValue& out) { return Store(L(rhs) - R(rhs), out); }
bool Multiply(const StackEntry* rhs, EntryValue& out) { return Store(L(rhs) * R(rhs), out); }
bool Divide(const StackEntry* rhs, EntryValue& out) {
  if (R(rhs) == 0) return false;
  return Store(L(rhs) / R(rhs), out);
}
// Always e^(ln(base) * exponent).
bool Raise(const StackEntry* rhs, EntryValue& out) {
  const long double base = L(rhs);
  if (!(base > 0)) return false;
  const long double y = std::log(base) * R(rhs);
  if (!(y >= -88 && y <= 88)) return false;
  return Store(std::exp(y), out);
}
bool Negate(const StackEntry* rhs, EntryValue& out) {
  return Store(-static_cast<long double>(rhs[1].value.Number()), out);
}
bool Parenthesised(const StackEntry* rhs, EntryValue& out) {
  out = rhs[1].value;
  return true;
}
bool Call(const StackEntry* rhs, EntryValue& out) {
  double result = 0;
  if (!ApplyFunction(rhs[0].value.Name(), rhs[2].value.Number(), result)) return false;
  out.SetNumber(result);
  return true;
}

struct Production {
  NT lhs = NT::Expression;
  std::uint8_t length = 0;  // 0: no such production
  Compute compute = nullptr;  // null: copies the one symbol's value
};

// Indexed by production number; 0, 11 and 13 are not used.
constexpr std::array<Production, 17> kProductions = {{
    {},
    {NT::Expression, 3, Add},            // 1  Expression "+" Term
    {NT::Expression, 3, Subtract},       // 2  Expression "-" Term
    {NT::Expression, 1, nullptr},           // 3  Term
    {NT::Term, 3, Multiply},             // 4  Term "*" Factor
    {NT::Term, 3, Divide},               // 5  Term "/" Factor
    {NT::Term, 1, nullptr},                 // 6  Factor
    {NT::Factor, 3, Raise},              // 7  Signed "^" Factor
    {NT::Factor, 1, nullptr},               // 8  Signed
    {NT::Signed, 2, Negate},             // 9  "-" Operand
    {NT::Signed, 1, nullptr},               // 10 Operand
    {},
    {NT::Operand, 1, nullptr},              // 12 Primary
    {},
    {NT::Primary, 3, Parenthesised},     // 14 "(" Expression ")"
    {NT::Primary, 1, nullptr},              // 15 Number
    {NT::Primary, 4, Call},              // 16 FunctionName "(" Expression ")"
}};

struct GotoRow {
  NT lhs;
  std::initializer_list<std::uint8_t> on_top;
  std::uint8_t next;
};

constexpr int kStates = 30;
using GotoTable = std::array<std::array<std::uint8_t, kStates>, 6>;

constexpr GotoTable MakeGotoTable(std::initializer_list<GotoRow> rows) {
  GotoTable t{};
  for (auto& row : t) row.fill(kNoState);
  for (const GotoRow& r : rows) {
    for (std::uint8_t s : r.on_top) t[static_cast<int>(r.lhs)][s] = r.next;
  }
  return t;
}

constexpr GotoTable kGoto = MakeGotoTable({
    {NT::Expression, {0}, 1},
    {NT::Expression, {9}, 19},
    {NT::Expression, {20}, 28},
    {NT::Term, {0, 9, 20}, 2},
    {NT::Term, {12}, 21},
    {NT::Term, {13}, 22},
    {NT::Factor, {0, 9, 12, 13, 20}, 3},
    {NT::Factor, {14}, 23},
    {NT::Factor, {15}, 24},
    {NT::Factor, {16}, 25},
    {NT::Signed, {0, 9, 12, 13, 14, 15, 16, 20}, 4},
    {NT::Operand, {0, 9, 12, 13, 14, 15, 16, 20}, 6},
    {NT::Operand, {5}, 17},
    {NT::Primary, {0, 5, 9, 12, 13, 14, 15, 16, 20}, 8},
});

}  // namespace

std::uint8_t GotoState(std::uint16_t production, std::uint8_t state) {
  if (production >= kProductions.size() || kProductions[production].length == 0 ||
      state >= kStates) {
    return kNoState;
  }
  return kGoto[static_cast<int>(kProductions[production].lhs)][state];
}

void Reduce(std::uint16_t production) {
  EvaluatorState& s = g_evaluator;
  if (production >= kProductions.size() || kProductions[production].length == 0) {
    s.SyntaxError = true;
    return;
  }
  const Production& p = kProductions[production];
  if (s.top <= p.length) {  // would pop the first entry
    s.SyntaxError = true;
    return;
  }
  // Pop the right side; it stays readable in place until the next push.
  s.top -= p.length;
  const StackEntry* rhs = &s.stack[s.top];
  if (p.compute == nullptr) {
    s.current.value = rhs[0].value;
  } else if (!p.compute(rhs, s.current.value)) {
    s.MathError = true;
  }
  const std::uint8_t next = kGoto[static_cast<int>(p.lhs)][Top().state];
  if (next == kNoState) {
    s.SyntaxError = true;
    return;
  }
  s.current.state = next;
  Push(s.current);
}

}  // namespace mcparser
