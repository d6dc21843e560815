#include "batch/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "batch/adjust.h"
#include "batch/cycle_report.h"
#include "batch/fields.h"
#include "batch/line_writer.h"
#include "batch/program_file.h"
#include "batch/progress.h"
#include "refhost/core/program_run.h"

namespace batch {
namespace {

constexpr const char* kProgram = "brevand-batch";

// The dry run's record: the lines the pass rewrote, as a unified diff that
// patch applies. Patch reads lines up to LF, so a line ended by a lone CR
// goes into the hunk with the lines around it up to the next LF; every line
// keeps its own break, and a text without a final break is marked so.
class DiffSink : public LineSink {
 public:
  explicit DiffSink(const LineEndings& endings) : endings_(endings) {}
  void Put(std::int64_t line, std::string_view text, bool changed,
           std::string_view original) override {
    const std::string_view eol = endings_.Of(line);
    before_.append(original).append(eol);
    after_.append(text).append(eol);
    changed_ = changed_ || changed;
    if (eol.find('\n') == std::string_view::npos && line < endings_.lines()) return;
    if (changed_) changes_.push_back({patch_line_, std::move(before_), std::move(after_)});
    ++patch_line_;
    before_.clear();
    after_.clear();
    changed_ = false;
  }
  void Print(std::FILE* out, const std::string& name) const {
    if (changes_.empty()) return;
    std::fprintf(out, "--- %s\n+++ %s\n", name.c_str(), name.c_str());
    for (const Change& c : changes_) {
      std::fprintf(out, "@@ -%lld +%lld @@\n", static_cast<long long>(c.line),
                   static_cast<long long>(c.line));
      PrintLine(out, '-', c.before);
      PrintLine(out, '+', c.after);
    }
  }

 private:
  struct Change {
    std::int64_t line;  // as patch counts lines
    std::string before, after;
  };
  static void PrintLine(std::FILE* out, char sign, const std::string& text) {
    std::fputc(sign, out);
    std::fwrite(text.data(), 1, text.size(), out);
    if (text.empty() || text.back() != '\n') std::fputs("\n\\ No newline at end of file\n", out);
  }
  const LineEndings& endings_;
  std::vector<Change> changes_;
  std::int64_t patch_line_ = 1;
  std::string before_, after_;  // the lines since the last LF
  bool changed_ = false;
};

// Copies what `from` holds to `to` from its start. False with errno set on
// an error.
bool CopyStream(std::FILE* from, std::FILE* to) {
  std::rewind(from);
  char buffer[1 << 16];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, from)) > 0) {
    if (std::fwrite(buffer, 1, n, to) != n) return false;
  }
  return !std::ferror(from) && std::fflush(to) == 0;
}

// "FILTER_PROGRESS=N" lines for LinuxCNC's AXIS, N from 0 to 100, each once.
class FilterProgress {
 public:
  explicit FilterProgress(std::FILE* err) : err_(err) {}
  void Show(int percent) {
    if (percent <= shown_) return;
    shown_ = percent;
    std::fprintf(err_, "FILTER_PROGRESS=%d\n", percent);
    std::fflush(err_);
  }

 private:
  std::FILE* err_;
  int shown_ = -1;
};

const char* UnitsText(int units) {
  switch (units) {
    case AdjustResult::kMm:
      return "mm";
    case AdjustResult::kInch:
      return "inch";
    case AdjustResult::kMm | AdjustResult::kInch:
      return "mm and inch";
    default:
      return "";
  }
}

class FileRun {
 public:
  FileRun(const BatchOptions& options, const feed::PassInput& input, std::FILE* out,
          std::FILE* err, CycleReport& cycle)
      : options_(options), input_(input), out_(out), err_(err), cycle_(cycle) {
    const char* bar = std::getenv("AXIS_PROGRESS_BAR");
    if (bar != nullptr && std::strcmp(bar, "1") == 0) filter_ = std::make_unique<FilterProgress>(err);
  }

  enum class Outcome { kAdjusted, kUnchanged, kFailed };

