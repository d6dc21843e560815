#include "batch/fields.h"

#include <cstdint>
#include <cstdio>

#include "mcparser/mcparser.h"
#include "refhost/core/automation.h"
#include "refhost/core/word_edit.h"

namespace batch {
namespace {

std::string Shown(double value) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

// Why `text` does not give the pass a value above 0 (a feed: one its F
// word can carry), or "" when it does.
std::string Fault(const std::string& text, bool feed) {
  std::uint16_t status = 0;
  double value = 0;
  try {
    // Evaluate sees what FieldValue sees: the text without blanks.
    value = mcparser::Evaluate(mcparser::StripBlanks(text), status);
  } catch (const mcparser::FloatingPointError& e) {
    return e.what();
  }
  if (status == mcparser::kStatusSyntaxError) return "not an expression";
  if (status == mcparser::kStatusMathError) {
    return "cannot be computed (a division by zero, or a number or argument out of range)";
  }
  if (!(value > 0)) return "evaluates to " + Shown(value) + "; it must be above 0";
  if (feed && value >= refhost::Automation::kMaxValue) {
    return "evaluates to " + Shown(value) + ", too large for an F word (below " +
           Shown(refhost::Automation::kMaxValue) + ")";
  }
  if (feed && refhost::FormatWordValue(value) == "0") {
    return "evaluates to " + Shown(value) + ", which an F word would write as F0";
  }
  return "";
}

}  // namespace

std::string AsTyped(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c & ~0x20);
  }
  return text;
}

bool MakePassInput(const BatchOptions& options, feed::PassInput& input, std::string& error) {
  input.edt1 = AsTyped(options.line_length);
  input.edt3 = AsTyped(options.line_feed);
  input.edt2 = AsTyped(options.arc_radius);
  input.edt4 = AsTyped(options.arc_feed);
  input.chk1 = !options.all_directions;

  // In the pass's order of evaluation. The arc fields may be left out
  // together (arcs stay as they are), but not given as 0.
  const struct {
    const char* option;
    const std::string& text;
    bool needed;
    bool feed;
  } fields[] = {
      {"--line-length", input.edt1, true, false},
      {"--line-feed", input.edt3, true, true},
      {"--arc-radius", input.edt2, options.arcs, false},
      {"--arc-feed", input.edt4, options.arcs, true},
  };
  for (const auto& field : fields) {
    if (!field.needed) continue;
    const std::string why = Fault(field.text, field.feed);
    if (!why.empty()) {
      error = std::string(field.option) + " \"" + field.text + "\": " + why;
      return false;
    }
  }
  return true;
}

std::string SettingsLine(const feed::PassInput& input, bool arcs) {
  const auto length = [](const std::string& text) { return Shown(mcparser::FieldValue(text)); };
  const auto feed = [](const std::string& text) {
    return "F" + refhost::FormatWordValue(mcparser::FieldValue(text));
  };
  std::string line = "lines shorter than " + length(input.edt1) + " get " + feed(input.edt3) +
                     (input.chk1 ? " (near-diagonal only)" : " (all directions)");
  line += arcs ? "; arcs smaller than R" + length(input.edt2) + " get " + feed(input.edt4)
               : "; arcs stay as they are";
  return line;
}

}  // namespace batch
