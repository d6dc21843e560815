// One program through the feed pass, in memory: the editor's document and
// automation members as the host, the same pass as the window's.
#ifndef BATCH_ADJUST_H_
#define BATCH_ADJUST_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "feed/pass.h"
#include "refhost/core/document.h"

namespace batch {

struct AdjustSettings {
  feed::PassInput input;
  int machine = 0;               // system type; 0: guessed as the editor guesses
  std::int64_t first_line = 0;   // 0: line 1
  std::int64_t last_line = 0;    // 0: the last line
  bool keep_changes = false;     // fill AdjustResult::changes
  // Called now and then during the walk with the lines walked so far and the
  // lines to walk.
  std::function<void(std::int64_t walked, std::int64_t total)> progress;
};

// One line the pass rewrote.
struct LineChange {
  std::int64_t line = 0;
  std::string before, after;
};

struct AdjustResult {
  enum class Outcome {
    kAdjusted,  // the pass ran to its end; the document holds the result
    kNoLines,   // the pass's message (`message`); the document is unchanged
    kFailed,    // the pass ended with an error (`message`); the document must not be saved
  };
  Outcome outcome = Outcome::kAdjusted;
  std::string message;
  std::int64_t walked = 0;   // lines stepped
  std::int64_t written = 0;  // lines that received a feed word
  std::vector<LineChange> changes;  // with keep_changes, lines whose text changed, ascending
};

// Runs one pass over `document`, selected as a user selecting the lines
// (clamped to the program, like the editor's selection). A failing pass
// reports the error with the line it was walking.
AdjustResult AdjustProgram(refhost::Document& document, const AdjustSettings& settings);

}  // namespace batch

#endif  // BATCH_ADJUST_H_
