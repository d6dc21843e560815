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

#include <functional>

#include "refhost/core/interpreter.h"

namespace refhost {

class Document;

// One executed move: the editor core's machine motion.
using PathMove = Motion;

// True for a rapid or line to where the tool already is: nothing to draw or time.
bool MovesNothing(const PathMove& move);

// Calls sink(const PathMove&) for every executed move of the document in
// execution order.
void ForEachPathMove(const Document& doc, const std::function<void(const PathMove&)>& sink);

}  // namespace refhost

#endif  // REFHOST_TOOLPATH_PATH_MOVE_H_
