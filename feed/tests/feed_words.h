// The feed words a pass wrote: for each line that differs between a program
// and its adjusted text, the line number and the F word the line now
// carries. Shared by the pass's tests on Linux and under Wine, which compare
// against one list of expected words.
#ifndef FEED_TESTS_FEED_WORDS_H_
#define FEED_TESTS_FEED_WORDS_H_

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace feed::testing {

inline std::vector<std::string> SplitProgramLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "<line> <F word>" per changed line ("<line> -" when the line lost its F
// word, "<line> +" for lines past the original's end).
inline std::vector<std::string> FeedWords(const std::string& original, const std::string& adjusted) {
  const std::vector<std::string> before = SplitProgramLines(original);
  const std::vector<std::string> after = SplitProgramLines(adjusted);
  std::vector<std::string> words;
  for (std::size_t i = 0; i < after.size(); ++i) {
    if (i < before.size() && after[i] == before[i]) continue;
    std::string word = i < before.size() ? "-" : "+";
    const std::string& line = after[i];
    for (std::size_t at = 0; at < line.size(); ++at) {
      if (line[at] != 'F' && line[at] != 'f') continue;
      std::size_t end = at + 1;
      while (end < line.size() && (std::isdigit(static_cast<unsigned char>(line[end])) || line[end] == '.' ||
                                   line[end] == '-' || line[end] == '+')) {
        ++end;
      }
      word = line.substr(at, end - at);
    }
    words.push_back(std::to_string(i + 1) + " " + word);
  }
  return words;
}

}  // namespace feed::testing

#endif  // FEED_TESTS_FEED_WORDS_H_
