#include "mcparser/number_text.h"

#include <charconv>
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

}  // namespace

bool ConvertNumberText(std::string_view text, double& value) {
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
