// Figures of the cycle-time estimate on a generated mill program of a
// million lines (moves, arcs, feed changes). Prints each figure.
//
// Usage: refhost_toolpath_bench [lines]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "batch/tests/generated_programs.h"
#include "refhost/core/document.h"
#include "refhost/toolpath/cycle_time.h"
#include "refhost/toolpath/toolpath_geometry.h"

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;
  refhost::Document doc;
  doc.Load(batch::testing::MillProgram(lines));
  const auto start = Clock::now();
  std::size_t moves = 0;
  refhost::ForEachPathMove(doc, [&](const refhost::PathMove&) { ++moves; });
  const double walk = std::chrono::duration<double>(Clock::now() - start).count();
  const auto plan_start = Clock::now();
  const refhost::CycleTime t = refhost::EstimateCycleTime(doc, refhost::SmallMillProfile());
  const double plan = std::chrono::duration<double>(Clock::now() - plan_start).count();
  const auto geometry_start = Clock::now();
  const refhost::ToolpathGeometry g = refhost::BuildToolpathGeometry(
      [&](const std::function<void(const refhost::PathMove&)>& sink) { refhost::ForEachPathMove(doc, sink); }, {},
      static_cast<std::size_t>(doc.LineCount()));
  const double geometry = std::chrono::duration<double>(Clock::now() - geometry_start).count();
  std::printf("toolpath geometry: %.3f s, %zu segments\n", geometry, g.SegmentCount());
  std::printf("lines %lld, moves %zu\n", static_cast<long long>(doc.LineCount()), moves);
  std::printf("executed moves only: %.3f s\n", walk);
  std::printf("cycle-time estimate: %.3f s (limit 1 s), cycle %s\n", plan,
              refhost::FormatDuration(t.total).c_str());
  return plan <= 1.0 ? 0 : 1;
}
