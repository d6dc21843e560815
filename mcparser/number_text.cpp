#include "mcparser/number_text.h"

#include <charconv>
#include <cstdint>
#include <system_error>

#include "mcparser/extended.h"

namespace mcparser {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal order of magnitude of a text that from_chars found out of range:
// positive for huge values, negative for tiny ones.
long DecimalMagnitude(std::string_view text) {
  long int_digits = 0;      // significant digits before the "."
  long leading_zeros = 0;   // zeros after the "." before the first nonzero
  bool seen_point = false, seen_nonzero = false;
  std::size_t i = 0;
  for (; i < text.size() && (IsDigit(text[i]) || text[i] == '.'); ++i) {
    const char c = text[i];
    if (c == '.') {
      seen_point = true;
    } else if (!seen_point) {
      if (c != '0' || seen_nonzero) ++int_digits;
      if (c != '0') seen_nonzero = true;
    } else if (!seen_nonzero) {
      if (c == '0') ++leading_zeros; else seen_nonzero = true;
    }
  }
  long exponent = 0;
  if (i < text.size() && text[i] == 'E') {
    ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    for (; i < text.size() && IsDigit(text[i]); ++i) exponent = exponent * 10 + (text[i] - '0');
    if (negative) exponent = -exponent;
  }
  return (int_digits > 0 ? int_digits : -leading_zeros) + exponent;
}

// Exact powers of ten as doubles.
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                             1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Any text the quick path leaves: correctly rounded by from_chars.
[[gnu::noinline]] bool ConvertLong(std::string_view text, double& value) {
  const std::size_t e = text.find('E');
  if (e != std::string_view::npos && !IsDigit(text.back())) return false;
  double d = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d,
                                         std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    if (DecimalMagnitude(text) > 0) RaiseOverflow();
    d = 0;
  } else if (ec != std::errc() || end != text.data() + text.size()) {
    return false;  // not a text the scanner builds
  }
  value = d;
  return true;
}

}  // namespace

// Quick and exact for at most 15 significant-or-not digits and a decimal
// exponent (after moving the point) within 22: the digits as a whole number
// and the power of ten are both exact doubles, so one multiplication or
// division rounds correctly. Everything else goes to from_chars.
bool ConvertNumberText(std::string_view text, double& value) {
  const char* p = text.data();
  const std::size_t size = text.size();
  std::uint64_t mantissa = 0;
  int digits = 0;
  int fraction_digits = 0;
  bool seen_point = false;
  std::size_t i = 0;
  for (; i < size; ++i) {
    const char c = p[i];
    if (IsDigit(c)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      fraction_digits += seen_point;
    } else if (c == '.' && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (digits > 15) return ConvertLong(text, value);
  int exponent = 0;
  if (i < size) {
    if (p[i] != 'E') return ConvertLong(text, value);
    std::size_t j = i + 1;
    bool negative = false;
    if (j < size && (p[j] == '+' || p[j] == '-')) negative = p[j++] == '-';
    if (j == size) return false;  // an "E" without digits
    for (; j < size; ++j) {
      if (!IsDigit(p[j]) || exponent > 100) return ConvertLong(text, value);
      exponent = exponent * 10 + (p[j] - '0');
    }
    if (negative) exponent = -exponent;
  }
  exponent -= fraction_digits;
  if (exponent < -22 || exponent > 22) return ConvertLong(text, value);
  const double m = static_cast<double>(mantissa);
  value = exponent < 0 ? m / kPow10[-exponent] : m * kPow10[exponent];
  return true;
}

}  // namespace mcparser
