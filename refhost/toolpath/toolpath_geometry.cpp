#include "refhost/toolpath/toolpath_geometry.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace refhost {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Builder {
  ToolpathGeometry g;
  std::vector<PathVertex> rapids;
  std::vector<std::int64_t> rapid_lines;
  std::set<double> feeds;
  double scale_units = 1.0;
  bool first = true;
  bool any_feed = false;

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
    if (feed < 0) {
      const double len = std::sqrt((b[0] - a[0]) * (b[0] - a[0]) + (b[1] - a[1]) * (b[1] - a[1]) +
                                   (b[2] - a[2]) * (b[2] - a[2]));
      rapids.push_back(Vertex(a, -1, 0));
      rapids.push_back(Vertex(b, -1, static_cast<float>(len)));
      rapid_lines.push_back(line);
    } else {
      g.vertices.push_back(Vertex(a, static_cast<float>(feed), 0));
      g.vertices.push_back(Vertex(b, static_cast<float>(feed), 0));
      g.segment_line.push_back(line);
    }
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
    if (feed >= 0 && feeds.size() < ToolpathGeometry::kMaxFeeds) feeds.insert(feed);
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
    for (int i = 1; i <= count; ++i) {
      const double f = static_cast<double>(i) / count;
      const double angle = t0 + (ccw ? 1 : -1) * sweep * f;
      const double r = r0 + (r1 - r0) * f;
      double p[3];
      p[a0] = c[a0] + r * std::cos(angle);
      p[a1] = c[a1] + r * std::sin(angle);
      p[n] = s[n] + (e[n] - s[n]) * f;
      if (i == count) p[a0] = e[a0], p[a1] = e[a1], p[n] = e[n];
      Segment(prev, p, feed, m.line);
      for (int j = 0; j < 3; ++j) prev[j] = p[j];
    }
  }
};

}  // namespace

void ToolpathGeometry::SegmentsOfLines(std::int64_t first, std::int64_t last,
                                       std::vector<std::uint32_t>& out) const {
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
    const std::function<bool()>& cancelled) {
  Builder b;
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
  g.feed_segments = g.segment_line.size();
  g.vertices.insert(g.vertices.end(), b.rapids.begin(), b.rapids.end());
  g.segment_line.insert(g.segment_line.end(), b.rapid_lines.begin(), b.rapid_lines.end());
  g.feeds.assign(b.feeds.begin(), b.feeds.end());
  g.by_line.resize(g.segment_line.size());
  bool ordered = true;
  for (std::size_t i = 0; i < g.by_line.size(); ++i) g.by_line[i] = static_cast<std::uint32_t>(i);
  for (std::size_t i = 1; i < g.segment_line.size() && ordered; ++i) {
    ordered = i == g.feed_segments || g.segment_line[i - 1] <= g.segment_line[i];
  }
  if (ordered) {
    // Feeds and rapids are each in line order: merge them.
    std::inplace_merge(g.by_line.begin(), g.by_line.begin() + static_cast<std::ptrdiff_t>(g.feed_segments),
                       g.by_line.end(), [&](std::uint32_t a, std::uint32_t c) {
                         return g.segment_line[a] < g.segment_line[c];
                       });
  } else {
    std::stable_sort(g.by_line.begin(), g.by_line.end(), [&](std::uint32_t a, std::uint32_t c) {
      return g.segment_line[a] < g.segment_line[c];
    });
  }
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
