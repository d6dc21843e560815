// Storing an extended-precision result as a double, with the faults that
// storing can raise.
#ifndef MCPARSER_EXTENDED_H_
#define MCPARSER_EXTENDED_H_

#include <cmath>

#include "mcparser/fpfault.h"

namespace mcparser {

static_assert(sizeof(long double) > sizeof(double),
              "computations need an extended long double");

// Smallest magnitude that rounds to infinity as a double (DBL_MAX plus half
// an ulp; the tie rounds away from the odd DBL_MAX).
inline constexpr long double kDoubleOverflowBound = 0x1.fffffffffffff8p+1023L;

[[noreturn]] inline void RaiseOverflow() { throw FloatingPointError(kOverflowText); }
[[noreturn]] inline void RaiseDivideByZero() { throw FloatingPointError(kDivideByZeroText); }
[[noreturn]] inline void RaiseInvalidOperation() {
  throw FloatingPointError(kInvalidOperationText);
}

// Returns r rounded to a double. Throws the overflow fault when r lies beyond
// the double range and the invalid-operation fault when r is NaN. Values too
// small for a double become a denormal or 0 silently.
inline double StoreDouble(long double r) {
  if (std::isnan(r)) RaiseInvalidOperation();
  if (std::fabs(r) >= kDoubleOverflowBound) RaiseOverflow();
  return static_cast<double>(r);
}

}  // namespace mcparser

#endif  // MCPARSER_EXTENDED_H_
