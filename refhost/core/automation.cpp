#include "refhost/core/automation.h"

#include <cstdio>

#include <algorithm>
#include <cmath>

#include "refhost/core/block_reader.h"
#include "refhost/core/word_edit.h"

namespace refhost {

namespace {

std::string Num(std::int64_t value) { return std::to_string(value); }


}  // namespace

int GuessSystemType(const Document& document, std::int64_t lines) {
  ParsedBlock parsed;
  std::int64_t last = std::min(lines, document.LineCount());
  for (std::int64_t line = 1; line <= last; ++line) {
    ReadBlock(document.Line(line), parsed);
    for (const ParsedWord& word : parsed.words) {
      if (word.letter != 'G' || !word.value.IsConstant()) continue;
      const double g = word.value.constant;
      // G18, diameter mode, threading and constant surface speed are a lathe's.
      if (g == 18 || g == 7 || g == 33 || g == 76 || g == 96) return kSystemTypeLathe;
      if (g == 19) return kSystemTypeMill;
    }
  }
  return kSystemTypeMill;
}

Automation::Automation(Document& document)
    : doc_(document), seen_revision_(document.Revision()), checkpoints_(1) {}

void Automation::SetSystemType(int code) {
  if (code != kSystemTypeLathe && code != kSystemTypeMill) {
    throw AutomationError("SystemType: unknown system type " + std::to_string(code) + " (use " +
                          std::to_string(kSystemTypeMill) + " for a mill, " +
                          std::to_string(kSystemTypeLathe) + " for a lathe)");
  }
  system_type_ = code;
}

void Automation::SetSelection(std::int64_t first, std::int64_t last) {
  auto clamp = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 1, INT32_MAX));
  };
  selection_first_ = clamp(std::min(first, last));
  selection_last_ = clamp(std::max(first, last));
}

void Automation::CheckLine(const char* member, std::int64_t line, std::int64_t last) {
  if (line < 1 || line > last) {
    throw AutomationError(std::string(member) + ": line " + Num(line) + " is outside the document (1 to " +
                          Num(last) + ")");
  }
}

// ---- keeping up with the document ----

void Automation::Sync() {
  if (doc_.Revision() == seen_revision_) return;
  std::int64_t first = doc_.FirstChangedLineSince(seen_revision_);
  seen_revision_ = doc_.Revision();
  if (pass_view_) {
    // Someone else changed the text: the pass's view no longer holds.
    EndPass();
    first = std::min(first, DropPassView());
  }
  Invalidate(first);
  next_line_ = std::min(next_line_, doc_.LineCount() + 1);
}

void Automation::Invalidate(std::int64_t first) {
  if (first == Document::kNoChange) return;
  mode_known_ = false;  // an edit may add or remove control flow
  run_valid_ = false;
  // Checkpoint i depends on lines 1..i*K.
  std::size_t keep = static_cast<std::size_t>((first - 1) / kCheckpointEvery) + 1;
  if (checkpoints_.size() > keep) checkpoints_.resize(keep);
  if (next_line_ > first) state_valid_ = false;
  if (last_line_ > first) before_valid_ = false;
  if (last_line_ >= first) after_valid_ = false;
}

std::string_view Automation::TextOf(std::int64_t line) const {
  if (!originals_.empty()) {
    auto it = std::lower_bound(originals_.begin(), originals_.end(), line,
                               [](const auto& entry, std::int64_t l) { return entry.first < l; });
    if (it != originals_.end() && it->first == line) return it->second;
  }
  return doc_.Line(line);
}

void Automation::Checkpoint() {
  if ((next_line_ - 1) % kCheckpointEvery != 0) return;
  std::size_t index = static_cast<std::size_t>((next_line_ - 1) / kCheckpointEvery);
  if (index == checkpoints_.size() && keep_checkpoints_) checkpoints_.push_back(state_);
}

void Automation::Advance(Block& block) {
  block.line = next_line_;
  InterpretLine(TextOf(next_line_), state_, block);
  ++interpreted_;
  ++next_line_;
  Checkpoint();
}

bool Automation::ControlFlow() {
  if (!mode_known_) {
    control_flow_ = NeedsControlFlow(doc_.LineCount(), [this](std::int64_t line) { return TextOf(line); });
    mode_known_ = true;
  }
  return control_flow_;
}

const ProgramRun& Automation::Run() {
  if (!run_valid_) {
    run_.Run(doc_.LineCount(), [this](std::int64_t line) { return TextOf(line); }, {}, run_limits_);
    interpreted_ += run_.LinesExecuted();
    run_valid_ = true;
  }
  return run_;
}

void Automation::Seek(std::int64_t line) {
  if (state_valid_ && next_line_ == line) return;
  if (before_valid_ && line == last_line_) {
    state_ = before_last_;
  } else if (after_valid_ && line == last_line_ + 1) {
    state_ = after_last_;
  } else {
    std::size_t index = std::min(static_cast<std::size_t>((line - 1) / kCheckpointEvery),
                                 checkpoints_.size() - 1);
    std::int64_t from = static_cast<std::int64_t>(index) * kCheckpointEvery + 1;
    if (!(state_valid_ && next_line_ <= line && next_line_ > from)) {
      state_ = checkpoints_[index];
      next_line_ = from;
    }
    Block scratch;
    while (next_line_ < line) Advance(scratch);
  }
  next_line_ = line;
  state_valid_ = true;
}

// ---- the members ----

void Automation::selectline(std::int32_t line) {
  Sync();
  CheckLine("selectline", line, doc_.LineCount() + 1);
  if (ControlFlow()) {
    next_line_ = line;  // the run knows every line: nothing to interpret
    state_valid_ = false;
  } else {
    Seek(line);
  }
  selected_ = line;
}

