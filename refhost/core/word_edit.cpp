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

namespace {

// Appends `rest` after a freshly written number, with a blank between when
// rest would otherwise read as more of that number.
void AppendAfterNumber(std::string& out, std::string_view rest) {
  if (!rest.empty() && (words_detail::IsDigit(rest[0]) || rest[0] == '.')) out += ' ';
  out.append(rest);
}

}  // namespace

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
    // Every word of the letter takes the value, its letter as written.
    std::size_t at = 0;
    for (const Span& span : same) {
      if (at == 0) {
        out.append(line.substr(0, span.begin));
      } else {
        AppendAfterNumber(out, line.substr(at, span.begin - at));
      }
      out += line[span.begin];
      out += number;
      at = span.end;
    }
    AppendAfterNumber(out, line.substr(at));
    return out;
  }
  if (any) {
    // After the last word, in the case of its letter.
    bool lower = last_letter >= 'a' && last_letter <= 'z';
    out.append(line.substr(0, last_end));
    out += ' ';
    out += lower ? static_cast<char>(upper | 0x20) : upper;
    out += number;
    AppendAfterNumber(out, line.substr(last_end));
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
