// The executed moves: the editor core's whole run of the program, in
// execution order (subroutines, loops, canned cycles as the machine runs
// them).
#include "refhost/core/document.h"
#include "refhost/core/program_run.h"
#include "refhost/toolpath/path_move.h"

namespace refhost {
namespace {

using Sink = std::function<void(const PathMove&)>;

void Put(void* context, const Motion& m) {
  if (!MovesNothing(m)) (*static_cast<const Sink*>(context))(m);
}

}  // namespace

bool MovesNothing(const PathMove& m) {
  const bool still = m.start[0] == m.end[0] && m.start[1] == m.end[1] && m.start[2] == m.end[2];
  return still && (m.kind == PathMove::Kind::kRapid || m.kind == PathMove::Kind::kLine);
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
