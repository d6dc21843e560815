#include "refhost/toolpath/toolpath_geometry.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace refhost {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Builder {
  ToolpathGeometry g;
  std::set<double> feeds;
  double scale_units = 1.0;
  bool first = true;
  bool any_feed = false;
  double last_feed = -2;

  void Extend(const double p[3]) {
    for (int i = 0; i < 3; ++i) {
      g.min[i] = std::min(g.min[i], p[i]);
      g.max[i] = std::max(g.max[i], p[i]);
    }
  }
  PathVertex Vertex(const double p[3], float feed, float along) const {
    return {static_cast<float>(p[0] - g.origin[0]), static_cast<float>(p[1] - g.origin[1]),
            static_cast<float>(p[2] - g.origin[2]), feed, along};
  }
  void Segment(const double a[3], const double b[3], double feed, std::int64_t line) {
    Extend(a);
    Extend(b);
    float along = 0;
    if (feed < 0) {
      along = static_cast<float>(std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) +
                                           (b[2] - a[2]) * (b[2] - a[2])));
    } else {
      ++g.feed_segments;
    }
    g.vertices.push_back(Vertex(a, static_cast<float>(feed), 0));
    g.vertices.push_back(Vertex(b, static_cast<float>(feed), along));
    g.segment_line.push_back(line);
  }

  void Add(const PathMove& m) {
    using Kind = PathMove::Kind;
    if (m.kind == Kind::kDwell || m.kind == Kind::kToolChange) return;
    if (first) {
      g.units = m.units;
      for (int i = 0; i < 3; ++i) g.origin[i] = g.min[i] = g.max[i] = m.start[i];
      first = false;
      g.empty = false;
    }
    const double k = m.units == g.units ? 1.0 : m.units == 20 ? 25.4 : 1 / 25.4;
    double s[3], e[3], c[3];
    for (int i = 0; i < 3; ++i) s[i] = m.start[i] * k, e[i] = m.end[i] * k, c[i] = m.centre[i] * k;
    const double feed = m.kind == Kind::kRapid ? -1.0 : m.feed * k;
    if (feed >= 0 && feed != last_feed && feeds.size() < ToolpathGeometry::kMaxFeeds) feeds.insert(feed);
    last_feed = feed;
    if (feed >= 0) {
      g.min_feed = any_feed ? std::min(g.min_feed, feed) : feed;
      g.max_feed = any_feed ? std::max(g.max_feed, feed) : feed;
      any_feed = true;
    }
    if (m.kind != Kind::kArcCw && m.kind != Kind::kArcCcw) {
      Segment(s, e, feed, m.line);
      return;
    }
    int a0 = 0, a1 = 1, n = 2;
    if (m.plane == 18) a0 = 2, a1 = 0, n = 1;
    else if (m.plane == 19) a0 = 1, a1 = 2, n = 0;
    const double r0 = std::hypot(s[a0] - c[a0], s[a1] - c[a1]);
    const double r1 = std::hypot(e[a0] - c[a0], e[a1] - c[a1]);
    if (r0 < 1e-9 || r1 < 1e-9) {
      Segment(s, e, feed, m.line);
      return;
    }
    const double t0 = std::atan2(s[a1] - c[a1], s[a0] - c[a0]);
    double sweep = std::atan2(e[a1] - c[a1], e[a0] - c[a0]) - t0;
    const bool ccw = m.kind == Kind::kArcCcw;
    if (!ccw) sweep = -sweep;
    while (sweep <= 1e-12) sweep += 2 * kPi;
    while (sweep > 2 * kPi + 1e-12) sweep -= 2 * kPi;
    sweep += 2 * kPi * std::max(0, m.turns);
    const double step = 2 * std::acos(0.998);  // sagitta 0.2 % of r, about 7 degrees
    const int count = std::clamp(static_cast<int>(std::ceil(sweep / step)), 1, 4096);
    double prev[3] = {s[0], s[1], s[2]};
    // Unit vector turned by one chord's angle each step.
    const double turn = (ccw ? 1 : -1) * sweep / count;
    const double ct = std::cos(turn), st = std::sin(turn);
    double ux = std::cos(t0), uy = std::sin(t0);
    for (int i = 1; i <= count; ++i) {
      const double f = static_cast<double>(i) / count;
      const double nx = ux * ct - uy * st;
      uy = ux * st + uy * ct;
      ux = nx;
      const double r = r0 + (r1 - r0) * f;
      double p[3];
      p[a0] = c[a0] + r * ux;
      p[a1] = c[a1] + r * uy;
      p[n] = s[n] + (e[n] - s[n]) * f;
      if (i == count) p[a0] = e[a0], p[a1] = e[a1], p[n] = e[n];
      Segment(prev, p, feed, m.line);
      for (int j = 0; j < 3; ++j) prev[j] = p[j];
    }
  }
};