void Automation::markline(std::int32_t line, std::int32_t mark) {
  Sync();
  if (line == 0 && mark == 0) {
    EndPass();
    Invalidate(DropPassView());
    pass_view_ = true;
    doc_.BeginGroup();
    doc_.SetMark(0, false);
    in_pass_ = true;
    return;
  }
  CheckMark(line, mark, doc_.LineCount());
  doc_.SetMark(line, mark == 1);
}

void Automation::CheckMark(std::int32_t line, std::int32_t mark, std::int64_t lineCount) {
  if (line == 0) throw AutomationError("markline: line 0 takes only mark 0 (which begins a pass)");
  CheckLine("markline", line, lineCount);
  if (mark != 0 && mark != 1) {
    throw AutomationError("markline: mark " + Num(mark) + " is neither 1 (set) nor 0 (clear)");
  }
}

void Automation::step() {
  Sync();
  if (next_line_ > doc_.LineCount()) {
    throw AutomationError("step: no line after line " + Num(doc_.LineCount()) + ", the last one");
  }
  if (ControlFlow()) {
    Run().BlockOf(next_line_, block_);
    last_line_ = next_line_++;
    before_valid_ = after_valid_ = state_valid_ = false;
    return;
  }
  if (!state_valid_) Seek(next_line_);
  last_line_ = next_line_;
  before_last_ = state_;
  Advance(block_);
  after_last_ = state_;
  before_valid_ = after_valid_ = true;
}

double Automation::CurrentBlock(std::int32_t index) const {
  if (index < 0 || index > kMaxIndex) {
    throw AutomationError("CurrentBlock: index " + Num(index) + " is outside 0 to " + Num(kMaxIndex));
  }
  if (block_.error) {
    throw AutomationError("CurrentBlock: line " + Num(block_.error_line) + " cannot be run: " +
                          *block_.error);
  }
  return BlockValue(block_, index);
}

void Automation::CheckAdd(const std::string& letter, double value, std::int64_t selected,
                          std::int64_t lineCount) {
  if (letter.size() != 1 || !IsWordAddress(letter[0])) {
    throw AutomationError("add: \"" + letter.substr(0, 16) +
                          "\" is not a word address (one letter other than G, M, N, O)");
  }
  if (!std::isfinite(value)) throw AutomationError("add: the value is not a finite number");
  if (std::fabs(value) >= kMaxValue) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    throw AutomationError(std::string("add: the value ") + text + " is too large for a word");
  }
  if (selected == 0) throw AutomationError("add: no line selected (call selectline first)");
  CheckLine("add", selected, lineCount);
}

std::string Automation::WordAdded(std::string_view text, std::int64_t line, char letter,
                                  double value) {
  thread_local ParsedBlock parsed;
  ReadBlock(text, parsed);
  const std::string at = "add: line " + Num(line);
  if (parsed.percent) throw AutomationError(at + " is a \"%\" line, which takes no words");
  if (!parsed.error.empty()) throw AutomationError(at + " cannot be read: " + parsed.error);
  if (parsed.has_o) throw AutomationError(at + " is an O-word line, which takes no other words");
  if (parsed.block_delete) {
    throw AutomationError(at + " is a block-delete (\"/\") line: with block delete on, a word there would not run");
  }
  const char upper = static_cast<char>(letter & ~0x20);
  if (upper == 'F' && FormatWordValue(value) == "0") {
    throw AutomationError("add: the feedrate " + FormatWordValue(value) + " would be written as F0");
  }
  return SetWord(text, parsed, letter, value);
}

void Automation::CheckLineTakes(std::int64_t line, char letter) {
  if ((letter & ~0x20) != 'F') return;
  Block block;
  if (ControlFlow()) {
    const ProgramRun& run = Run();
    if (run.FeedsDiffer(line)) {
      throw AutomationError("add: line " + Num(line) +
                            " runs with different feedrates in force; one F word cannot restore them all");
    }
    run.BlockOf(line, block);
  } else if (line == last_line_ && after_valid_) {
    block = block_;
  } else {
    Seek(line);
    ModalState copy = state_;
    block.line = line;
    InterpretLine(TextOf(line), copy, block);
  }
  if (block.error) return;  // the pass learns it from CurrentBlock
  if (!block.skipped && block.feed_mode != 94) {
    throw AutomationError("add: line " + Num(line) + " runs under G" + Num(block.feed_mode) +
                          ", where F is no feedrate per minute");
  }
}

void Automation::add(const std::string& letter, double value) {
  Sync();
  CheckAdd(letter, value, selected_, doc_.LineCount());
  std::string_view text = doc_.Line(selected_);
  std::string changed = WordAdded(text, selected_, letter[0], value);
  CheckLineTakes(selected_, letter[0]);
  if (changed == text) return;
  if (pass_view_) {
    auto it = std::lower_bound(originals_.begin(), originals_.end(), selected_,
                               [](const auto& entry, std::int64_t l) { return entry.first < l; });
    if (it == originals_.end() || it->first != selected_) {
      originals_.emplace(it, selected_, text);
      first_original_ = std::min(first_original_, selected_);
    }
  }
  doc_.ReplaceLine(selected_, std::move(changed));
  // In a pass the interpreter still reads the original: nothing it knows changed.
  if (pass_view_) seen_revision_ = doc_.Revision();
}

void Automation::EndPass() {
  if (!in_pass_) return;
  in_pass_ = false;
  doc_.EndGroup();
}

std::int64_t Automation::DropPassView() {
  std::int64_t first = first_original_;
  pass_view_ = false;
  originals_.clear();
  first_original_ = Document::kNoChange;
  return first;
}

}  // namespace refhost
