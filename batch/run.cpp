#include "batch/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "batch/adjust.h"
#include "batch/cycle_report.h"
#include "batch/line_writer.h"
#include "batch/program_file.h"
#include "batch/progress.h"

namespace batch {
namespace {

constexpr const char* kProgram = "brevand-batch";

// The dry run's record: the lines the pass rewrote, as a diff.
class DiffSink : public LineSink {
 public:
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override {
    if (changed) changes_.push_back({line, std::string(original), std::string(text)});
  }
  void Print(std::FILE* out, const std::string& name) const {
    if (changes_.empty()) return;
    std::fprintf(out, "--- %s\n+++ %s\n", name.c_str(), name.c_str());
    for (const Change& c : changes_) {
      std::fprintf(out, "@@ -%lld +%lld @@\n-", static_cast<long long>(c.line),
                   static_cast<long long>(c.line));
      std::fwrite(c.before.data(), 1, c.before.size(), out);
      std::fputs("\n+", out);
      std::fwrite(c.after.data(), 1, c.after.size(), out);
      std::fputc('\n', out);
    }
  }

 private:
  struct Change {
    std::int64_t line;
    std::string before, after;
  };
  std::vector<Change> changes_;
};

// Copies what `from` holds to `to` from its start. False on an error.
bool CopyStream(std::FILE* from, std::FILE* to) {
  std::rewind(from);
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
    if (std::fwrite(buffer, 1, n, to) != n) return false;
  }
  return !std::ferror(from) && std::fflush(to) == 0;
}

class FileRun {
 public:
  FileRun(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
          std::FILE* err, CycleReport& cycle)
      : options_(options), input_(input), out_(out), err_(err), cycle_(cycle) {}

  // False when the file failed (already reported).
  bool Run(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const bool to_stdout = options_.output == "-";
    const std::string destination = options_.output.empty() ? file : options_.output;

    std::string error, text;
    if (!ReadProgram(file, text, error)) return Fail(file, error);
    const LineEnding ending = DetectLineEnding(text);

    // What cannot be saved is refused before the work is done. Standard
    // output gets a file's result only once it is complete.
    AtomicFile saved;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> held(nullptr, std::fclose);
    int fd = -1;
    if (to_stdout) {
      held.reset(std::tmpfile());
      if (!held) return Fail(file, std::string("no room for the result: ") + std::strerror(errno));
      fd = ::fileno(held.get());
    } else if (!options_.dry_run) {
      if (!saved.Begin(destination, error)) return Fail(destination, error);
      fd = saved.fd();
    }
    refhost::Document document;
    document.Load(std::move(text));

    AdjustSettings settings;
    settings.input = input_;
    settings.machine = options_.machine;
    settings.first_line = options_.first_line;
    settings.last_line = options_.last_line;
    std::unique_ptr<ProgressBar> bar;
    if (!options_.quiet && ProgressBar::Wanted(err_, document.LineCount())) {
      bar = std::make_unique<ProgressBar>(err_, file);
      settings.progress = [&bar](std::int64_t done, std::int64_t total) { bar->Show(done, total); };
    }
    DiffSink diff;
    LineWriter writer(fd, ending, document.LineCount());
    ChangeRecorder sink(options_.dry_run ? static_cast<LineSink&>(diff) : writer);
    const double cycle_before = options_.quiet ? 0.0 : cycle_.Estimate(document, options_.machine);
    const AdjustResult result = AdjustProgram(document, settings, sink);
    bar.reset();

    switch (result.outcome) {
      case AdjustResult::Outcome::kFailed:
        return Fail(file, result.message + " (left unchanged)");
      case AdjustResult::Outcome::kNoLines:
        std::fprintf(err_, "%s: %s: %s (left unchanged)\n", kProgram, file.c_str(),
                     result.message.c_str());
        return true;
      case AdjustResult::Outcome::kAdjusted:
        break;
    }

    if (options_.dry_run) {
      diff.Print(out_, file);
      std::fflush(out_);
    } else if (!writer.Finish(error)) {
      return Fail(to_stdout ? file : destination, "not saved: " + error);
    } else if (to_stdout) {
      if (!CopyStream(held.get(), out_)) return Fail("standard output", std::strerror(errno));
    } else if (result.written > 0 || destination != file) {
      // A program the pass did not write to stays as it is, file and all.
      if (!saved.Commit(options_.backup, error)) return Fail(destination, "not saved: " + error);
    }

    if (!options_.quiet) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::fprintf(err_, "%s: %lld lines walked, %lld written, %.3f s%s\n", file.c_str(),
                   static_cast<long long>(result.walked), static_cast<long long>(result.written),
                   seconds, options_.dry_run ? " (dry run, nothing saved)" : "");
      sink.Apply(document);
      cycle_.PrintFile(err_, file, cycle_before, cycle_.Estimate(document, options_.machine));
    }
    return true;
  }

 private:
  bool Fail(const std::string& name, const std::string& why) {
    std::fprintf(err_, "%s: %s: %s\n", kProgram, name.c_str(), why.c_str());
    return false;
  }

  const BatchOptions& options_;
  const feed::PassInput& input_;
  std::FILE* out_;
  std::FILE* err_;
  CycleReport& cycle_;
};

}  // namespace

int RunBatch(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
             std::FILE* err) {
  CycleReport cycle;
  std::string error;
  if (!cycle.Load(options, error)) {
    std::fprintf(err, "%s: %s\n", kProgram, error.c_str());
    return kExitUsage;
  }
  FileRun run(options, input, out, err, cycle);
  bool failed = false;
  for (const std::string& file : options.files) {
    if (!run.Run(file)) failed = true;
  }
  if (!options.quiet) cycle.PrintTotal(err);
  return failed ? kExitSomeFailed : kExitDone;
}

}  // namespace batch
