// The words of one NC line: a letter and a number ("X53.", "y-1.01", "F 200"),
// read the same way by the interpreter and by the editing of words.
//
// Rules: letters in either case (reported upper case); blanks may stand
// between a letter and its number; a number is an optional sign, digits and
// at most one point, with at least one digit ("53.", ".1", "-0.5"); comments
// in parentheses are skipped (an unclosed one runs to the end of the line),
// ";" ends the words of the line; any other character ("%", "/", "#", ...) is
// skipped. A letter without a number is reported with has_value false.
// Numbers are read without the C locale: "." is always the decimal mark.
#ifndef REFHOST_CORE_WORDS_H_
#define REFHOST_CORE_WORDS_H_

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace refhost {

struct Word {
  char letter = 0;        // 'A'..'Z'
  bool has_value = false;
  double value = 0.0;
  std::size_t begin = 0;  // the letter
  std::size_t end = 0;    // one past the number (past the letter without one)
};

namespace words_detail {

inline constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads a number at text[i]; on success sets value and returns the index one
// past it, else returns i unchanged.
inline std::size_t ReadNumber(std::string_view text, std::size_t i, double& value) {
  const std::size_t n = text.size();
  std::size_t p = i;
  bool negative = false;
  if (p < n && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  const std::size_t digits_begin = p;
  std::uint64_t mantissa = 0;
  int significant = 0;  // digits in the mantissa, leading zeros not counted
  int fraction = 0;     // digits after the point
  bool point = false, any = false;
  for (; p < n; ++p) {
    char c = text[p];
    if (IsDigit(c)) {
      any = true;
      if (significant > 0 || c != '0') ++significant;
      if (significant <= 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
      if (point) ++fraction;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (!any) return i;
  if (significant <= 15 && fraction <= 22) {
    // Exact integer over an exact power of ten: correctly rounded.
    value = static_cast<double>(mantissa) / kPow10[fraction];
  } else {
    // Long numbers: the library's correctly rounded reading.
    double parsed = 0.0;
    std::string_view digits = text.substr(digits_begin, p - digits_begin);
    auto result = std::from_chars(digits.data(), digits.data() + digits.size(), parsed,
                                  std::chars_format::fixed);
    if (result.ec != std::errc()) parsed = 0.0;
    value = parsed;
  }
  if (negative) value = -value;
  return p;
}

}  // namespace words_detail

// Calls visit(const Word&) for every word of `line`, left to right.
template <class Visit>
void ForEachWord(std::string_view line, Visit&& visit) {
  using words_detail::IsBlank;
  const std::size_t n = line.size();
  std::size_t i = 0;
  while (i < n) {
    char c = line[i];
    if (c == '(') {
      std::size_t close = line.find(')', i + 1);
      if (close == std::string_view::npos) return;
      i = close + 1;
      continue;
    }
    if (c == ';') return;
    char upper = static_cast<char>(c & ~0x20);
    if (upper < 'A' || upper > 'Z') {
      ++i;
      continue;
    }
    Word word;
    word.letter = upper;
    word.begin = i;
    std::size_t p = i + 1;
    while (p < n && IsBlank(line[p])) ++p;
    std::size_t after = words_detail::ReadNumber(line, p, word.value);
    if (after != p) {
      word.has_value = true;
      word.end = after;
    } else {
      word.end = i + 1;
    }
    i = word.end;
    visit(static_cast<const Word&>(word));
  }
}

}  // namespace refhost

#endif  // REFHOST_CORE_WORDS_H_
