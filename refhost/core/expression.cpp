#include "refhost/core/expression.h"

#include <cmath>
#include <string>

#include "refhost/core/gcode_error.h"
#include "refhost/core/parameters.h"

namespace refhost {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegree = kPi / 180.0;
constexpr double kEqualWithin = 1e-6;

std::string Shown(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string NameOf(const Instr& in, std::string_view names) {
  return "#<" + std::string(names.substr(in.arg, in.len)) + ">";
}

}  // namespace

int ParameterIndex(double value) {
  double rounded = std::nearbyint(value);
  if (!(std::fabs(value - rounded) < 1e-4) || rounded < 1 || rounded > Parameters::kMaxNumbered) {
    throw GcodeError("parameter number " + Shown(value) + " is outside 1 to " +
                     std::to_string(Parameters::kMaxNumbered));
  }
  return static_cast<int>(rounded);
}

double Evaluate(const Value& value, const std::vector<Instr>& code, std::string_view names,
                const ParameterSource& params) {
  if (value.IsConstant()) return value.constant;
  // Expressions nest only as deep as a line is long.
  double stack[128];
  int top = 0;
  auto push = [&](double v) {
    if (top == 128) throw GcodeError("expression nests too deeply");
    stack[top++] = v;
  };
  for (std::uint32_t i = value.begin; i < value.end; ++i) {
    const Instr& in = code[i];
    double r = 0.0;
    switch (in.op) {
      case Instr::kConst: push(in.value); continue;
      case Instr::kNumbered: stack[top - 1] = params.Numbered(ParameterIndex(stack[top - 1])); continue;
      case Instr::kNamed: {
        double v = 0.0;
        if (!params.Named(names.substr(in.arg, in.len), v)) {
          throw GcodeError("named parameter " + NameOf(in, names) + " is read before it is set");
        }
        push(v);
        continue;
      }
      case Instr::kExists: {
        double v = 0.0;
        push(params.Named(names.substr(in.arg, in.len), v) ? 1.0 : 0.0);
        continue;
      }
      case Instr::kNeg: stack[top - 1] = -stack[top - 1]; continue;
      default: break;
    }
    if (in.op >= Instr::kPow && in.op <= Instr::kXor) {
      const double b = stack[--top];
      const double a = stack[top - 1];
      switch (in.op) {
        case Instr::kPow:
          if (a < 0 && b != std::floor(b)) {
            throw GcodeError("a negative number (" + Shown(a) + ") to a power that is not whole");
          }
          if (a == 0 && b < 0) throw GcodeError("zero to a negative power");
          r = std::pow(a, b);
          break;
        case Instr::kMul: r = a * b; break;
        case Instr::kDiv:
          if (b == 0) throw GcodeError("division by zero");
          r = a / b;
          break;
        case Instr::kMod:
          if (b == 0) throw GcodeError("MOD by zero");
          r = std::fmod(a, b);
          if (r < 0) r += std::fabs(b);  // the controller's MOD is never negative
          break;
        case Instr::kAdd: r = a + b; break;
        case Instr::kSub: r = a - b; break;
        case Instr::kEq: r = std::fabs(a - b) < kEqualWithin; break;
        case Instr::kNe: r = !(std::fabs(a - b) < kEqualWithin); break;
        case Instr::kGt: r = a > b; break;
        case Instr::kGe: r = a >= b; break;
        case Instr::kLt: r = a < b; break;
        case Instr::kLe: r = a <= b; break;
        case Instr::kAnd: r = a != 0 && b != 0; break;
        case Instr::kOr: r = a != 0 || b != 0; break;
        case Instr::kXor: r = (a != 0) != (b != 0); break;
        default: break;
      }
      stack[top - 1] = r;
    } else if (in.op == Instr::kAtan) {
      const double x = stack[--top];
      const double y = stack[top - 1];
      stack[top - 1] = std::atan2(y, x) / kDegree;
    } else {
      const double a = stack[top - 1];
      switch (in.op) {
        case Instr::kAbs: r = std::fabs(a); break;
        case Instr::kAcos:
          if (a < -1 || a > 1) throw GcodeError("ACOS of " + Shown(a) + ", outside -1 to 1");
          r = std::acos(a) / kDegree;
          break;
        case Instr::kAsin:
          if (a < -1 || a > 1) throw GcodeError("ASIN of " + Shown(a) + ", outside -1 to 1");
          r = std::asin(a) / kDegree;
          break;
        case Instr::kCos: r = std::cos(a * kDegree); break;
        case Instr::kExp: r = std::exp(a); break;
        case Instr::kFix: r = std::floor(a); break;
        case Instr::kFup: r = std::ceil(a); break;
        case Instr::kRound: r = std::round(a); break;
        case Instr::kLn:
          if (!(a > 0)) throw GcodeError("LN of " + Shown(a) + ", which is not above 0");
          r = std::log(a);
          break;
        case Instr::kSin: r = std::sin(a * kDegree); break;
        case Instr::kSqrt:
          if (a < 0) throw GcodeError("square root of a negative number (" + Shown(a) + ")");
          r = std::sqrt(a);
          break;
        case Instr::kTan: r = std::tan(a * kDegree); break;
        default: break;
      }
      stack[top - 1] = r;
    }
    if (!std::isfinite(stack[top - 1])) throw GcodeError("a value too large to compute");
  }
  if (!std::isfinite(stack[0])) throw GcodeError("a value too large to compute");
  return stack[0];
}

}  // namespace refhost
