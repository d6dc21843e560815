#include "batch/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>

#include "batch/adjust.h"
#include "batch/program_file.h"
#include "batch/progress.h"

namespace batch {
namespace {

constexpr const char* kProgram = "brevand-batch";

void PrintDiff(std::FILE* out, const std::string& name, const std::vector<LineChange>& changes) {
  if (changes.empty()) return;
  std::fprintf(out, "--- %s\n+++ %s\n", name.c_str(), name.c_str());
  for (const LineChange& c : changes) {
    std::fprintf(out, "@@ -%lld +%lld @@\n-", static_cast<long long>(c.line),
                 static_cast<long long>(c.line));
    std::fwrite(c.before.data(), 1, c.before.size(), out);
    std::fputs("\n+", out);
    std::fwrite(c.after.data(), 1, c.after.size(), out);
    std::fputc('\n', out);
  }
}

class FileRun {
 public:
  FileRun(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
          std::FILE* err)
      : options_(options), input_(input), out_(out), err_(err) {}

  // False when the file failed (already reported).
  bool Run(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const bool to_stdout = options_.output == "-";
    const std::string destination = options_.output.empty() ? file : options_.output;

    // Refuse what cannot be saved before the work is done.
    std::string error, target;
    if (!options_.dry_run && !to_stdout &&
        !SaveTarget(destination, destination == file, target, error)) {
      return Fail(destination, error);
    }
    std::string text;
    if (!ReadProgram(file, text, error)) return Fail(file, error);
    const LineEnding ending = DetectLineEnding(text);
    refhost::Document document;
    document.Load(std::move(text));

    AdjustSettings settings;
    settings.input = input_;
    settings.machine = options_.machine;
    settings.first_line = options_.first_line;
    settings.last_line = options_.last_line;
    settings.keep_changes = options_.dry_run;
    std::unique_ptr<ProgressBar> bar;
    if (!options_.quiet && ProgressBar::Wanted(err_, document.LineCount())) {
      bar = std::make_unique<ProgressBar>(err_, file);
      settings.progress = [&bar](std::int64_t done, std::int64_t total) { bar->Show(done, total); };
    }
    const AdjustResult result = AdjustProgram(document, settings);
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
      PrintDiff(out_, file, result.changes);
      std::fflush(out_);
    } else if (to_stdout) {
      std::fflush(out_);
      if (!WriteLines(::fileno(out_), document, ending)) {
        return Fail("standard output", std::strerror(errno));
      }
    } else if (result.written > 0 || destination != file) {
      // A program the pass did not write to stays as it is, file and all.
      if (!SaveProgram(destination, document, ending, options_.backup, error)) {
        return Fail(destination, "not saved: " + error);
      }
    }

    if (!options_.quiet) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::fprintf(err_, "%s: %lld lines walked, %lld written, %.3f s%s\n", file.c_str(),
                   static_cast<long long>(result.walked), static_cast<long long>(result.written),
                   seconds, options_.dry_run ? " (dry run, nothing saved)" : "");
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
};

}  // namespace

int RunBatch(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
             std::FILE* err) {
  FileRun run(options, input, out, err);
  bool failed = false;
  for (const std::string& file : options.files) {
    if (!run.Run(file)) failed = true;
  }
  return failed ? kExitSomeFailed : kExitDone;
}

}  // namespace batch
