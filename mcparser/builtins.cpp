#include "mcparser/builtins.h"

#include <cmath>
#include <cstdint>

#include "mcparser/extended.h"

namespace mcparser {

namespace {

constexpr long double D = kDegreesPerRadian;

// Each body computes at extended precision; false means the guard failed.
using Body = bool (*)(long double x, long double& r);

// Integer part toward zero, as a whole number (never -0). Requires |x| <= 1e9.
long double Truncated(long double x) {
  return static_cast<long double>(static_cast<std::int64_t>(x));
}

// Nearest integer, halves to the even neighbour. Requires |x| <= 1e9.
long double Rounded(long double x) {
  const long double f = std::floor(x);
  const long double diff = x - f;  // exact for |x| <= 1e9
  std::int64_t n = static_cast<std::int64_t>(f);
  if (diff > 0.5L || (diff == 0.5L && n % 2 != 0)) ++n;
  return static_cast<long double>(n);
}

bool InRange(long double x, long double lo, long double hi) { return x >= lo && x <= hi; }

struct Function {
  std::string_view name;
  Body body;
};

// Tried in this order; the first exact match decides.
constexpr Function kFunctions[] = {
    {"ABS", [](long double x, long double& r) { r = std::fabs(x); return true; }},
    {"ATAN", [](long double x, long double& r) { r = std::atan(x) * D; return true; }},
    {"TAN", [](long double x, long double& r) { r = std::tan(x / D); return true; }},
    {"COTAN",
     [](long double x, long double& r) {
       const long double t = std::tan(x / D);
       if (t == 0) RaiseDivideByZero();
       r = 1 / t;
       return true;
     }},
    {"COS", [](long double x, long double& r) { r = std::cos(x / D); return true; }},
    {"EXP",
     [](long double x, long double& r) {
       if (!InRange(x, -88, 88)) return false;
       r = std::exp(x);
       return true;
     }},
    {"LN",
     [](long double x, long double& r) {
       if (!(x > 0)) return false;
       r = std::log(x);
       return true;
     }},
    {"ROUND",
     [](long double x, long double& r) {
       if (!InRange(x, -1e9L, 1e9L)) return false;
       r = Rounded(x);
       return true;
     }},
    {"SIN", [](long double x, long double& r) { r = std::sin(x / D); return true; }},
    {"SQRT",
     [](long double x, long double& r) {
       if (!(x >= 0)) return false;
       r = std::sqrt(x);
       return true;
     }},
    {"SQR",
     [](long double x, long double& r) {
       if (!InRange(x, -1e18L, 1e18L)) return false;
       r = x * x;
       return true;
     }},
    {"TRUNC",
     [](long double x, long double& r) {
       if (!InRange(x, -1e9L, 1e9L)) return false;
       r = Truncated(x);
       return true;
     }},
    {"FIX",
     [](long double x, long double& r) {
       if (!InRange(x, -1e9L, 1e9L)) return false;
       r = Truncated(x);
       return true;
     }},
};

}  // namespace

bool ApplyFunction(std::string_view name, double x, double& result) {
  for (const Function& f : kFunctions) {
    if (f.name != name) continue;
    long double r = 0;
    if (!f.body(x, r)) return false;
    result = StoreDouble(r);
    return true;
  }
  return false;
}

}  // namespace mcparser
