// The built-in functions of the evaluator, angles in degrees.
#ifndef MCPARSER_BUILTINS_H_
#define MCPARSER_BUILTINS_H_

#include <string_view>

namespace mcparser {

// Degrees per radian, held at extended precision (deliberately this decimal,
// not 180/pi).
inline constexpr long double kDegreesPerRadian = 57.2957795131L;

// Applies the built-in function called `name` to x, computing at extended
// precision. Returns false, leaving `result` alone, when x fails the
// function's guard or no function has that name. Throws the division-by-zero
// fault for COTAN of a zero tangent and the overflow fault for a result
// beyond the double range.
bool ApplyFunction(std::string_view name, double x, double& result);

}  // namespace mcparser

#endif  // MCPARSER_BUILTINS_H_
