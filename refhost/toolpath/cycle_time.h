// The machine time of a program, from its executed moves and a machine
// profile, the way a motion controller plans it (docs/cycle-time.md).
//
// Contracts:
// - Every move runs a trapezoidal speed profile (or a triangular one when it
//   is too short to reach its speed) with look-ahead: no move ends faster
//   than the next can start, and the program starts and ends at rest, as do
//   dwells, tool changes and corners under exact stop.
// - Feed moves run at their feed, rapids at the axes' maximum velocity,
//   both capped by the per-axis velocities; ramps by the per-axis
//   accelerations along the move; arcs also by the centripetal acceleration
//   (v^2 / r within the plane's smallest acceleration).
// - Corners blend at the speed the path tolerance (G64 P, else the profile's
//   blend_tolerance) allows for their angle; reversals stop.
// - A feed move with no feed in force runs at the axes' limit (as a rapid).
// - Inch programs are converted (the profile is in mm).
// - Never throws; memory stays bounded (look-ahead keeps at most
//   CyclePlanner::kWindow moves).
#ifndef REFHOST_TOOLPATH_CYCLE_TIME_H_
#define REFHOST_TOOLPATH_CYCLE_TIME_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "refhost/toolpath/machine_profile.h"
#include "refhost/toolpath/path_move.h"

namespace refhost {

class CyclePlanner {
 public:
  static constexpr std::size_t kWindow = 1 << 12;
  // `on_time(line, seconds)` receives the time of each move, in order, once
  // the look-ahead has fixed it (a line may be reported more than once).
  CyclePlanner(const MachineProfile& profile,
               std::function<void(std::int64_t line, double seconds)> on_time);
  void Add(const PathMove& move);
  // The end of the program: the last move comes to rest. Add() may go on.
  void Finish();
  double total() const { return total_; }  // seconds reported so far

 private:
  struct Segment {
    std::int64_t line;
    double length;     // mm
    double cruise;     // mm/s
    double accel;      // mm/s^2
    double entry_max;  // mm/s, the junction's limit
    double entry;      // planned entry speed
  };
  void Push(const PathMove& move, double length, double cruise, double accel, const double in[3],
            const double out[3]);
  void Plan(std::size_t commit);  // plans the window, reports the first `commit` segments
  void Stop();                    // the path comes to rest here
  void Report(std::int64_t line, double seconds);

  MachineProfile profile_;
  std::function<void(std::int64_t, double)> on_time_;
  std::vector<Segment> window_;
  double total_ = 0.0;
  // The last move's exit direction and its path control, for the next junction.
  bool have_last_ = false;
  double last_dir_[3] = {0, 0, 0};
  bool last_exact_ = false;
};

// The time of each line of a program and of the whole.
struct CycleTime {
  double total = 0.0;          // seconds
  std::vector<double> prefix;  // prefix[k]: seconds of lines 1..k; prefix[0] = 0
  // Seconds of lines first..last (clamped to the document).
  double Lines(std::int64_t first, std::int64_t last) const;
};

CycleTime EstimateCycleTime(const Document& doc, const MachineProfile& profile);

// "m:ss", or "h:mm:ss" from an hour on (seconds rounded to the nearest).
std::string FormatDuration(double seconds);

}  // namespace refhost

#endif  // REFHOST_TOOLPATH_CYCLE_TIME_H_