  Outcome Run(const std::string& file) {
    const auto start = std::chrono::steady_clock::now();
    const bool from_stdin = file == "-";
    const std::string name = from_stdin ? "standard input" : QuoteName(file);
    const bool in_place = options_.output.empty() && !options_.dry_run && !from_stdin;
    const bool to_stdout = options_.output == "-" || (from_stdin && options_.output.empty() && !options_.dry_run);
    const std::string destination = options_.output.empty() ? file : options_.output;
    if (filter_) filter_->Show(0);

    std::string error, text;
    InPlaceFile source;
    if (from_stdin) {
      if (!refhost::files::ReadAll(STDIN_FILENO, text)) {
        return Fail(name, "cannot be read (" + Cause(errno) + ")");
      }
    } else if (in_place) {
      if (!source.Open(file, options_.force, text, error)) return Fail(name, error);
    } else if (!ReadProgram(file, text, error)) {
      return Fail(name, error);
    }
    if (!in_place) {
      const std::string not_text = NotText(text);
      if (!not_text.empty()) return Fail(name, not_text);
    }
    const LineEndings endings(text);

    // What cannot be saved is refused before the work is done. Standard
    // output gets a file's result only once it is complete.
    AtomicFile saved;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> held(nullptr, std::fclose);
    int fd = -1;
    if (to_stdout) {
      held.reset(std::tmpfile());
      if (!held) return Fail(name, "no room for the result: " + Cause(errno));
      fd = ::fileno(held.get());
    } else if (!options_.dry_run) {
      if (!saved.Begin(destination, error, in_place ? &source : nullptr)) {
        return Fail(QuoteName(destination), error);
      }
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
    if (!options_.quiet && !filter_ && ProgressBar::Wanted(err_, document.LineCount())) {
      bar = std::make_unique<ProgressBar>(err_, name);
    }
    if (bar || filter_) {
      settings.progress = [&bar, this](std::int64_t done, std::int64_t total) {
        if (bar) bar->Show(done, total);
        if (filter_ && total > 0) filter_->Show(static_cast<int>(done * 99 / total));
      };
    }
    DiffSink diff(endings);
    LineWriter writer(fd, endings);
    // The cycle times: as the lines go by for a program read in line order,
    // else from the whole program before and after.
    LineSink& out_sink = options_.dry_run ? static_cast<LineSink&>(diff) : writer;
    std::unique_ptr<StreamingCycle> streaming;
    std::unique_ptr<ChangeRecorder> recorder;
    double cycle_before = 0.0;
    LineSink* sink = &out_sink;
    if (!options_.quiet) {
      if (!refhost::NeedsControlFlow(document.LineCount(),
                                     [&document](std::int64_t line) { return document.Line(line); })) {
        streaming = std::make_unique<StreamingCycle>(out_sink, cycle_.ProfileFor(document, options_.machine));
        sink = streaming.get();
      } else {
        cycle_before = cycle_.Estimate(document, options_.machine);
        recorder = std::make_unique<ChangeRecorder>(out_sink);
        sink = recorder.get();
      }
    }
    const AdjustResult result = AdjustProgram(document, settings, *sink);
    bar.reset();

    switch (result.outcome) {
      case AdjustResult::Outcome::kFailed:
        return Fail(name, result.message + " (left unchanged)");
      case AdjustResult::Outcome::kNoLines:
        std::fprintf(err_, "%s: %s: nothing to adjust (fewer than two lines); left unchanged\n",
                     kProgram, name.c_str());
        if (!options_.output.empty() || to_stdout) {
          // The output still gets the program, as it is.
          for (std::int64_t line = 1; line <= document.LineCount(); ++line) {
            writer.Put(line, document.Line(line), false, document.Line(line));
          }
          if (!Deliver(writer, held.get(), saved, name, destination, true)) return Outcome::kFailed;
        }
        if (filter_) filter_->Show(100);
        return Outcome::kUnchanged;
      case AdjustResult::Outcome::kAdjusted:
        break;
    }
    if (options_.units != 0 && result.units != 0) {
      const int wanted = options_.units == 20 ? AdjustResult::kInch : AdjustResult::kMm;
      if (result.units != wanted) {
        return Fail(name, std::string("is in ") + UnitsText(result.units) + ", not " +
                              UnitsText(wanted) + " (--units); left unchanged");
      }
    }
    if (!result.open_run.empty()) {
      std::fprintf(err_, "%s: %s: warning: %s\n", kProgram, name.c_str(), result.open_run.c_str());
    }

    if (options_.dry_run) {
      diff.Print(out_, name);
      if (std::fflush(out_) != 0 || std::ferror(out_)) {
        return Fail("standard output", "cannot be written (" + Cause(errno) + ")");
      }
    } else if (!Deliver(writer, held.get(), saved, name, destination,
                        result.written > 0 || !options_.output.empty())) {
      return Outcome::kFailed;
    }
    if (filter_) filter_->Show(100);

    if (!options_.quiet) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::string notes;
      for (const std::int64_t line : result.restores_left_out) {
        notes += "; the feed restore on line " + std::to_string(line) +
                 " was left out (no executed code reads that line)";
      }
      std::fprintf(err_, "%s: %lld lines walked, %lld written, in %s, %.3f s%s%s\n", name.c_str(),
                   static_cast<long long>(result.walked), static_cast<long long>(result.written),
                   UnitsText(result.units), seconds,
                   options_.dry_run ? " (dry run, nothing saved)" : "", notes.c_str());
      double cycle_after = 0.0;
      if (streaming) {
        streaming->Finish(cycle_before, cycle_after);
      } else {
        recorder->Apply(document);
        cycle_after = cycle_.Estimate(document, options_.machine);
      }
      cycle_.PrintFile(err_, name, cycle_before, cycle_after);
    }
    return result.written > 0 ? Outcome::kAdjusted : Outcome::kUnchanged;
  }