// Merges runs of `count` connected segments from `v` (of one feed unless
// `any_feed`) into chords of at least `tolerance`, calling emit(a, b) for
// each chord.
template <class Emit>
void Merge(const PathVertex* v, std::size_t count, double tolerance, bool any_feed, Emit&& emit) {
  const float t2 = static_cast<float>(tolerance * tolerance);
  std::size_t i = 0;
  while (i < count) {
    PathVertex anchor = v[2 * i];
    float along = 0;
    std::size_t j = i;
    while (true) {
      const PathVertex& end = v[2 * j + 1];
      const float dx = end.x - anchor.x, dy = end.y - anchor.y, dz = end.z - anchor.z;
      const PathVertex* next = j + 1 < count ? &v[2 * j + 2] : nullptr;
      const bool joins = next != nullptr && next->x == end.x && next->y == end.y && next->z == end.z &&
                         (any_feed ? (next->feed < 0) == (end.feed < 0) : next->feed == end.feed);
      const float d2 = dx * dx + dy * dy + dz * dz;
      if (d2 >= t2 || !joins) {
        PathVertex a = anchor, b = end;
        b.feed = a.feed;
        a.along = anchor.feed < 0 ? along : 0;
        b.along = anchor.feed < 0 ? along + std::sqrt(d2) : 0;
        along = b.along;
        emit(a, b);
        anchor = end;
        anchor.feed = next != nullptr ? next->feed : end.feed;
      }
      ++j;
      if (!joins) break;
    }
    i = j;
  }
}

// The level of `tolerance`, keeping every `stride`-th chord. A counting
// pass first, so that only the kept chords take memory.
ToolpathGeometry::Level MakeLevel(const ToolpathGeometry& g, double tolerance, bool any_feed,
                                  std::size_t budget) {
  std::size_t count = 0;
  Merge(g.vertices.data(), g.SegmentCount(), tolerance, any_feed, [&](const PathVertex&, const PathVertex&) { ++count; });
  ToolpathGeometry::Level level;
  level.tolerance = tolerance;
  const std::size_t stride = budget == 0 || count <= budget ? 1 : (count + budget - 1) / budget;
  level.sketch = stride > 1;
  level.vertices.reserve(2 * (count / stride + 1));
  std::size_t k = 0;
  Merge(g.vertices.data(), g.SegmentCount(), tolerance, any_feed, [&](const PathVertex& a, const PathVertex& b) {
    if (k++ % stride != 0) return;
    level.vertices.push_back(a);
    level.vertices.push_back(b);
  });
  return level;
}

