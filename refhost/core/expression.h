// Values of NC words as compiled code: a plain number, or a program of
// parameter reads, operators and functions in postfix order, evaluated when
// the line runs.
//
// Operators, highest first, each level left to right:
//   **   |  * / MOD  |  + -  |  EQ NE GT GE LT LE  |  AND OR XOR
// EQ and NE compare within 1e-6; logical operators take 0 as false and give
// 1 or 0. Functions: ABS ACOS ASIN COS EXP FIX FUP ROUND LN SIN SQRT TAN,
// ATAN[y]/[x] and EXISTS[#<name>]; angles in degrees. FIX rounds down, FUP
// up, ROUND to nearest (halves away from zero).
//
// Contracts: Evaluate throws GcodeError for a division by zero, the square
// root or logarithm of a number out of range, ACOS/ASIN outside -1..1, a
// parameter index outside 1..5602, a named parameter never set, and any
// result that is not a finite number.
#ifndef REFHOST_CORE_EXPRESSION_H_
#define REFHOST_CORE_EXPRESSION_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace refhost {

struct Instr {
  enum Op : std::uint8_t {
    kConst,     // push value
    kNumbered,  // pop an index, push that numbered parameter
    kNamed,     // push the named parameter names[arg, arg+len)
    kExists,    // push 1 when the named parameter names[arg, arg+len) is set, else 0
    kNeg,
    // binary, pop b then a, push a op b
    kPow, kMul, kDiv, kMod, kAdd, kSub,
    kEq, kNe, kGt, kGe, kLt, kLe,
    kAnd, kOr, kXor,
    // functions of one argument, kAtan of two (y, x)
    kAbs, kAcos, kAsin, kAtan, kCos, kExp, kFix, kFup, kRound, kLn, kSin, kSqrt, kTan,
  };
  Op op = kConst;
  std::uint32_t arg = 0;
  std::uint32_t len = 0;
  double value = 0.0;
};

// A compiled value: code[begin, end) of its block, or `constant` when the
// range is empty.
struct Value {
  double constant = 0.0;
  std::uint32_t begin = 0, end = 0;
  bool IsConstant() const { return begin == end; }
};

// Where parameter reads go.
class ParameterSource {
 public:
  virtual ~ParameterSource() = default;
  virtual double Numbered(int index) const = 0;            // 1..5602
  virtual bool Named(std::string_view name, double& value) const = 0;  // false: never set
};

// `names`: the block's pool of parameter names.
double Evaluate(const Value& value, const std::vector<Instr>& code, std::string_view names,
                const ParameterSource& params);

// The parameter index an evaluated index stands for (within 0.0001 of a
// whole number in 1..5602), else GcodeError.
int ParameterIndex(double value);

}  // namespace refhost

#endif  // REFHOST_CORE_EXPRESSION_H_
