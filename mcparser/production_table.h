// The grammar's data: the productions with their computations and the goto
// table, visible to the inlined reduction step.
#ifndef MCPARSER_PRODUCTION_TABLE_H_
#define MCPARSER_PRODUCTION_TABLE_H_

#include <array>
#include <cstdint>
#include <initializer_list>

#include "mcparser/entry_value.h"
#include "mcparser/stack_entry.h"

namespace mcparser {

enum class NonTerminal : std::uint8_t { Expression, Term, Factor, Signed, Operand, Primary };

// Returned by GotoState for a pair the grammar never produces.
inline constexpr std::uint8_t kNoState = 0xFF;

namespace reductions {

// Computes the left side's value from the popped right side (first symbol
// first) into `out`; false when the computation fails. May throw a fault.
using Compute = bool (*)(const StackEntry* rhs, EntryValue& out);

bool Add(const StackEntry* rhs, EntryValue& out);
bool Subtract(const StackEntry* rhs, EntryValue& out);
bool Multiply(const StackEntry* rhs, EntryValue& out);
bool Divide(const StackEntry* rhs, EntryValue& out);
bool Raise(const StackEntry* rhs, EntryValue& out);
bool Negate(const StackEntry* rhs, EntryValue& out);
bool Parenthesised(const StackEntry* rhs, EntryValue& out);
bool Call(const StackEntry* rhs, EntryValue& out);

}  // namespace reductions

struct Production {
  NonTerminal lhs = NonTerminal::Expression;
  std::uint8_t length = 0;                  // 0: no such production
  reductions::Compute compute = nullptr;    // null: keeps the one symbol's value
};

// Indexed by production number; 0, 11 and 13 are not used.
inline constexpr std::array<Production, 17> kProductions = [] {
  using NT = NonTerminal;
  namespace r = reductions;
  return std::array<Production, 17>{{
      {},
      {NT::Expression, 3, r::Add},            // 1  Expression "+" Term
      {NT::Expression, 3, r::Subtract},       // 2  Expression "-" Term
      {NT::Expression, 1, nullptr},           // 3  Term
      {NT::Term, 3, r::Multiply},             // 4  Term "*" Factor
      {NT::Term, 3, r::Divide},               // 5  Term "/" Factor
      {NT::Term, 1, nullptr},                 // 6  Factor
      {NT::Factor, 3, r::Raise},              // 7  Signed "^" Factor
      {NT::Factor, 1, nullptr},               // 8  Signed
      {NT::Signed, 2, r::Negate},             // 9  "-" Operand
      {NT::Signed, 1, nullptr},               // 10 Operand
      {},
      {NT::Operand, 1, nullptr},              // 12 Primary
      {},
      {NT::Primary, 3, r::Parenthesised},     // 14 "(" Expression ")"
      {NT::Primary, 1, nullptr},              // 15 Number
      {NT::Primary, 4, r::Call},              // 16 FunctionName "(" Expression ")"
  }};
}();

inline constexpr int kGotoStates = 30;
// Rows padded to a power of two; the padding holds kNoState.
using GotoTable = std::array<std::array<std::uint8_t, 32>, 6>;

// The goto table: for each left side, the state entered from each state
// left on top after popping the right side.
inline constexpr GotoTable kGoto = [] {
  using NT = NonTerminal;
  struct Row {
    NT lhs;
    std::initializer_list<std::uint8_t> on_top;
    std::uint8_t next;
  };
  const std::initializer_list<Row> rows = {
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
  };
  GotoTable t{};
  for (auto& row : t) row.fill(kNoState);
  for (const Row& r : rows) {
    for (std::uint8_t s : r.on_top) t[static_cast<int>(r.lhs)][s] = r.next;
  }
  return t;
}();

}  // namespace mcparser

#endif  // MCPARSER_PRODUCTION_TABLE_H_
