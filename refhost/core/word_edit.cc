#include "refhost/core/word_edit.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "refhost/core/words.h"

namespace refhost {

bool IsWordAddress(char letter) {
  char upper = static_cast<char>(letter & ~0x20);
  if (upper < 'A' || upper > 'Z') return false;
  return upper != 'G' && upper != 'M' && upper != 'N' && upper != 'O';
}

std::string FormatWordValue(double value) {
  char text[64];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
  if (result.ec != std::errc()) return "0";
  std::string out(text, result.ptr);
  if (out.find('.') != std::string::npos) {
    while (out.back() == '0') out.pop_back();
    if (out.back() == '.') out.pop_back();
  }
  if (out == "-0") out = "0";
  return out;
}

std::string SetWord(std::string_view line, char letter, double value) {
  const char upper = static_cast<char>(letter & ~0x20);
  struct Span {
    std::size_t begin, end;
  };
  std::vector<Span> same;
  std::size_t last_end = 0;
  char last_letter = 0;
  bool any = false;
  ForEachWord(line, [&](const Word& word) {
    any = true;
    last_end = word.end;
    last_letter = line[word.begin];
    if (word.letter == upper) same.push_back({word.begin, word.end});
  });

  const std::string number = FormatWordValue(value);
  std::string out;
  out.reserve(line.size() + number.size() + 2);
  if (!same.empty()) {
    // Replace the first in place (its letter as written), drop the others.
    std::size_t at = 0;
    for (std::size_t i = 0; i < same.size(); ++i) {
      std::size_t begin = same[i].begin;
      if (i > 0) {
        while (begin > at && (line[begin - 1] == ' ' || line[begin - 1] == '\t')) --begin;
      }
      out.append(line.substr(at, begin - at));
      if (i == 0) {
        out += line[same[i].begin];
        out += number;
      }
      at = same[i].end;
    }
    out.append(line.substr(at));
    return out;
  }
  if (any) {
    // After the last word, in the case of its letter.
    bool lower = last_letter >= 'a' && last_letter <= 'z';
    out.append(line.substr(0, last_end));
    out += ' ';
    out += lower ? static_cast<char>(upper | 0x20) : upper;
    out += number;
    out.append(line.substr(last_end));
    return out;
  }
  std::size_t at = 0;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at < line.size() && line[at] == '/') ++at;
  out.append(line.substr(0, at));
  out += upper;
  out += number;
  std::string_view rest = line.substr(at);
  std::size_t content = rest.find_first_not_of(" \t");
  if (content == std::string_view::npos) return out;  // a blank line keeps its indent only
  if (content == 0) out += ' ';
  out.append(rest);
  return out;
}

}  // namespace refhost
