// A whole NC program run in execution order, as the controller runs it:
// O-word subroutines (sub, endsub, return, call with #1-#30 local to the
// call), if/elseif/else/endif, while/endwhile, do/while, repeat/endrepeat,
// break and continue, M98/M99 numbered subprograms, and the end at M2/M30
// or the closing "%". What each document line did is kept per line.
//
// The per-line rule (what the automation's CurrentBlock reports):
// - a line that ran once reports its move;
// - a line that ran several times reports its move when every run had the
//   same length, direction, radius and feedrate in force, else no move;
// - a line that never ran (a branch not taken, a subroutine never called,
//   after the end) reports no move, with the state after the nearest line
//   before it that ran;
// - lines that make no single feed move report no move (interpreter.h).
//
// Contracts:
// - Run() never throws. The first line the controller would refuse ends the
//   run there: ErrorLine() and Error() say where and why, and every line
//   from ErrorLine() on (in document order) reports that error.
// - The run is bounded: more than kMaxMoves motions or kMaxLines executed
//   lines is an error at the line reached.
// - Memory: one 4-byte index per document line and one summary (about 100
//   bytes) per line that ran, whatever the number of runs.
#ifndef REFHOST_CORE_PROGRAM_RUN_H_
#define REFHOST_CORE_PROGRAM_RUN_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/core/interpreter.h"

namespace refhost {

// True when `text` holds an O-word or M98/M99: a program with such lines
// needs the whole run; one without reads line by line. May say true for a
// line that only mentions one in a comment.
bool NeedsControlFlow(std::string_view text);
// True when any of lines 1..count (their texts from `text`) does.
bool NeedsControlFlow(std::int64_t count, const std::function<std::string_view(std::int64_t line)>& text);

class ProgramRun {
 public:
  static constexpr std::uint64_t kMaxMoves = 10'000'000;
  static constexpr std::uint64_t kMaxLines = 20'000'000;

  // line (1..count) -> its text; the views must stay valid during Run().
  using TextSource = std::function<std::string_view(std::int64_t line)>;

  struct Limits {
    std::uint64_t moves = kMaxMoves;
    std::uint64_t lines = kMaxLines;
    bool per_line = true;  // false: keep no per-line results (only the motions matter)
  };

  // Runs the program of `count` lines. `sink` receives every motion in
  // execution order.
  void Run(std::int64_t count, const TextSource& text, const MotionSink& sink = {});
  void Run(std::int64_t count, const TextSource& text, const MotionSink& sink, Limits limits);

  // The block of `line` (1..count) by the per-line rule; out.line = line.
  void BlockOf(std::int64_t line, Block& out) const;
  // Times `line` ran.
  std::uint32_t Runs(std::int64_t line) const;
  // True when `line` ran with different feedrates in force.
  bool FeedsDiffer(std::int64_t line) const;

  std::int64_t ErrorLine() const { return error_line_; }  // 0: none
  // The line the run ended at (M2, M30, the closing "%"); 0 when it ran off
  // the last line or stopped at an error.
  std::int64_t EndLine() const { return end_line_; }
  const std::string& Error() const;
  std::uint64_t Motions() const { return motions_; }
  std::uint64_t LinesExecuted() const { return executed_; }
  // Bytes held for the per-line results.
  std::size_t MemoryBytes() const;

 private:
  struct Summary {
    double start[3], end[3], centre[3];
    double feed, radius, n;
    std::int16_t motion10;
    std::uint8_t plane, units;
    std::uint8_t feed_mode_less_93;
    bool moves, incremental, consistent, feeds_differ;
    std::uint32_t runs;
  };
  static Summary From(const Block& b);
  void Record(std::int64_t line, const Block& b);
  void Finish();

  std::vector<std::uint32_t> index_;  // per line: summary + 1, or kDerived | summary + 1, or 0
  std::vector<Summary> summaries_;
  std::int64_t count_ = 0;
  std::int64_t error_line_ = 0;
  std::int64_t end_line_ = 0;
  std::shared_ptr<const std::string> error_;
  std::uint64_t motions_ = 0;
  std::uint64_t executed_ = 0;
  Limits limits_;

  friend class Executor;
};

}  // namespace refhost

#endif  // REFHOST_CORE_PROGRAM_RUN_H_
