// Deterministic NC programs for the tests: a mill program and a lathe
// program with short and long moves in every direction, small and large
// arcs, feed changes, comments, blank and "%" lines.
#ifndef BATCH_TESTS_GENERATED_PROGRAMS_H_
#define BATCH_TESTS_GENERATED_PROGRAMS_H_

#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace batch::testing {

inline std::string MillProgram(int lines, unsigned seed = 7) {
  std::mt19937 random(seed);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const auto coord = [&] { return (pick(4000) - 2000) / 100.0; };
  std::string out = "%\n(generated mill program)\nG21 G90 G17\nG0 X0 Y0 Z5\nG1 Z-1 F300\n";
  double x = 0, y = 0;
  bool arc = false;  // an arc code in force: a packed step names G1 (an arc needs its centre)
  char buf[128];
  for (int i = 0; i < lines; ++i) {
    const int kind = pick(12);
    const bool was_arc = arc;
    arc = kind == 5 || kind == 6 || (arc && (kind == 9 || kind == 10));
    switch (kind) {
      case 0: case 1: {  // a short diagonal step
        const double d = (1 + pick(40)) / 100.0;
        x += pick(2) ? d : -d;
        y += pick(2) ? d : -d;
        std::snprintf(buf, sizeof buf, "G1 X%.3f Y%.3f\n", x, y);
        break;
      }
      case 2: case 3:  // a short step along one axis or at an angle, packed
        x += (pick(60) - 30) / 100.0;
        std::snprintf(buf, sizeof buf, "N%d%sX%.3fY%.2f\n", i, was_arc ? "G1" : "", x, y + pick(3) * 0.1);
        break;
      case 4:  // a long move
        x = coord(), y = coord();
        std::snprintf(buf, sizeof buf, "G1 X%.2f Y%.2f Z-%.1f\n", x, y, pick(3) * 0.5);
        break;
      case 5:  // an arc by R, small or large
        x += 1, y += 1;
        std::snprintf(buf, sizeof buf, "G%d X%.3f Y%.3f R%.2f\n", 2 + pick(2), x, y, 0.8 + pick(40) * 0.1);
        break;
      case 6:  // an arc by I J
        x += 0.5;
        // I from 0.1 on: a centre at the start point is no arc.
        std::snprintf(buf, sizeof buf, "G3 X%.3f Y%.3f I%.2f J%.2f\n", x, y, (1 + pick(30)) * 0.1, pick(30) * 0.1);
        break;
      case 7:  // a feed change
        std::snprintf(buf, sizeof buf, "G1 F%d\n", 100 + pick(5) * 50);
        break;
      case 8:  // a rapid
        x = coord();
        std::snprintf(buf, sizeof buf, "G0 X%.2f\n", x);
        break;
      case 9:
        std::snprintf(buf, sizeof buf, "(step %d)\n", i);
        break;
      case 10:
        std::snprintf(buf, sizeof buf, "%s\n", pick(2) ? "" : "M8");
        break;
      default:  // a short move with its own feed
        y += 0.2;
        std::snprintf(buf, sizeof buf, "G1 X%.3f Y%.3f F%d ; cut\n", x + 0.2, y, 150 + pick(3) * 25);
        x += 0.2;
        break;
    }
    out += buf;
  }
  out += "M30\n%\n";
  return out;
}

inline std::string LatheProgram(int lines, unsigned seed = 11) {
  std::mt19937 random(seed);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::string out = "G21\nG18 G90\nG0 X20 Z2 S800 M3\nG1 Z0 F0.2\n";
  double x = 20, z = 0;
  bool arc = false;  // as in MillProgram
  char buf[128];
  for (int i = 0; i < lines; ++i) {
    const int kind = pick(8);
    const bool was_arc = arc;
    arc = kind == 4 || (arc && kind == 7);
    switch (kind) {
      case 0: case 1: {  // a chamfer-like diagonal step in X-Z
        const double d = (1 + pick(30)) / 10.0;
        x -= d;
        z -= d;
        std::snprintf(buf, sizeof buf, "G1 X%.3f Z%.3f\n", x, z);
        break;
      }
      case 2:  // a short facing step, Y words that a lathe ignores
        z -= pick(20) / 10.0;
        std::snprintf(buf, sizeof buf, "  %sZ%.2f Y%d\n", was_arc ? "G1 " : "", z, pick(400000));
        break;
      case 3:  // a long turn
        z -= 30;
        std::snprintf(buf, sizeof buf, "G01 Z%.1f\n", z);
        break;
      case 4:
        x += 1;
        std::snprintf(buf, sizeof buf, "G0%d X%.3f Z%.3f K-%.1f\n", 2 + pick(2), x, z - 1, 0.5 + pick(30) * 0.1);
        break;
      case 5:
        std::snprintf(buf, sizeof buf, "G1 F%.2f\n", 0.05 + pick(5) * 0.05);
        break;
      case 6:
        x = 20 + pick(20);
        std::snprintf(buf, sizeof buf, "G00 X%.1f Z2\n", x);
        z = 2;
        break;
      default:
        std::snprintf(buf, sizeof buf, "(pass %d)\n", i);
        break;
    }
    out += buf;
  }
  out += "M30\n";
  return out;
}

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace batch::testing

#endif  // BATCH_TESTS_GENERATED_PROGRAMS_H_
