// Any text as a program: every line interprets without harm, and putting an
// F word on it changes the feed and nothing else the line says.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "refhost/core/automation.h"
#include "refhost/core/word_edit.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(const refhost::Block& a, const refhost::Block& b) {
  for (int index = 1; index <= 23; ++index) {
    if (index == 19) continue;
    double x = refhost::BlockValue(a, index), y = refhost::BlockValue(b, index);
    if (!(x == y || (x != x && y != y))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 4096) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  refhost::Document doc;
  doc.Load(text);
  const double value = static_cast<double>(size % 977) / 7.0;
  const std::string formatted = refhost::FormatWordValue(value);
  double expected = 0;
  std::from_chars(formatted.data(), formatted.data() + formatted.size(), expected);

  refhost::Automation automation(doc);
  if (refhost::NeedsControlFlow(doc.LineCount(), [&doc](std::int64_t line) { return doc.Line(line); })) {
    // A whole run: every line answers or fails cleanly (a program that loops
    // forever fails at the bound, kept small here).
    refhost::ProgramRun::Limits limits;
    limits.lines = 20000;
    limits.moves = 20000;
    automation.SetRunLimits(limits);
    for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
      automation.step();
      try {
        (void)automation.CurrentBlock(19);
      } catch (const refhost::AutomationError&) {
      }
    }
    return 0;
  }
  refhost::ModalState state;
  for (std::int64_t line = 1; line <= doc.LineCount(); ++line) {
    refhost::ModalState before = state;
    automation.step();
    refhost::Block original;
    original.line = line;
    refhost::InterpretLine(doc.Line(line), state, original);
    Check(Same(original, automation.LastBlock()));
    if (original.error) break;
    if (original.skipped) continue;
    std::string edited;
    try {
      edited = refhost::Automation::WordAdded(doc.Line(line), line, 'F', value);
    } catch (const refhost::AutomationError&) {
      continue;  // a line that takes no word
    }
    refhost::ModalState after = before;
    refhost::Block changed;
    changed.line = line;
    refhost::InterpretLine(edited, after, changed);
    // The word changes the feed and nothing else the line says.
    Check(!changed.error);
    Check(changed.feed == expected);
    Check(Same(original, changed));
  }
  // The text reloads to the same lines.
  refhost::Document again;
  again.Load(doc.Text());
  Check(again.LineCount() == doc.LineCount());
  return 0;
}
