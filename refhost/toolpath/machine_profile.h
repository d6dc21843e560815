// What a machine can do, for the cycle-time estimate: per-axis limits, the
// path tolerance used when G64 gives none, and the time of a tool change.
// Kept as a plain text file of "key = value" lines ('#' starts a comment):
//
//   name = small mill
//   max_velocity = 5000 5000 3000      # X Y Z, mm/min (rapids run at these)
//   max_acceleration = 800 800 500     # X Y Z, mm/s^2
//   blend_tolerance = 0.05             # mm, the path tolerance of G64 without P
//   tool_change = 6                    # seconds per M6
//
// Contracts:
// - Values are in mm, minutes (velocity) and seconds; the planner converts
//   inch programs.
// - ParseMachineProfile accepts every key at most once and in any order;
//   keys left out keep the value of `base`. Unknown keys, values that are
//   not numbers or not above 0 (tool_change and blend_tolerance may be 0)
//   are errors naming the line.
// - FormatMachineProfile writes a text that ParseMachineProfile reads back
//   to the same values.
#ifndef REFHOST_TOOLPATH_MACHINE_PROFILE_H_
#define REFHOST_TOOLPATH_MACHINE_PROFILE_H_

#include <string>
#include <string_view>

namespace refhost {

struct MachineProfile {
  std::string name;
  double max_velocity[3] = {0, 0, 0};      // X Y Z, mm/min
  double max_acceleration[3] = {0, 0, 0};  // X Y Z, mm/s^2
  double blend_tolerance = 0.0;            // mm
  double tool_change = 0.0;                // s
};

MachineProfile SmallMillProfile();
MachineProfile SmallLatheProfile();
// The default for a system type (304 lathe, else mill).
MachineProfile DefaultProfile(int system_type);

bool ParseMachineProfile(std::string_view text, const MachineProfile& base, MachineProfile& out,
                         std::string& error);
std::string FormatMachineProfile(const MachineProfile& profile);

}  // namespace refhost

#endif  // REFHOST_TOOLPATH_MACHINE_PROFILE_H_
