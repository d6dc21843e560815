#include "refhost/editor/find.h"

#include <algorithm>

namespace refhost {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool Contains(std::string_view text, std::string_view needle) {
  return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                     [](char a, char b) { return Lower(a) == Lower(b); }) != text.end();
}

}  // namespace

std::int64_t FindLine(const Document& document, std::int64_t from, std::string_view needle,
                      bool forward) {
  const std::int64_t count = document.LineCount();
  if (needle.empty() || count < 1) return 0;
  from = std::clamp<std::int64_t>(from, 1, count);
  for (std::int64_t k = 1; k <= count; ++k) {
    const std::int64_t offset = forward ? k : -k;
    const std::int64_t line = ((from - 1 + offset) % count + count) % count + 1;
    if (Contains(document.Line(line), needle)) return line;
  }
  return 0;
}

}  // namespace refhost
