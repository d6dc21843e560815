// One program through the feed pass, in memory: the editor's core walks and
// reads the lines, the same pass as the window's decides, and each line goes
// out to a sink as soon as the pass is past it.
#ifndef BATCH_ADJUST_H_
#define BATCH_ADJUST_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "batch/line_sink.h"
#include "feed/pass.h"
#include "refhost/core/document.h"

namespace batch {

struct AdjustSettings {
  feed::PassInput input;
  int machine = 0;               // system type; 0: guessed as the editor guesses
  std::int64_t first_line = 0;   // 0: line 1
  std::int64_t last_line = 0;    // 0: the last line
  // Called now and then during the walk with the lines walked so far and the
  // lines to walk.
  std::function<void(std::int64_t walked, std::int64_t total)> progress;
};

struct AdjustResult {
  enum class Outcome {
    kAdjusted,  // the pass ran to its end; every line went to the sink
    kNoLines,   // the pass's message (`message`); nothing went to the sink
    kFailed,    // the pass ended with an error (`message`); the sink got part of the lines
  };
  Outcome outcome = Outcome::kAdjusted;
  std::string message;
  std::int64_t walked = 0;   // lines stepped
  std::int64_t written = 0;  // lines that received a feed word (and a mark)
  // The units the walked lines are in: kMm, kInch or both (0: none walked).
  static constexpr int kMm = 1, kInch = 2;
  int units = 0;
  // Lines where the pass would restore the program's feed although no
  // executed code reads them (a "%" line, a line after M2 or M30): the
  // restore is left out, and the line stays as it was.
  std::vector<std::int64_t> restores_left_out;
  // When the walk ends inside a run of changed lines before the program's
  // end: a sentence naming the feed that stays in force and from where.
  std::string open_run;
};

// Runs one pass over `document`, selected as a user selecting the lines
// (clamped to the program, like the editor's selection), and puts every line
// of the result to `sink`. The pass's host is the editor's automation
// members over `document`, except that the feed words and marks go to the
// sink instead of the document (which stays as loaded): the editor's word
// editing and its checks, without undo history for a pass nobody undoes.
// A failing pass reports the error with the line it was walking, in the
// user's words (no "add:" prefix of the member).
AdjustResult AdjustProgram(refhost::Document& document, const AdjustSettings& settings,
                           LineSink& sink);

}  // namespace batch

#endif  // BATCH_ADJUST_H_
