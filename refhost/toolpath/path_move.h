// The executed moves of a program: one stream that the cycle-time planner and
// the toolpath view both consume.
//
// Contracts:
// - ForEachPathMove calls `sink` once per executed move, in execution order
//   (the editor core's whole run: subroutines, loops, canned cycles as the
//   machine runs them); a line that does not move the tool (or has no dwell
//   / tool change) gives nothing. A line may give several moves (a tool
//   change and a move; a canned cycle's rapids and feeds).
// - Coordinates are machine positions in the program's own units (`units`),
//   X already a radius in diameter mode.
// - Never throws by itself (the sink may); the stream ends at the first line
//   the controller would refuse.
#ifndef REFHOST_TOOLPATH_PATH_MOVE_H_
#define REFHOST_TOOLPATH_PATH_MOVE_H_

#include <cstdint>
#include <functional>

namespace refhost {

class Document;

struct PathMove {
  enum class Kind : std::uint8_t { kRapid, kLine, kArcCw, kArcCcw, kDwell, kToolChange };
  Kind kind = Kind::kLine;
  std::int64_t line = 0;                // document line that made it (1-based)
  double start[3] = {0, 0, 0};          // X Y Z, program units
  double end[3] = {0, 0, 0};
  double centre[3] = {0, 0, 0};         // arcs: centre (its normal-axis coordinate = start's)
  int plane = 17;                       // 17, 18, 19
  int turns = 0;                        // arcs: extra full turns (P word), usually 0
  double feed = 0.0;                    // units per minute in force (0 for rapids; G95: F x S)
  double seconds = 0.0;                 // kDwell: seconds
  bool exact_stop = false;              // G61 / G61.1 in force
  double tolerance = 0.0;               // G64 P in force, 0 when G64 has no P
  int units = 21;                       // 20 inch, 21 mm
};

struct Motion;  // refhost/core/interpreter.h

// The path move of one machine motion of the editor core's interpreter;
// false for a rapid or line to where the tool already is (nothing to draw or
// time).
bool ToPathMove(const Motion& motion, PathMove& move);

// Calls sink(const PathMove&) for every executed move of the document in
// execution order.
void ForEachPathMove(const Document& doc, const std::function<void(const PathMove&)>& sink);

}  // namespace refhost

#endif  // REFHOST_TOOLPATH_PATH_MOVE_H_
