// The executed moves: the editor core's whole run of the program, in
// execution order (subroutines, loops, canned cycles as the machine runs
// them).
#include "refhost/core/document.h"
#include "refhost/core/program_run.h"
#include "refhost/toolpath/path_move.h"

namespace refhost {
namespace {

using Sink = std::function<void(const PathMove&)>;

PathMove::Kind KindOf(Motion::Kind kind) {
  switch (kind) {
    case Motion::Kind::kRapid: return PathMove::Kind::kRapid;
    case Motion::Kind::kArcCw: return PathMove::Kind::kArcCw;
    case Motion::Kind::kArcCcw: return PathMove::Kind::kArcCcw;
    case Motion::Kind::kDwell: return PathMove::Kind::kDwell;
    case Motion::Kind::kToolChange: return PathMove::Kind::kToolChange;
    default: return PathMove::Kind::kLine;
  }
}

void Put(void* context, const Motion& m) {
  PathMove move;
  if (ToPathMove(m, move)) (*static_cast<const Sink*>(context))(move);
}

}  // namespace

bool ToPathMove(const Motion& m, PathMove& move) {
  move.kind = KindOf(m.kind);
  move.line = m.line;
  for (int i = 0; i < 3; ++i) {
    move.start[i] = m.start[i];
    move.end[i] = m.end[i];
    move.centre[i] = m.centre[i];
  }
  move.plane = m.plane;
  move.turns = m.turns;
  move.feed = m.feed;
  move.seconds = m.seconds;
  move.exact_stop = m.exact_stop;
  move.tolerance = m.tolerance;
  move.units = m.units;
  const bool still = m.start[0] == m.end[0] && m.start[1] == m.end[1] && m.start[2] == m.end[2];
  return !(still && (m.kind == Motion::Kind::kRapid || m.kind == Motion::Kind::kLine));
}

void ForEachPathMove(const Document& doc, const std::function<void(const PathMove&)>& sink) {
  MotionSink motions;
  motions.put = &Put;
  motions.context = const_cast<Sink*>(&sink);
  ProgramRun::Limits limits;
  limits.per_line = false;  // only the motions are wanted
  ProgramRun run;
  run.Run(doc.LineCount(), [&doc](std::int64_t line) { return doc.Line(line); }, motions, limits);
}

}  // namespace refhost
