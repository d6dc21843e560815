#include "batch/adjust.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

#include "refhost/core/automation.h"

namespace batch {
namespace {

// The automation members as the pass's host, counting the lines stepped.
class CoreHost : public hostlink::HostOperations {
 public:
  CoreHost(refhost::Automation& automation, const AdjustSettings& settings, std::int64_t total)
      : a_(automation), progress_(settings.progress), total_(total) {}

  std::int32_t SystemType() override { return a_.SystemType(); }
  std::int32_t StartSelection() override { return a_.StartSelection(); }
  std::int32_t EndSelection() override { return a_.EndSelection(); }
  void selectline(std::int32_t line, hostlink::ArgForm) override { a_.selectline(line); }
  void markline(std::int32_t line, std::int32_t mark, hostlink::ArgForm) override {
    a_.markline(line, mark);
  }
  void step() override {
    a_.step();
    if ((++walked_ & kProgressEvery) == 0 && progress_) progress_(walked_, total_);
  }
  double CurrentBlock(std::int32_t index) override { return a_.CurrentBlock(index); }
  void add(const std::string& letter, double value) override { a_.add(letter, value); }

  std::int64_t walked() const { return walked_; }

 private:
  static constexpr std::int64_t kProgressEvery = (1 << 15) - 1;

  refhost::Automation& a_;
  const std::function<void(std::int64_t, std::int64_t)>& progress_;
  std::int64_t total_;
  std::int64_t walked_ = 0;
};

}  // namespace

AdjustResult AdjustProgram(refhost::Document& document, const AdjustSettings& settings) {
  AdjustResult result;
  refhost::Automation automation(document);
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

  CoreHost host(automation, settings, std::abs(last - first) + 1);
  bool no_lines = false;
  try {
    feed::RunPass(host, settings.input, [&](const std::string& message) {
      no_lines = true;
      result.message = message;
    });
  } catch (const std::exception& e) {
    result.outcome = AdjustResult::Outcome::kFailed;
    result.message = e.what();
    if (host.walked() > 0) {
      result.message = "line " + std::to_string(automation.StartSelection() + host.walked() - 1) +
                       ": " + result.message;
    }
  }
  automation.EndPass();
  result.walked = host.walked();
  if (no_lines) {
    result.outcome = AdjustResult::Outcome::kNoLines;
    return result;
  }
  result.written = document.MarkCount();
  if (result.outcome != AdjustResult::Outcome::kAdjusted || !settings.keep_changes) return result;

  // The lines as written, then as they were (the pass is one undo step).
  for (const std::int64_t line : document.MarkedLines()) {
    result.changes.push_back({line, {}, std::string(document.Line(line))});
  }
  document.Undo();
  std::erase_if(result.changes, [&](LineChange& change) {
    change.before = std::string(document.Line(change.line));
    return change.before == change.after;
  });
  document.Redo();
  return result;
}

}  // namespace batch
