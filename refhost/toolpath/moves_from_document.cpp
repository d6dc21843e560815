// The executed moves over the line interpreter: lines in document order.
#include <cmath>

#include "refhost/core/document.h"
#include "refhost/core/interpreter.h"
#include "refhost/core/words.h"
#include "refhost/toolpath/path_move.h"

namespace refhost {
namespace {

// What the line interpreter does not keep: dwell, tool change, path control,
// diameter mode, feed per revolution (G95: F times the S in force), the
// arc's turns.
struct LineExtras {
  bool dwell = false, tool_change = false;
  double p = 0.0;
  bool has_p = false;
  int path_mode = 0;  // 61 exact stop, 64 blending, 0 unchanged
  int diameter = 0;   // 7 diameter, 8 radius, 0 unchanged
  int feed_mode = 0;  // 94 per minute, 95 per revolution, 0 unchanged
  double s = -1.0;    // spindle speed given on the line (-1: none)
};

LineExtras ReadExtras(std::string_view text) {
  LineExtras extras;
  ForEachWord(text, [&](const Word& w) {
    if (!w.has_value) return;
    const double code10 = std::round(w.value * 10.0);
    if (w.letter == 'G') {
      if (code10 == 40) extras.dwell = true;
      else if (code10 == 610 || code10 == 611) extras.path_mode = 61;
      else if (code10 == 640) extras.path_mode = 64;
      else if (code10 == 70) extras.diameter = 7;
      else if (code10 == 80) extras.diameter = 8;
      else if (code10 == 940 || code10 == 950) extras.feed_mode = static_cast<int>(code10 / 10);
    } else if (w.letter == 'M' && code10 == 60) {
      extras.tool_change = true;
    } else if (w.letter == 'S') {
      extras.s = w.value;
    } else if (w.letter == 'P') {
      extras.p = w.value;
      extras.has_p = true;
    }
  });
  return extras;
}

bool FirstNonBlankIs(std::string_view text, char c) {
  for (char ch : text) {
    if (ch == ' ' || ch == '\t') continue;
    return ch == c;
  }
  return false;
}

}  // namespace

void ForEachPathMove(const Document& doc, const std::function<void(const PathMove&)>& sink) {
  ModalState state;
  Block block;
  bool exact_stop = false, diameter = false, per_rev = false;
  double spindle = 0.0;
  double tolerance = 0.0;
  const std::int64_t count = doc.LineCount();
  for (std::int64_t line = 1; line <= count; ++line) {
    const std::string_view text = doc.Line(line);
    InterpretLine(text, state, block);
    if (block.skipped || FirstNonBlankIs(text, '%')) continue;
    const LineExtras extras = ReadExtras(text);
    if (extras.path_mode == 61) {
      exact_stop = true;
    } else if (extras.path_mode == 64) {
      exact_stop = false;
      tolerance = extras.has_p && extras.p > 0 ? extras.p : 0.0;
    }
    if (extras.diameter != 0) diameter = extras.diameter == 7;
    if (extras.feed_mode != 0) per_rev = extras.feed_mode == 95;
    if (extras.s >= 0) spindle = extras.s;

    PathMove move;
    move.line = line;
    move.plane = block.plane;
    move.units = block.units;
    move.exact_stop = exact_stop;
    move.tolerance = tolerance;
    for (int i = 0; i < 3; ++i) move.start[i] = move.end[i] = block.start[i];
    if (diameter) move.start[0] = move.end[0] = block.start[0] / 2;

    if (extras.tool_change) {
      move.kind = PathMove::Kind::kToolChange;
      sink(move);
    }
    if (extras.dwell) {
      move.kind = PathMove::Kind::kDwell;
      move.seconds = extras.has_p && extras.p > 0 ? extras.p : 0.0;
      sink(move);
      continue;
    }
    if (!block.moves) continue;
    const bool same = block.start[0] == block.end[0] && block.start[1] == block.end[1] &&
                      block.start[2] == block.end[2];
    const int motion = block.motion;
    if (motion == 2 || motion == 3) {
      move.kind = motion == 2 ? PathMove::Kind::kArcCw : PathMove::Kind::kArcCcw;
      move.turns = extras.has_p && extras.p >= 1 ? static_cast<int>(extras.p) - 1 : 0;
      for (int i = 0; i < 3; ++i) move.centre[i] = block.centre[i];
      if (diameter) move.centre[0] = block.start[0] / 2 + (block.centre[0] - block.start[0]);
      const int normal = block.plane == 18 ? 1 : block.plane == 19 ? 0 : 2;
      move.centre[normal] = move.start[normal];
    } else if (motion == 1) {
      if (same) continue;
      move.kind = PathMove::Kind::kLine;
    } else if (motion == 0 || motion >= 81) {
      if (same) continue;
      move.kind = PathMove::Kind::kRapid;  // a canned cycle: the move to its hole
    } else {
      continue;
    }
    for (int i = 0; i < 3; ++i) move.end[i] = block.end[i];
    if (diameter) move.end[0] = block.end[0] / 2;
    move.feed = move.kind == PathMove::Kind::kRapid ? 0.0 : per_rev ? block.feed * spindle : block.feed;
    sink(move);
  }
}

}  // namespace refhost
