#include "refhost/toolpath/machine_profile.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

namespace refhost {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// Reads `count` numbers separated by blanks; false when there are more,
// fewer, or one is not a finite number.
bool ReadNumbers(std::string_view s, double* out, int count) {
  int got = 0;
  while (true) {
    s = Trim(s);
    if (s.empty()) break;
    if (got == count) return false;
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || !std::isfinite(v)) return false;
    const std::size_t used = static_cast<std::size_t>(end - s.data());
    if (used < s.size() && s[used] != ' ' && s[used] != '\t') return false;
    out[got++] = v;
    s.remove_prefix(used);
  }
  return got == count;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

}  // namespace

MachineProfile SmallMillProfile() {
  MachineProfile p;
  p.name = "small mill";
  p.max_velocity[0] = p.max_velocity[1] = 5000;
  p.max_velocity[2] = 3000;
  p.max_acceleration[0] = p.max_acceleration[1] = 800;
  p.max_acceleration[2] = 500;
  p.blend_tolerance = 0.05;
  p.tool_change = 6;
  return p;
}

MachineProfile SmallLatheProfile() {
  MachineProfile p;
  p.name = "small lathe";
  p.max_velocity[0] = 3000;
  p.max_velocity[1] = 3000;  // no Y on most lathes; kept for programs that move it
  p.max_velocity[2] = 6000;
  p.max_acceleration[0] = 600;
  p.max_acceleration[1] = 600;
  p.max_acceleration[2] = 1000;
  p.blend_tolerance = 0.02;
  p.tool_change = 2;
  return p;
}

MachineProfile DefaultProfile(int system_type) {
  return system_type == 304 ? SmallLatheProfile() : SmallMillProfile();
}

bool ParseMachineProfile(std::string_view text, const MachineProfile& base, MachineProfile& out,
                         std::string& error) {
  MachineProfile p = base;
  std::set<std::string> seen;
  int number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t nl = text.find('\n');
    std::string_view line = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    line = Trim(line);
    if (line.empty()) continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      error = where + "expected \"key = value\"";
      return false;
    }
    const std::string key(Trim(line.substr(0, eq)));
    const std::string_view value = Trim(line.substr(eq + 1));
    if (!seen.insert(key).second) {
      error = where + "\"" + key + "\" is given twice";
      return false;
    }
    const auto bad = [&](const char* what) {
      error = where + key + " takes " + what + ", not \"" + std::string(value) + "\"";
      return false;
    };
    if (key == "name") {
      p.name = std::string(value);
    } else if (key == "max_velocity" || key == "max_acceleration") {
      double v[3];
      if (!ReadNumbers(value, v, 3) || !(v[0] > 0 && v[1] > 0 && v[2] > 0)) {
        return bad("three numbers above 0 (X Y Z)");
      }
      double* target = key == "max_velocity" ? p.max_velocity : p.max_acceleration;
      for (int i = 0; i < 3; ++i) target[i] = v[i];
    } else if (key == "blend_tolerance" || key == "tool_change") {
      double v;
      if (!ReadNumbers(value, &v, 1) || v < 0) return bad("a number of 0 or more");
      (key == "tool_change" ? p.tool_change : p.blend_tolerance) = v;
    } else {
      error = where + "unknown key \"" + key +
              "\" (known: name, max_velocity, max_acceleration, blend_tolerance, tool_change)";
      return false;
    }
  }
  out = p;
  return true;
}

std::string FormatMachineProfile(const MachineProfile& p) {
  std::string s = "# Machine profile for the cycle-time estimate (mm, minutes, seconds)\n";
  s += "name = " + p.name + "\n";
  s += "max_velocity = " + Num(p.max_velocity[0]) + " " + Num(p.max_velocity[1]) + " " +
       Num(p.max_velocity[2]) + "      # X Y Z, mm/min; rapids run at these\n";
  s += "max_acceleration = " + Num(p.max_acceleration[0]) + " " + Num(p.max_acceleration[1]) + " " +
       Num(p.max_acceleration[2]) + "    # X Y Z, mm/s^2\n";
  s += "blend_tolerance = " + Num(p.blend_tolerance) + "    # mm, path tolerance of G64 without P\n";
  s += "tool_change = " + Num(p.tool_change) + "    # seconds per M6\n";
  return s;
}

}  // namespace refhost
