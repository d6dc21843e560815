#include "refhost/toolpath/cycle_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "refhost/core/document.h"

namespace refhost {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTiny = 1e-9;  // mm: shorter moves take no time
constexpr double kInf = std::numeric_limits<double>::infinity();

// Speed (mm/s) and acceleration (mm/s^2) a straight move along unit `u` may
// use within every axis's limits.
void AxisLimits(const MachineProfile& p, const double u[3], double& speed, double& accel) {
  speed = kInf;
  accel = kInf;
  for (int i = 0; i < 3; ++i) {
    const double c = std::fabs(u[i]);
    if (c < 1e-12) continue;
    speed = std::min(speed, p.max_velocity[i] / 60.0 / c);
    accel = std::min(accel, p.max_acceleration[i] / c);
  }
}

// Time to cover `length` starting at v0 and ending at v1, cruising at most
// at vc, ramping at a.
double SegmentTime(double length, double v0, double v1, double vc, double a) {
  const double up = (vc * vc - v0 * v0) / (2 * a);
  const double down = (vc * vc - v1 * v1) / (2 * a);
  if (up + down <= length) return (vc - v0) / a + (vc - v1) / a + (length - up - down) / vc;
  // Triangular: the peak speed where the ramps meet.
  const double peak = std::sqrt(std::max(0.0, (2 * a * length + v0 * v0 + v1 * v1) / 2));
  return std::max(0.0, (peak - v0) / a) + std::max(0.0, (peak - v1) / a);
}

}  // namespace

CyclePlanner::CyclePlanner(const MachineProfile& profile,
                           std::function<void(std::int64_t, double)> on_time)
    : profile_(profile), on_time_(std::move(on_time)) {
  window_.reserve(1024);
}

void CyclePlanner::Report(std::int64_t line, double seconds) {
  total_ += seconds;
  if (on_time_) on_time_(line, seconds);
}

void CyclePlanner::Add(const PathMove& m) {
  using Kind = PathMove::Kind;
  const double k = m.units == 20 ? 25.4 : 1.0;
  if (m.kind == Kind::kDwell || m.kind == Kind::kToolChange) {
    Stop();
    Report(m.line, m.kind == Kind::kDwell ? m.seconds : profile_.tool_change);
    return;
  }
  double d[3], u[3];
  for (int i = 0; i < 3; ++i) d[i] = (m.end[i] - m.start[i]) * k;
  const bool arc = m.kind == Kind::kArcCw || m.kind == Kind::kArcCcw;
  if (arc) {
    // Plane axes in right-handed order about the normal.
    int a0 = 0, a1 = 1, n = 2;
    if (m.plane == 18) a0 = 2, a1 = 0, n = 1;
    else if (m.plane == 19) a0 = 1, a1 = 2, n = 0;
    const double r0[2] = {(m.start[a0] - m.centre[a0]) * k, (m.start[a1] - m.centre[a1]) * k};
    const double r1[2] = {(m.end[a0] - m.centre[a0]) * k, (m.end[a1] - m.centre[a1]) * k};
    const double radius = std::hypot(r0[0], r0[1]);
    const double radius_end = std::hypot(r1[0], r1[1]);
    if (radius > kTiny && radius_end > kTiny) {
      const bool ccw = m.kind == Kind::kArcCcw;
      double sweep = std::atan2(r1[1], r1[0]) - std::atan2(r0[1], r0[0]);
      if (!ccw) sweep = -sweep;
      while (sweep <= 1e-12) sweep += 2 * kPi;  // end on start: a full circle
      while (sweep > 2 * kPi + 1e-12) sweep -= 2 * kPi;
      sweep += 2 * kPi * std::max(0, m.turns);
      const double mean_r = (radius + radius_end) / 2;
      const double planar = mean_r * sweep;
      const double rise = d[n];
      const double length = std::hypot(planar, rise);
      if (length < kTiny) return;
      const double s = ccw ? 1.0 : -1.0;
      double in[3] = {0, 0, 0}, out[3] = {0, 0, 0};
      in[a0] = -s * r0[1] / radius * planar / length;
      in[a1] = s * r0[0] / radius * planar / length;
      out[a0] = -s * r1[1] / radius_end * planar / length;
      out[a1] = s * r1[0] / radius_end * planar / length;
      in[n] = out[n] = rise / length;
      // Within the plane the arc turns through every direction: the
      // plane's smaller axis limits hold, the normal axis's for its share.
      const double plane_v = std::min(profile_.max_velocity[a0], profile_.max_velocity[a1]) / 60.0;
      const double plane_a = std::min(profile_.max_acceleration[a0], profile_.max_acceleration[a1]);
      double cruise = plane_v / (planar / length);
      double accel = plane_a / (planar / length);
      const double climb = std::fabs(rise) / length;
      if (climb > 1e-12) {
        cruise = std::min(cruise, profile_.max_velocity[n] / 60.0 / climb);
        accel = std::min(accel, profile_.max_acceleration[n] / climb);
      }
      // Centripetal: v^2 / r within the plane's acceleration.
      const double bend = planar / length;
      cruise = std::min(cruise, std::sqrt(plane_a * std::min(radius, radius_end)) / bend);
      if (m.feed > 0) cruise = std::min(cruise, m.feed * k / 60.0);
      Push(m, length, cruise, accel, in, out);
      return;
    }
    // A degenerate arc runs as a line.
  }
  const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
  if (length < kTiny) return;
  for (int i = 0; i < 3; ++i) u[i] = d[i] / length;
  double cruise, accel;
  AxisLimits(profile_, u, cruise, accel);
  if (m.kind != Kind::kRapid && m.feed > 0) cruise = std::min(cruise, m.feed * k / 60.0);
  Push(m, length, cruise, accel, u, u);
}

