#include "batch/cycle_report.h"

#include <cmath>

#include "batch/program_file.h"
#include "batch/run.h"
#include "refhost/core/automation.h"
#include "refhost/core/interpreter.h"
#include "refhost/core/program_run.h"
#include "refhost/toolpath/cycle_time.h"

namespace batch {

bool CycleReport::Load(const BatchOptions& options, std::string& error) {
  if (options.machine_profile.empty()) return true;
  std::string text, why;
  if (!ReadProgram(options.machine_profile, text, why)) {
    error = "--machine-profile " + options.machine_profile + ": " + why;
    return false;
  }
  refhost::MachineProfile check;
  if (!refhost::ParseMachineProfile(text, refhost::SmallMillProfile(), check, why)) {
    error = "--machine-profile " + options.machine_profile + ": " + why;
    return false;
  }
  profile_text_ = std::move(text);
  return true;
}

refhost::MachineProfile CycleReport::ProfileFor(const refhost::Document& document, int machine) const {
  if (machine == 0) machine = refhost::GuessSystemType(document);
  const refhost::MachineProfile base = refhost::DefaultProfile(machine);
  refhost::MachineProfile profile = base;
  std::string unused;
  if (!profile_text_.empty()) refhost::ParseMachineProfile(profile_text_, base, profile, unused);
  return profile;
}

double CycleReport::Estimate(const refhost::Document& document, int machine) const {
  return refhost::EstimateCycleTime(document, ProfileFor(document, machine)).total;
}

StreamingCycle::StreamingCycle(LineSink& next, const refhost::MachineProfile& profile)
    : next_(next), profile_(profile), worker_([this] { Work(); }) {
  filling_.items.reserve(kBatch);
}

StreamingCycle::~StreamingCycle() {
  double before, after;
  Finish(before, after);
}

void StreamingCycle::Put(std::int64_t line, std::string_view text, bool changed,
                         std::string_view original) {
  next_.Put(line, text, changed, original);
  Item item{original, filling_.changed.size(), 0, changed};
  if (changed) {
    filling_.changed.append(text);
    item.changed_len = text.size();
  }
  filling_.items.push_back(item);
  if (filling_.items.size() >= kBatch) Hand();
}

void StreamingCycle::Hand() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return handed_.items.empty(); });  // one batch in flight at most
  std::swap(handed_, filling_);
  cv_.notify_all();
}

void StreamingCycle::Finish(double& before, double& after) {
  if (!finished_) {
    if (!filling_.items.empty()) Hand();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closing_ = true;
    }
    cv_.notify_all();
    worker_.join();
    finished_ = true;
  }
  before = before_;
  after = after_;
}

void StreamingCycle::Work() {
  // Both programs line by line, as the editor core reads a program without
  // control flow; each one's motions into its own planner. A line the pass
  // left alone is read once for both.
  struct Side {
    refhost::ModalState state;
    refhost::Block block;
    refhost::CyclePlanner planner;
    refhost::MotionSink sink;
    explicit Side(const refhost::MachineProfile& p) : planner(p, [](std::int64_t, double) {}) {
      sink.put = [](void* context, const refhost::Motion& m) {
        if (!refhost::MovesNothing(m)) static_cast<refhost::CyclePlanner*>(context)->Add(m);
      };
      sink.context = &planner;
    }
    void Run(const refhost::ParsedBlock& parsed, std::int64_t line) {
      block.line = line;
      refhost::InterpretParsed(parsed, state, block, sink);
    }
  };
  Side before(profile_), after(profile_);
  refhost::ParsedBlock parsed, changed;
  std::int64_t line = 0;
  Batch batch;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait(lock, [this] { return !handed_.items.empty() || closing_; });
      if (handed_.items.empty()) break;
      std::swap(batch, handed_);
      handed_.clear();
    }
    cv_.notify_all();
    for (const Item& item : batch.items) {
      ++line;
      refhost::ReadBlock(item.original, parsed);
      before.Run(parsed, line);
      if (item.differs) {
        const std::string_view text(batch.changed.data() + item.changed_at, item.changed_len);
        refhost::ReadBlock(text, changed);
        after.Run(changed, line);
      } else {
        after.Run(parsed, line);
      }
    }
    batch.clear();
  }
  before.planner.Finish();
  after.planner.Finish();
  before_ = before.planner.total();
  after_ = after.planner.total();
}

std::string BeforeAfterText(double before, double after) {
  std::string text = refhost::FormatDuration(before) + " \u2192 " + refhost::FormatDuration(after);
  if (before > 0) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " (%+.1f %%)", (after - before) / before * 100.0);
    text += buf;
  }
  return text;
}

void CycleReport::PrintFile(std::FILE* out, const std::string& file, double before, double after) {
  before_ += before;
  after_ += after;
  ++files_;
  std::fprintf(out, "%s: cycle %s\n", file.c_str(), BeforeAfterText(before, after).c_str());
}

void CycleReport::PrintTotal(std::FILE* out) const {
  if (files_ > 1) std::fprintf(out, "total: cycle %s\n", BeforeAfterText(before_, after_).c_str());
}

void ChangeRecorder::Put(std::int64_t line, std::string_view text, bool changed,
                         std::string_view original) {
  next_.Put(line, text, changed, original);
  if (changed) changes_.emplace_back(line, std::string(text));
}

void ChangeRecorder::Apply(refhost::Document& document) const {
  for (const auto& [line, text] : changes_) {
    if (line >= 1 && line <= document.LineCount()) document.ReplaceLine(line, text);
  }
}

int RunTimes(const BatchOptions& options, std::FILE* out, std::FILE* err) {
  CycleReport report;
  std::string error;
  if (!report.Load(options, error)) {
    std::fprintf(err, "brevand-batch: %s\n", error.c_str());
    return kExitUsage;
  }
  bool failed = false;
  double total = 0.0;
  int files = 0;
  for (const std::string& file : options.files) {
    std::string text;
    if (!ReadProgram(file, text, error)) {
      std::fprintf(err, "brevand-batch: %s: %s\n", file.c_str(), error.c_str());
      failed = true;
      continue;
    }
    refhost::Document document;
    document.Load(std::move(text));
    const double seconds = report.Estimate(document, options.machine);
    total += seconds;
    ++files;
    std::fprintf(out, "%s: cycle %s (%.1f s)\n", file.c_str(), refhost::FormatDuration(seconds).c_str(),
                 seconds);
  }
  if (files > 1) {
    std::fprintf(out, "total: cycle %s (%.1f s)\n", refhost::FormatDuration(total).c_str(), total);
  }
  std::fflush(out);
  return failed ? kExitSomeFailed : kExitDone;
}

}  // namespace batch
