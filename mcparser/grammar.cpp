#include "mcparser/grammar.h"

#include <cmath>

#include "mcparser/builtins.h"
#include "mcparser/extended.h"

namespace mcparser {
namespace reductions {

namespace {

bool Store(long double r, EntryValue& out) {
  out.SetNumber(StoreDouble(r));
  return true;
}
long double L(const StackEntry* rhs) { return rhs[0].value.Number(); }
long double R(const StackEntry* rhs) { return rhs[2].value.Number(); }

}  // namespace

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

}  // namespace reductions
}  // namespace mcparser
