// The cycle time of each file, before and after the pass, and their total;
// and the --time listing.
#ifndef BATCH_CYCLE_REPORT_H_
#define BATCH_CYCLE_REPORT_H_

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "batch/line_sink.h"
#include "batch/options.h"
#include "refhost/core/document.h"
#include "refhost/toolpath/machine_profile.h"

namespace batch {

class CycleReport {
 public:
  // Reads --machine-profile (none when the option is empty). False with
  // `error` naming the file and the reason.
  bool Load(const BatchOptions& options, std::string& error);
  // Seconds of `document` on the profile of `machine` (0: guessed from the
  // program as the editor guesses).
  double Estimate(const refhost::Document& document, int machine) const;
  // The profile Estimate uses for `document`.
  refhost::MachineProfile ProfileFor(const refhost::Document& document, int machine) const;
  // "FILE: cycle 12:34 → 13:05 (+4.1 %)" to `out`, and counts it in the total.
  void PrintFile(std::FILE* out, const std::string& file, double before, double after);
  // "total: cycle ..." when more than one file was counted.
  void PrintTotal(std::FILE* out) const;

 private:
  std::string profile_text_;
  double before_ = 0.0, after_ = 0.0;
  int files_ = 0;
};

// "12:34 → 13:05 (+4.1 %)".
std::string BeforeAfterText(double before, double after);

// Passes every line on to `next` and keeps the lines the pass rewrote.
class ChangeRecorder : public LineSink {
 public:
  explicit ChangeRecorder(LineSink& next) : next_(next) {}
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override;
  // Writes the kept lines into `document` (the program as the pass left it).
  void Apply(refhost::Document& document) const;

 private:
  LineSink& next_;
  std::vector<std::pair<std::int64_t, std::string>> changes_;
};

// The cycle times before and after the pass of a program without control
// flow (refhost/core/program_run.h NeedsControlFlow), estimated from the lines
// as the pass lets them go by, in document order, on a thread of its own.
// Nothing is kept but a few thousand lines in flight and the planners'
// look-ahead. The document must stay unchanged until Finish().
class StreamingCycle : public LineSink {
 public:
  StreamingCycle(LineSink& next, const refhost::MachineProfile& profile);
  ~StreamingCycle() override;
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override;
  // Waits for the estimates of every line put so far; seconds.
  void Finish(double& before, double& after);

 private:
  struct Item {
    std::string_view original;
    std::size_t changed_at;   // the line after the pass in the batch's text, when it differs
    std::size_t changed_len;
    bool differs;
  };
  struct Batch {
    std::vector<Item> items;
    std::string changed;  // the changed lines of the batch, one after the other
    void clear() {
      items.clear();
      changed.clear();
    }
  };
  void Hand();  // passes the filled batch to the worker
  void Work();

  static constexpr std::size_t kBatch = 2048;
  LineSink& next_;
  refhost::MachineProfile profile_;
  Batch filling_, handed_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool closing_ = false;
  bool finished_ = false;
  double before_ = 0.0, after_ = 0.0;
  std::thread worker_;
};

// --time: prints each file's cycle time to `out` ("FILE: cycle 12:34
// (754.4 s)"), then the total for more than one file; adjusts nothing.
// Errors go to `err`. Returns kExitDone or kExitSomeFailed.
int RunTimes(const BatchOptions& options, std::FILE* out, std::FILE* err);

}  // namespace batch

#endif  // BATCH_CYCLE_REPORT_H_
