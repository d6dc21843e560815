#include "refhost/core/word_edit.h"

#include <charconv>
#include <cmath>

#include "refhost/core/block_reader.h"

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
  if (!rest.empty() && ((rest[0] >= '0' && rest[0] <= '9') || rest[0] == '.')) out += ' ';
  out.append(rest);
}

}  // namespace

std::string SetWord(std::string_view line, char letter, double value) {
  thread_local ParsedBlock parsed;
  ReadBlock(line, parsed);
  return SetWord(line, parsed, letter, value);
}

std::string SetWord(std::string_view line, const ParsedBlock& parsed, char letter, double value) {
  const char upper = static_cast<char>(letter & ~0x20);
  const std::string number = FormatWordValue(value);
  std::string out;
  out.reserve(line.size() + number.size() + 2);
  if (const ParsedWord* same = parsed.Find(upper)) {
    // The word takes the value in place, its letter as written, whatever
    // its value was (a number, a parameter, an expression).
    out.append(line.substr(0, same->begin));
    out += line[same->begin];
    out += number;
    AppendAfterNumber(out, line.substr(same->end));
    return out;
  }
  if (parsed.words_end > 0) {
    // After the last word or setting, in the case of the last word's letter.
    bool lower = !parsed.words.empty() && line[parsed.words.back().begin] >= 'a' &&
                 line[parsed.words.back().begin] <= 'z';
    out.append(line.substr(0, parsed.words_end));
    out += ' ';
    out += lower ? static_cast<char>(upper | 0x20) : upper;
    out += number;
    AppendAfterNumber(out, line.substr(parsed.words_end));
    return out;
  }
  // No words: first, after the line number, before any comment.
  std::size_t at = parsed.content_begin;
  out.append(line.substr(0, at));
  if (parsed.has_n) out += ' ';
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