  // A name as messages and the diff show it: as it is, or in $'...' with
  // escapes when it holds control characters.
  static std::string QuoteName(const std::string& name) {
    bool plain = true;
    for (const char c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) plain = false;
    }
    if (plain) return name;
    std::string out = "$'";
    for (const char c : name) {
      const auto b = static_cast<unsigned char>(c);
      switch (c) {
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\'': out += "\\'"; break;
        case '\\': out += "\\\\"; break;
        default:
          if (b < 0x20 || b == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            out += hex;
          } else {
            out += c;
          }
      }
    }
    return out + "'";
  }

 private:
  // Puts a finished result where it goes: standard output, or saved (when
  // `save`; a program the pass did not write to stays as it is, file and all).
  bool Deliver(LineWriter& writer, std::FILE* held, AtomicFile& saved, const std::string& name,
               const std::string& destination, bool save) {
    std::string error;
    const bool to_stdout = held != nullptr;
    if (!writer.Finish(error)) {
      Fail(to_stdout ? name : QuoteName(destination), "not saved: " + error);
      return false;
    }
    if (to_stdout) {
      if (!CopyStream(held, out_)) {
        Fail("standard output", "cannot be written (" + Cause(errno) + ")");
        return false;
      }
    } else if (save && !saved.Commit(options_.backup, error)) {
      Fail(QuoteName(destination), "not saved: " + error);
      return false;
    }
    return true;
  }

  Outcome Fail(const std::string& name, const std::string& why) {
    std::fprintf(err_, "%s: %s: %s\n", kProgram, name.c_str(), why.c_str());
    return Outcome::kFailed;
  }

  const BatchOptions& options_;
  const feed::PassInput& input_;
  std::FILE* out_;
  std::FILE* err_;
  std::unique_ptr<FilterProgress> filter_;
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
  if (!options.quiet) {
    std::fprintf(err, "%s\n", SettingsLine(input, options.arcs).c_str());
    std::fflush(err);
  }
  FileRun run(options, input, out, err, cycle);
  int adjusted = 0, unchanged = 0, failed = 0;
  for (const std::string& file : options.files) {
    switch (run.Run(file)) {
      case FileRun::Outcome::kAdjusted: ++adjusted; break;
      case FileRun::Outcome::kUnchanged: ++unchanged; break;
      case FileRun::Outcome::kFailed: ++failed; break;
    }
  }
  if (options.files.size() > 1 && !options.quiet) {
    std::string total = std::to_string(options.files.size()) + " files: " + std::to_string(adjusted) +
                        (options.dry_run ? " to adjust" : " adjusted");
    if (unchanged > 0) total += ", " + std::to_string(unchanged) + " unchanged";
    total += ", " + std::to_string(failed) + " failed";
    std::fprintf(err, "%s\n", total.c_str());
  }
  if (!options.quiet) cycle.PrintTotal(err);
  return failed > 0 ? kExitSomeFailed : kExitDone;
}

}  // namespace batch
