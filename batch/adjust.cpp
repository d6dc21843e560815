#include "batch/adjust.h"

#include <algorithm>
#include <cstdlib>
#include <exception>
#include <map>
#include <stdexcept>

#include "refhost/core/automation.h"
#include "refhost/core/word_edit.h"

namespace batch {
namespace {

std::string Num(std::int64_t value) { return std::to_string(value); }

// A "%" line: it delimits the program and nothing on it runs.
bool IsPercentLine(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  return first != std::string_view::npos && text[first] == '%';
}

// An AutomationError's text without the member's name before it ("add: ").
std::string UserWords(const std::string& text) {
  const auto colon = text.find(": ");
  if (colon == std::string::npos || colon == 0) return text;
  for (std::size_t i = 0; i < colon; ++i) {
    const char c = text[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return text;
  }
  return text.substr(colon + 2);
}

// The automation members as the pass's host. Walking, reading and selecting
// are the Automation's own; add and markline use its checks and its word
// edit, but keep the result here instead of in the document, and a line
// leaves for the sink as soon as the walk has moved past it.
class StreamingHost : public hostlink::HostOperations {
 public:
  StreamingHost(refhost::Automation& automation, const refhost::Document& document,
                LineSink& sink, const AdjustSettings& settings, std::int64_t total)
      : a_(automation), doc_(document), sink_(sink), progress_(settings.progress), total_(total) {}

  std::int32_t SystemType() override { return a_.SystemType(); }
  std::int32_t StartSelection() override { return a_.StartSelection(); }
  std::int32_t EndSelection() override { return a_.EndSelection(); }

  void selectline(std::int32_t line, hostlink::ArgForm) override {
    a_.selectline(line);
    Reachable(line);
    selected_ = line;
  }

  void markline(std::int32_t line, std::int32_t mark, hostlink::ArgForm) override {
    if (line == 0 && mark == 0) {
      a_.markline(0, 0);  // a new pass: every mark cleared
      marked_.clear();
      return;
    }
    refhost::Automation::CheckMark(line, mark, doc_.LineCount());
    if (line == left_out_line_ && marked_.count(line) == 0) return;  // nothing written there
    Reachable(line);
    if (mark == 1) {
      marked_.insert_or_assign(line, true);
    } else {
      marked_.erase(line);
    }
  }

  void step() override {
    a_.step();
    const refhost::Block& block = a_.LastBlock();
    units_ |= block.units == 20 ? AdjustResult::kInch : AdjustResult::kMm;
    // Nothing goes back before the line just stepped: what lies before it is done.
    Emit(a_.LastBlock().line - 1);
    if ((++walked_ & kProgressEvery) == 0 && progress_) progress_(walked_, total_);
  }

  double CurrentBlock(std::int32_t index) override { return a_.CurrentBlock(index); }

  void add(const std::string& letter, double value) override {
    refhost::Automation::CheckAdd(letter, value, selected_, doc_.LineCount());
    Reachable(selected_);
    auto edited = edits_.find(selected_);
    const std::string_view text = edited != edits_.end() ? std::string_view(edited->second)
                                                         : doc_.Line(selected_);
    // A restore (the program's own feed, back after a run) that no executed
    // code would read is left out.
    const refhost::Block& block = a_.LastBlock();
    if (block.line == selected_ && value == block.feed && edited == edits_.end() &&
        (IsPercentLine(text) || block.after_end)) {
      if (left_out_.empty() || left_out_.back() != selected_) left_out_.push_back(selected_);
      left_out_line_ = selected_;
      return;
    }
    last_write_line_ = selected_;
    last_write_value_ = value;
    std::string changed = refhost::Automation::WordAdded(text, selected_, letter[0], value);
    a_.CheckLineTakes(selected_, letter[0]);
    if (changed == text) return;
    edits_.insert_or_assign(selected_, std::move(changed));
  }

  // Sends every line not sent yet.
  void Finish() { Emit(doc_.LineCount()); }

  std::int64_t walked() const { return walked_; }
  std::int64_t written() const { return written_; }
  int units() const { return units_; }
  const std::vector<std::int64_t>& left_out() const { return left_out_; }
  std::int64_t last_write_line() const { return last_write_line_; }
  double last_write_value() const { return last_write_value_; }

 private:
  static constexpr std::int64_t kProgressEvery = (1 << 15) - 1;

  // The pass only ever goes forward; a line already sent cannot change.
  void Reachable(std::int64_t line) const {
    if (line <= sent_) {
      throw std::logic_error("the pass went back to line " + Num(line) + ", already saved");
    }
  }

  void Emit(std::int64_t upto) {
    for (std::int64_t line = sent_ + 1; line <= upto; ++line) {
      const std::string_view original = doc_.Line(line);
      if (marked_.erase(line) > 0) ++written_;
      const auto edited = edits_.find(line);
      if (edited == edits_.end()) {
        sink_.Put(line, original, false, original);
      } else {
        sink_.Put(line, edited->second, true, original);
        edits_.erase(edited);
      }
    }
    sent_ = std::max(sent_, upto);
  }

  refhost::Automation& a_;
  const refhost::Document& doc_;
  LineSink& sink_;
  const std::function<void(std::int64_t, std::int64_t)>& progress_;
  std::int64_t total_;

  std::int64_t selected_ = 0;
  std::int64_t sent_ = 0;  // lines 1..sent_ went to the sink
  std::map<std::int64_t, std::string> edits_;  // lines not sent yet that the pass rewrote
  std::map<std::int64_t, bool> marked_;        // lines not sent yet that carry a mark
  std::int64_t walked_ = 0;
  std::int64_t written_ = 0;
  int units_ = 0;
  std::vector<std::int64_t> left_out_;
  std::int64_t left_out_line_ = 0;
  std::int64_t last_write_line_ = 0;
  double last_write_value_ = 0;
};

}  // namespace

AdjustResult AdjustProgram(refhost::Document& document, const AdjustSettings& settings,
                           LineSink& sink) {
  AdjustResult result;
  refhost::Automation automation(document);
  automation.SetForwardOnly();  // the pass never goes back (see Reachable)
  automation.SetSystemType(settings.machine != 0 ? settings.machine
                                                 : refhost::GuessSystemType(document));
  // As the editor's selection: both ends inside the program, in order.
  const std::int64_t count = document.LineCount();
  const auto clamp = [count](std::int64_t line, std::int64_t open) {
    return std::clamp<std::int64_t>(line == 0 ? open : line, 1, count);
  };
  const std::int64_t first = clamp(settings.first_line, 1);
  const std::int64_t last = clamp(settings.last_line, count);
  automation.SetSelection(first, last);

  StreamingHost host(automation, document, sink, settings, std::abs(last - first) + 1);
  bool no_lines = false;
  try {
    feed::RunPass(host, settings.input, [&](const std::string& message) {
      no_lines = true;
      result.message = message;
    });
    if (!no_lines) host.Finish();
    // A run still open where the walk ends leaves its feed in force after it.
    const refhost::Block& block = automation.LastBlock();
    if (!no_lines && last < count && host.last_write_line() == last && block.line == last &&
        host.last_write_value() != block.feed) {
      result.open_run = "--lines ends inside a run of changed lines: F" +
                        refhost::FormatWordValue(host.last_write_value()) + " of line " + Num(last) +
                        " stays in force after it, up to the program's next F word";
    }
  } catch (const refhost::AutomationError& e) {
    result.outcome = AdjustResult::Outcome::kFailed;
    result.message = UserWords(e.what());
  } catch (const std::exception& e) {
    result.outcome = AdjustResult::Outcome::kFailed;
    result.message = e.what();
  }
  // Named with the line it was on, unless the message names it already.
  if (result.outcome == AdjustResult::Outcome::kFailed && host.walked() > 0 &&
      result.message.rfind("line ", 0) != 0) {
    result.message =
        "line " + Num(automation.StartSelection() + host.walked() - 1) + ": " + result.message;
  }
  automation.EndPass();
  result.walked = host.walked();
  result.written = host.written();
  result.units = host.units();
  result.restores_left_out = host.left_out();
  if (no_lines) result.outcome = AdjustResult::Outcome::kNoLines;
  return result;
}

}  // namespace batch