// A fine level (one feed per chord, chords of size/4000) when it saves much,
// and a fast one (chords of size/500 across feeds; every k-th of them when
// there are more than the budget).
void BuildLevels(ToolpathGeometry& g) {
  if (g.SegmentCount() <= ToolpathGeometry::kLevelBudget) return;
  double size = 0;
  for (int i = 0; i < 3; ++i) size = std::max(size, g.max[i] - g.min[i]);
  std::size_t fine_count = 0;
  Merge(g.vertices.data(), g.SegmentCount(), size / 4000, false,
        [&](const PathVertex&, const PathVertex&) { ++fine_count; });
  std::size_t previous = g.SegmentCount();
  if (fine_count * 10 < previous * 7) {
    g.levels.push_back(MakeLevel(g, size / 4000, false, 0));
    previous = fine_count;
  }
  if (previous <= ToolpathGeometry::kLevelBudget) return;
  ToolpathGeometry::Level fast = MakeLevel(g, size / 500, true, ToolpathGeometry::kLevelBudget);
  if (fast.SegmentCount() < previous) g.levels.push_back(std::move(fast));
}

}  // namespace

void ToolpathGeometry::SegmentsOfLines(std::int64_t first, std::int64_t last,
                                       std::vector<std::uint32_t>& out) const {
  if (by_line.empty()) {
    auto lo = std::lower_bound(segment_line.begin(), segment_line.end(), first);
    for (auto it = lo; it != segment_line.end() && *it <= last; ++it) {
      out.push_back(static_cast<std::uint32_t>(it - segment_line.begin()));
    }
    return;
  }
  auto lo = std::lower_bound(by_line.begin(), by_line.end(), first,
                             [&](std::uint32_t s, std::int64_t line) { return segment_line[s] < line; });
  for (auto it = lo; it != by_line.end() && segment_line[*it] <= last; ++it) out.push_back(*it);
}

std::vector<std::uint32_t> ToolpathGeometry::SegmentsOf(const std::vector<std::int64_t>& lines) const {
  std::vector<std::uint32_t> out;
  std::size_t i = 0;
  while (i < lines.size()) {
    // Runs of consecutive lines in one search.
    std::size_t j = i;
    while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1) ++j;
    SegmentsOfLines(lines[i], lines[j], out);
    i = j + 1;
  }
  return out;
}

ToolpathGeometry BuildToolpathGeometry(
    const std::function<void(const std::function<void(const PathMove&)>&)>& for_each_move,
    const std::function<bool()>& cancelled, std::size_t expected_moves) {
  Builder b;
  b.g.vertices.reserve(expected_moves * 3);
  b.g.segment_line.reserve(expected_moves * 3 / 2);
  std::size_t count = 0;
  struct Cancelled {};
  try {
    for_each_move([&](const PathMove& m) {
      if (cancelled && (++count & 0xFFF) == 0 && cancelled()) throw Cancelled{};
      b.Add(m);
    });
  } catch (const Cancelled&) {
  }
  ToolpathGeometry g = std::move(b.g);
  g.feeds.assign(b.feeds.begin(), b.feeds.end());
  if (!std::is_sorted(g.segment_line.begin(), g.segment_line.end())) {
    g.by_line.resize(g.segment_line.size());
    for (std::size_t i = 0; i < g.by_line.size(); ++i) g.by_line[i] = static_cast<std::uint32_t>(i);
    std::stable_sort(g.by_line.begin(), g.by_line.end(), [&](std::uint32_t a, std::uint32_t c) {
      return g.segment_line[a] < g.segment_line[c];
    });
  }
  BuildLevels(g);
  return g;
}

std::array<float, 3> FeedColour(float t) {
  static constexpr float kStops[5][3] = {
      {0.20f, 0.35f, 1.00f}, {0.00f, 0.85f, 0.90f}, {0.20f, 0.85f, 0.20f}, {1.00f, 0.85f, 0.00f}, {1.00f, 0.20f, 0.10f}};
  t = std::clamp(t, 0.0f, 1.0f) * 4.0f;
  const int i = std::min(3, static_cast<int>(t));
  const float f = t - static_cast<float>(i);
  return {kStops[i][0] + (kStops[i + 1][0] - kStops[i][0]) * f,
          kStops[i][1] + (kStops[i + 1][1] - kStops[i][1]) * f,
          kStops[i][2] + (kStops[i + 1][2] - kStops[i][2]) * f};
}

}  // namespace refhost
