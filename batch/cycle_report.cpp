#include "batch/cycle_report.h"

#include <cmath>

#include "batch/program_file.h"
#include "batch/run.h"
#include "refhost/core/automation.h"
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

double CycleReport::Estimate(const refhost::Document& document, int machine) const {
  if (machine == 0) machine = refhost::GuessSystemType(document);
  const refhost::MachineProfile base = refhost::DefaultProfile(machine);
  refhost::MachineProfile profile = base;
  std::string unused;
  if (!profile_text_.empty()) refhost::ParseMachineProfile(profile_text_, base, profile, unused);
  return refhost::EstimateCycleTime(document, profile).total;
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
