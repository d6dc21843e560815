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

// Exact and quick for a text without exponent of at most 15 digits: the
// digits as a whole number and a power of ten are both exact doubles, so one
// division rounds correctly. False when the text does not qualify.
bool ConvertShort(std::string_view text, double& value) {
  if (text.size() > 16) return false;
  std::uint64_t mantissa = 0;
  int digits = 0, fraction_digits = -1;
  for (char c : text) {
    if (c == '.') {
      fraction_digits = 0;
    } else if (IsDigit(c)) {
      mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      ++digits;
      if (fraction_digits >= 0) ++fraction_digits;
    } else {
      return false;
    }
  }
  if (digits > 15) return false;
  value = static_cast<double>(mantissa);
  if (fraction_digits > 0) value /= kPow10[fraction_digits];
  return true;
}

}  // namespace

bool ConvertNumberText(std::string_view text, double& value) {
  if (ConvertShort(text, value)) return true;
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

}  // namespace mcparser
