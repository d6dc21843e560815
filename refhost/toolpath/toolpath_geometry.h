// The drawable toolpath of a program: its executed moves as line segments
// (arcs and helices cut into chords), each with the line that made it and
// its feed, for a view to upload as one vertex buffer.
//
// Contracts:
// - Segments in execution order (vertices 2k and 2k+1 make segment k); a
//   rapid's feed is -1.
// - Positions are in the units of the program's first move (other moves
//   converted), less `origin`, as floats.
// - `along` runs from 0 along each rapid (for dashes), in the same units.
// - Chords stay within 0.2 % of the arc's radius (about 7 degrees each).
// - Standard library only; one geometry may be read from any thread.
#ifndef REFHOST_TOOLPATH_TOOLPATH_GEOMETRY_H_
#define REFHOST_TOOLPATH_TOOLPATH_GEOMETRY_H_

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "refhost/toolpath/path_move.h"

namespace refhost {

struct PathVertex {
  float x, y, z;
  float feed;   // units per minute; -1 for a rapid
  float along;  // rapids: distance from the segment's start
};

struct ToolpathGeometry {
  std::vector<PathVertex> vertices;
  std::vector<std::int64_t> segment_line;  // per segment
  std::size_t feed_segments = 0;           // how many are feed moves
  double origin[3] = {0, 0, 0};            // added back for program coordinates
  double min[3] = {0, 0, 0}, max[3] = {0, 0, 0};  // extents in program coordinates
  bool empty = true;
  int units = 21;
  double min_feed = 0, max_feed = 0;  // of the feed moves
  std::vector<double> feeds;          // the distinct feeds, ascending (at most kMaxFeeds)
  static constexpr std::size_t kMaxFeeds = 64;
  // Segment indices ordered by line; empty when the segments already are.
  std::vector<std::uint32_t> by_line;

  // Coarser copies of the path for drawing, finer first, each with fewer
  // segments than the one before: runs of connected segments merged
  // wherever a point lies within `tolerance` of the last kept one. Empty
  // when the path has at most kLevelBudget segments. The first level keeps
  // one feed per chord (size / 4000); the last, a sketch for a moving
  // camera, merges across feeds (size / 500) and keeps every k-th chord so
  // as to hold at most kLevelBudget.
  struct Level {
    double tolerance = 0;
    bool sketch = false;  // thinned: for a moving camera only
    std::vector<PathVertex> vertices;  // as above
    std::size_t SegmentCount() const { return vertices.size() / 2; }
  };
  static constexpr std::size_t kLevelBudget = 75000;
  std::vector<Level> levels;

  std::size_t SegmentCount() const { return segment_line.size(); }
  // Appends the segments of lines first..last to `out`.
  void SegmentsOfLines(std::int64_t first, std::int64_t last, std::vector<std::uint32_t>& out) const;
  // Indices of the segments of the (ascending) `lines`.
  std::vector<std::uint32_t> SegmentsOf(const std::vector<std::int64_t>& lines) const;
};

// Builds the geometry from `for_each_move` (ForEachPathMove bound to a
// document). `cancelled`, when given, is polled now and then; a cancelled
// build returns what it has. `expected_moves` sizes the buffers.
ToolpathGeometry BuildToolpathGeometry(
    const std::function<void(const std::function<void(const PathMove&)>&)>& for_each_move,
    const std::function<bool()>& cancelled = {}, std::size_t expected_moves = 0);

// The feed colour scale: t in 0..1 (slowest to fastest) to RGB in 0..1,
// blue - cyan - green - yellow - red. The view's shader holds the same.
std::array<float, 3> FeedColour(float t);

}  // namespace refhost

#endif  // REFHOST_TOOLPATH_TOOLPATH_GEOMETRY_H_