void CyclePlanner::Push(const PathMove& m, double length, double cruise, double accel,
                        const double in[3], const double out[3]) {
  double entry_max = 0.0;
  if (have_last_ && !last_exact_ && !window_.empty()) {
    const Segment& prev = window_.back();
    const double dot = std::clamp(last_dir_[0] * in[0] + last_dir_[1] * in[1] + last_dir_[2] * in[2], -1.0, 1.0);
    const double limit = std::min(prev.cruise, cruise);
    if (dot > 1 - 1e-9) {
      entry_max = limit;  // straight on
    } else {
      // The corner's arc of radius r deviating `tolerance` from the corner:
      // v^2 = a r with r = tolerance * s / (1 - s), s = cos(turn / 2).
      const double tolerance = m.tolerance > 0 ? m.tolerance * (m.units == 20 ? 25.4 : 1.0)
                                               : profile_.blend_tolerance;
      const double s = std::sqrt(std::max(0.0, (1 + dot) / 2));
      const double a = std::min(prev.accel, accel);
      entry_max = s < 1e-12 ? 0.0 : std::min(limit, std::sqrt(a * tolerance * s / (1 - s)));
    }
  } else if (have_last_ && !window_.empty()) {
    entry_max = 0.0;  // exact stop
  }
  window_.push_back({m.line, length, cruise, accel, entry_max, 0.0});
  for (int i = 0; i < 3; ++i) last_dir_[i] = out[i];
  have_last_ = true;
  last_exact_ = m.exact_stop;
  if (window_.size() >= kWindow) Plan(kWindow / 2);
}

void CyclePlanner::Plan(std::size_t commit) {
  const std::size_t n = window_.size();
  if (n == 0) return;
  // Backward: each move can still stop by the end of the window.
  double exit = 0.0;
  std::vector<double> entry(n);
  for (std::size_t i = n; i-- > 0;) {
    const Segment& s = window_[i];
    const double reach = std::sqrt(exit * exit + 2 * s.accel * s.length);
    entry[i] = std::min(s.entry_max, reach);
    exit = entry[i];
  }
  // Forward: each move ends no faster than it can accelerate to. The first
  // entry is fixed (at rest, or by the last commit).
  entry[0] = window_[0].entry_max;
  if (window_[0].entry > 0) entry[0] = window_[0].entry;
  for (std::size_t i = 0; i < n; ++i) {
    const Segment& s = window_[i];
    const double reach = std::sqrt(entry[i] * entry[i] + 2 * s.accel * s.length);
    const double next = i + 1 < n ? entry[i + 1] : 0.0;
    const double out = std::min(next, reach);
    if (i < commit) Report(s.line, SegmentTime(s.length, entry[i], out, s.cruise, s.accel));
    if (i + 1 < n) entry[i + 1] = out;
  }
  if (commit >= n) {
    window_.clear();
    return;
  }
  window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(commit));
  window_[0].entry = entry[commit];
  window_[0].entry_max = entry[commit];
}

void CyclePlanner::Stop() {
  Plan(window_.size());
  have_last_ = false;
}

void CyclePlanner::Finish() { Stop(); }

double CycleTime::Lines(std::int64_t first, std::int64_t last) const {
  if (prefix.empty()) return 0.0;
  const std::int64_t top = static_cast<std::int64_t>(prefix.size()) - 1;
  first = std::clamp<std::int64_t>(first, 1, top + 1);
  last = std::clamp<std::int64_t>(last, 0, top);
  if (last < first) return 0.0;
  return prefix[static_cast<std::size_t>(last)] - prefix[static_cast<std::size_t>(first - 1)];
}

CycleTime EstimateCycleTime(const Document& doc, const MachineProfile& profile) {
  CycleTime result;
  const std::size_t lines = static_cast<std::size_t>(doc.LineCount());
  result.prefix.assign(lines + 1, 0.0);
  CyclePlanner planner(profile, [&](std::int64_t line, double seconds) {
    if (line >= 1 && static_cast<std::size_t>(line) <= lines) {
      result.prefix[static_cast<std::size_t>(line)] += seconds;
    }
  });
  ForEachPathMove(doc, [&](const PathMove& m) { planner.Add(m); });
  planner.Finish();
  for (std::size_t i = 1; i <= lines; ++i) result.prefix[i] += result.prefix[i - 1];
  result.total = planner.total();
  return result;
}

std::string FormatDuration(double seconds) {
  if (!(seconds >= 0) || !std::isfinite(seconds)) seconds = 0;
  const long long s = std::llround(seconds);
  char buf[48];
  if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  }
  return buf;
}

}  // namespace refhost
