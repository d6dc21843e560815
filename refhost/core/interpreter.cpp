#include "refhost/core/interpreter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "refhost/core/gcode_error.h"

namespace refhost {

void ReportState(const ModalState& s, Block& b) {
  b.motion10 = s.motion10;
  b.motion = s.motion10 < 0 ? -1 : s.motion10 / 10;
  b.plane = s.plane;
  b.units = s.units;
  b.incremental = s.incremental;
  b.feed = s.feed;
  b.feed_mode = s.feed_mode;
  for (int i = 0; i < 3; ++i) b.start[i] = b.end[i] = s.Program(i);
}

namespace {

// ---- G and M codes as data: each code's modal group ----

// The modal groups of G codes (the controller's numbering).
enum GGroup : std::int8_t {
  kGNone = -1,
  kGNonModal = 0,     // G4 G10 G28 G30 G52 G53 G92...: this line only
  kGMotion = 1,       // G0 G1 G2 G3 G5.x G33 G38.x G73 G76 G80-G89
  kGPlane = 2,        // G17 G18 G19
  kGDistance = 3,     // G90 G91
  kGArcDistance = 4,  // G90.1 G91.1
  kGFeedMode = 5,     // G93 G94 G95
  kGUnits = 6,        // G20 G21
  kGComp = 7,         // G40 G41 G42: the programmed path is reported
  kGToolLength = 8,   // G43 G43.1 G43.2 G49
  kGRetract = 10,     // G98 G99
  kGCoord = 12,       // G54-G59.3
  kGPath = 13,        // G61 G61.1 G64
  kGSpindle = 14,     // G96 G97
  kGLathe = 15,       // G7 G8
  kGGroups = 16,
};

struct GCode {
  int code10;  // the G number times ten (G38.2 is 382)
  GGroup group;
};

constexpr GCode kGCodes[] = {
    {0, kGMotion},   {10, kGMotion},  {20, kGMotion},  {30, kGMotion},             // rapid, line, arcs
    {50, kGMotion},  {51, kGMotion},  {52, kGMotion},  {53, kGMotion},             // splines, NURBS
    {330, kGMotion}, {331, kGMotion},                                              // spindle-synchronized
    {382, kGMotion}, {383, kGMotion}, {384, kGMotion}, {385, kGMotion},            // probing
    {730, kGMotion}, {760, kGMotion}, {800, kGMotion},                             // cycles, G80 cancels
    {810, kGMotion}, {820, kGMotion}, {830, kGMotion}, {840, kGMotion}, {850, kGMotion},
    {860, kGMotion}, {870, kGMotion}, {880, kGMotion}, {890, kGMotion},
    {40, kGNonModal},  {100, kGNonModal}, {280, kGNonModal}, {281, kGNonModal},    // dwell, data, home
    {300, kGNonModal}, {301, kGNonModal}, {520, kGNonModal}, {530, kGNonModal},
    {920, kGNonModal}, {921, kGNonModal}, {922, kGNonModal}, {923, kGNonModal},    // offsets
    {170, kGPlane}, {180, kGPlane}, {190, kGPlane},
    {171, kGPlane}, {181, kGPlane}, {191, kGPlane},                                // U V W planes: refused below
    {900, kGDistance}, {910, kGDistance}, {901, kGArcDistance}, {911, kGArcDistance},
    {930, kGFeedMode}, {940, kGFeedMode}, {950, kGFeedMode},
    {200, kGUnits}, {210, kGUnits},
    {400, kGComp}, {410, kGComp}, {411, kGComp}, {420, kGComp}, {421, kGComp},
    {430, kGToolLength}, {431, kGToolLength}, {432, kGToolLength}, {490, kGToolLength},
    {980, kGRetract}, {990, kGRetract},
    {540, kGCoord}, {550, kGCoord}, {560, kGCoord}, {570, kGCoord}, {580, kGCoord}, {590, kGCoord},
    {591, kGCoord}, {592, kGCoord}, {593, kGCoord},
    {610, kGPath}, {611, kGPath}, {640, kGPath},
    {960, kGSpindle}, {970, kGSpindle},
    {70, kGLathe}, {80, kGLathe},
};

constexpr int kMaxCode10 = 1000;
constexpr std::array<std::int8_t, kMaxCode10> MakeGIndex() {
  std::array<std::int8_t, kMaxCode10> index{};
  for (auto& g : index) g = kGNone;
  for (const GCode& g : kGCodes) index[static_cast<std::size_t>(g.code10)] = g.group;
  return index;
}
constexpr std::array<std::int8_t, kMaxCode10> kGGroupOf = MakeGIndex();

// M codes: groups (stopping 4, tool change 6, spindle 7, coolant 8 (M7 and
// M8 may stand together), overrides 9, I/O 5, modal state 11, programs 12),
// user codes M100-M199 run nothing the path depends on.
enum MGroup : std::int8_t {
  kMNone = -1, kMStop = 4, kMIo = 5, kMTool = 6, kMSpindle = 7, kMCoolant = 8,
  kMOverride = 9, kMUser = 10, kMState = 11, kMProgram = 12, kMGroups = 13,
};
MGroup MGroupOf(int code) {
  switch (code) {
    case 0: case 1: case 2: case 30: case 60: return kMStop;
    case 6: case 61: return kMTool;
    case 3: case 4: case 5: case 19: return kMSpindle;
    case 7: case 8: case 9: return kMCoolant;
    case 48: case 49: case 50: case 51: case 52: case 53: return kMOverride;
    case 62: case 63: case 64: case 65: case 66: case 67: case 68: return kMIo;
    case 70: case 71: case 72: case 73: return kMState;
    case 98: case 99: return kMProgram;
    default: return code >= 100 && code <= 199 ? kMUser : kMNone;
  }
}

constexpr bool IsCycle(int motion10) {
  return motion10 == 730 || (motion10 >= 810 && motion10 <= 890);
}

std::string Shown(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

std::string GName(int code10) {
  return code10 % 10 ? "G" + std::to_string(code10 / 10) + "." + std::to_string(code10 % 10)
                     : "G" + std::to_string(code10 / 10);
}

int GCode10(double value) {
  double scaled = value * 10.0;
  double rounded = std::nearbyint(scaled);
  if (!(std::fabs(scaled - rounded) < 1e-3) || rounded < 0 || rounded >= kMaxCode10 ||
      kGGroupOf[static_cast<std::size_t>(rounded)] == kGNone) {
    throw GcodeError("G" + Shown(value) + " is not a G code of this dialect");
  }
  return static_cast<int>(rounded);
}

int WholeOf(double value, const char* what) {
  double rounded = std::nearbyint(value);
  if (!(std::fabs(value - rounded) < 1e-4) || std::fabs(rounded) > 1e9) {
    throw GcodeError(std::string(what) + " " + Shown(value) + " is not a whole number");
  }
  return static_cast<int>(rounded);
}

// ---- one line's words, evaluated ----

struct Words {
  bool has[26] = {};
  double v[26] = {};
  int g[kGGroups];       // per group: the code x 10, -1 none
  int m[kMGroups];       // per group: the code, -1 none
  bool m7 = false, m8 = false;
  Words() {
    std::fill(std::begin(g), std::end(g), -1);
    std::fill(std::begin(m), std::end(m), -1);
  }
  bool Has(char letter) const { return has[letter - 'A']; }
  double Get(char letter) const { return v[letter - 'A']; }
  bool AnyAxis() const {
    return Has('X') || Has('Y') || Has('Z') || Has('A') || Has('B') || Has('C') || Has('U') ||
           Has('V') || Has('W');
  }
};

// The plane's two axes (first, second) and its normal, in the order that
// makes G2 clockwise seen from the normal's positive side.
struct PlaneAxes {
  int a, b, normal;
};
PlaneAxes AxesOf(int plane) {
  switch (plane) {
    case 18: return {2, 0, 1};  // Z, X
    case 19: return {1, 2, 0};  // Y, Z
    default: return {0, 1, 2};  // X, Y
  }
}

class Runner {
 public:
  Runner(const ParsedBlock& p, ModalState& s, Block& b, const MotionSink& sink)
      : p_(p), s_(s), b_(b), sink_(sink) {}

  BlockFlow Run() {
    Evaluate();
    for (int i = 0; i < 3; ++i) start_[i] = s_.pos[i];
    start_unknown_ = s_.unknown;

    // In the controller's order of execution.
    if (w_.g[kGFeedMode] >= 0) s_.feed_mode = w_.g[kGFeedMode] / 10;
    if (w_.Has('F')) {
      if (w_.Get('F') < 0) throw GcodeError("a negative feedrate (F" + Shown(w_.Get('F')) + ")");
      s_.feed = w_.Get('F');
    }
    if (w_.Has('S')) {
      if (w_.Get('S') < 0) throw GcodeError("a negative spindle speed");
      s_.speed = w_.Get('S');
    }
    if (w_.Has('T')) s_.selected_tool = WholeOf(w_.Get('T'), "T");
    if (w_.m[kMTool] == 6) {
      s_.tool = s_.selected_tool;
      Motion m = Base(Motion::Kind::kToolChange);
      Put(m);
    } else if (w_.m[kMTool] == 61) {
      if (!w_.Has('Q')) throw GcodeError("M61 needs a Q word");
      s_.tool = s_.selected_tool = WholeOf(w_.Get('Q'), "Q");
    }
    if (w_.g[kGNonModal] == 40) Dwell();
    if (w_.g[kGPlane] >= 0) {
      if (w_.g[kGPlane] % 10) throw GcodeError(GName(w_.g[kGPlane]) + " (a U V W plane) is not run here");
      s_.plane = w_.g[kGPlane] / 10;
    }
    if (w_.g[kGUnits] >= 0) Units(w_.g[kGUnits] / 10);
    if (w_.g[kGLathe] >= 0) s_.diameter = w_.g[kGLathe] == 70;
    bool axis_data = false;  // the line's axis words are a command's data
    if (w_.g[kGToolLength] >= 0) axis_data |= ToolLength(w_.g[kGToolLength]);
    if (w_.g[kGCoord] >= 0) CoordinateSystem(w_.g[kGCoord]);
    if (w_.g[kGPath] >= 0) {
      s_.exact_stop = w_.g[kGPath] != 640;
      s_.tolerance = w_.g[kGPath] == 640 && w_.Has('P') ? w_.Get('P') : 0.0;
    }
    if (w_.g[kGDistance] >= 0) s_.incremental = w_.g[kGDistance] == 910;
    if (w_.g[kGArcDistance] >= 0) s_.arc_absolute = w_.g[kGArcDistance] == 901;
    if (w_.g[kGRetract] >= 0) s_.retract_r = w_.g[kGRetract] == 990;
    machine_coords_ = w_.g[kGNonModal] == 530;
    axis_data |= NonModal(w_.g[kGNonModal]);

    const int previous_motion = s_.motion10;
    if (w_.g[kGMotion] >= 0) s_.motion10 = w_.g[kGMotion] == 800 ? -1 : w_.g[kGMotion];
    if (w_.AnyAxis() && !axis_data) {
      if (s_.motion10 < 0) throw GcodeError("axis words without a motion code in force to use them");
      Move(previous_motion);
    } else if (w_.g[kGMotion] >= 0 && axis_data && w_.g[kGMotion] != 800) {
      throw GcodeError(GName(w_.g[kGMotion]) + " and " + GName(w_.g[kGNonModal]) +
                       " on one line both want the axis words");
    }
    if (machine_coords_ && !moved_) {
      throw GcodeError("G53 needs a G0 or G1 move on its line");
    }
    Report();

    BlockFlow flow;
    const int stop = w_.m[kMStop];
    if (stop == 2 || stop == 30) flow.kind = BlockFlow::Kind::kEnd;
    if (w_.m[kMProgram] == 98) {
      if (!w_.Has('P')) throw GcodeError("M98 needs a P word (the program number)");
      flow.kind = BlockFlow::Kind::kCallProgram;
      flow.program = WholeOf(w_.Get('P'), "P");
      flow.repeat = w_.Has('L') ? WholeOf(w_.Get('L'), "L") : 1;
      if (flow.repeat < 0) throw GcodeError("M98 L must not be negative");
    } else if (w_.m[kMProgram] == 99) {
      flow.kind = BlockFlow::Kind::kReturnProgram;
    }
    return flow;
  }

 private:
  void Evaluate() {
    StateParameters src(s_, b_.line);
    for (const ParsedWord& word : p_.words) {
      const double v = refhost::Evaluate(word.value, p_.code, p_.names, src);
      if (word.letter == 'G') {
        const int code10 = GCode10(v);
        const int group = kGGroupOf[static_cast<std::size_t>(code10)];
        if (w_.g[group] >= 0) {
          throw GcodeError(GName(w_.g[group]) + " and " + GName(code10) + " are of one modal group");
        }
        w_.g[group] = code10;
      } else if (word.letter == 'M') {
        const int code = WholeOf(v, "M");
        const MGroup group = MGroupOf(code);
        if (group == kMNone) throw GcodeError("M" + Shown(v) + " is not an M code of this dialect");
        if (group == kMCoolant && code != 9) {
          (code == 7 ? w_.m7 : w_.m8) = true;
          if (w_.m[group] == 9) throw GcodeError("M9 and M" + std::to_string(code) + " on one line");
          w_.m[group] = code;
          continue;
        }
        if (w_.m[group] >= 0) {
          throw GcodeError("M" + std::to_string(w_.m[group]) + " and M" + std::to_string(code) +
                           " are of one modal group");
        }
        w_.m[group] = code;
      } else {
        w_.has[word.letter - 'A'] = true;
        w_.v[word.letter - 'A'] = v;
      }
    }
    // Settings: every value first, then every assignment.
    struct Pending {
      const Setting* setting;
      int index;
      double value;
    };
    Pending pending[64];
    std::size_t count = 0;
    for (const Setting& setting : p_.settings) {
      if (count == std::size(pending)) throw GcodeError("more than 64 parameter settings on one line");
      Pending& e = pending[count++];
      e.setting = &setting;
      e.index = setting.named ? 0 : ParameterIndex(refhost::Evaluate(setting.index, p_.code, p_.names, src));
      e.value = refhost::Evaluate(setting.value, p_.code, p_.names, src);
    }
    for (std::size_t i = 0; i < count; ++i) {
      if (pending[i].setting->named) {
        s_.params.SetNamed(p_.Name(*pending[i].setting), pending[i].value);
      } else {
        s_.params.SetNumbered(pending[i].index, pending[i].value);
      }
    }
  }

  Motion Base(Motion::Kind kind) const {
    Motion m;
    m.kind = kind;
    m.line = b_.line;
    for (int i = 0; i < 3; ++i) m.start[i] = m.end[i] = s_.pos[i];
    m.plane = s_.plane;
    m.exact_stop = s_.exact_stop;
    m.tolerance = s_.tolerance;
    m.units = s_.units;
    return m;
  }
  void Put(const Motion& m) const {
    if (sink_) sink_(m);
  }
  // A straight motion from the position to `to`, which becomes the position.
  void Straight(bool rapid, const double to[3], double feed) {
    Motion m = Base(rapid ? Motion::Kind::kRapid : Motion::Kind::kLine);
    for (int i = 0; i < 3; ++i) {
      m.end[i] = to[i];
      s_.pos[i] = to[i];
    }
    m.feed = rapid ? 0.0 : feed;
    Put(m);
  }

  // The feedrate per minute for a feed move of `length`, checked as the
  // controller checks it.
  double FeedFor(double length) const {
    switch (s_.feed_mode) {
      case 93:
        if (!w_.Has('F') || s_.feed <= 0) {
          throw GcodeError("a feed move under G93 (inverse time) needs its own F word");
        }
        return length * s_.feed;
      case 95:
        if (s_.feed <= 0) throw GcodeError("a feed move with no feedrate in force (F0)");
        return s_.feed * s_.speed;
      default:
        if (s_.feed <= 0) throw GcodeError("a feed move with no feedrate in force (F0)");
        return s_.feed;
    }
  }

  void Dwell() {
    if (!w_.Has('P')) throw GcodeError("G4 needs a P word (the time)");
    if (w_.Get('P') < 0) throw GcodeError("a negative dwell time");
    Motion m = Base(Motion::Kind::kDwell);
    m.seconds = w_.Get('P');
    Put(m);
  }

  void Units(int units) {
    if (units == s_.units) return;
    const double k = units == 20 ? 1 / 25.4 : 25.4;
    for (int i = 0; i < 3; ++i) {
      s_.pos[i] *= k;
      start_[i] *= k;
      s_.work[i] *= k;
      s_.g92[i] *= k;
    }
    s_.tool_z *= k;
    s_.cycle_r *= k;
    s_.cycle_z *= k;
    s_.cycle_q *= k;
    s_.cycle_level *= k;
    s_.tolerance *= k;
    s_.units = units;
  }

  bool ToolLength(int code10) {
    switch (code10) {
      case 430: s_.tool_z = 0.0; return false;  // from the tool table, which starts empty
      case 431:
        s_.tool_z = w_.Has('Z') ? w_.Get('Z') : 0.0;
        return true;
      case 432:
        if (w_.Has('Z')) s_.tool_z += w_.Get('Z');
        return true;
      default: s_.tool_z = 0.0; return false;  // G49
    }
  }

  static int SystemOf(int code10) {
    switch (code10) {
      case 591: return 7;
      case 592: return 8;
      case 593: return 9;
      default: return code10 / 10 - 53;
    }
  }
  static int OffsetParameter(int system, int axis) { return 5201 + 20 * system + axis; }

  void CoordinateSystem(int code10) {
    s_.coord_system = SystemOf(code10);
    for (int i = 0; i < 3; ++i) s_.work[i] = s_.params.Numbered(OffsetParameter(s_.coord_system, i));
  }

  // An axis word as a position: X halved under G7.
  double AxisWord(int axis) const {
    double v = w_.Get(static_cast<char>('X' + axis));
    return axis == 0 && s_.diameter ? v / 2 : v;
  }

  // Group 0 codes; true when they take the axis words.
  bool NonModal(int code10) {
    switch (code10) {
      case 100: G10(); return true;
      case 280: case 300: Home(code10 == 280 ? 5161 : 5181); return true;
      case 281: case 301:
        for (int i = 0; i < 3; ++i) s_.params.SetNumbered((code10 == 281 ? 5161 : 5181) + i, s_.pos[i]);
        return false;
      case 520: case 920:
        for (int i = 0; i < 3; ++i) {
          if (!w_.Has(static_cast<char>('X' + i))) continue;
          const double v = AxisWord(i);
          s_.g92[i] = code10 == 520 ? v : s_.pos[i] - s_.work[i] - (i == 2 ? s_.tool_z : 0.0) - v;
          s_.params.SetNumbered(5211 + i, s_.g92[i]);
        }
        s_.params.SetNumbered(5210, 1);
        return true;
      case 921: case 922:
        for (int i = 0; i < 3; ++i) {
          s_.g92[i] = 0.0;
          if (code10 == 921) s_.params.SetNumbered(5211 + i, 0.0);
        }
        if (code10 == 921) s_.params.SetNumbered(5210, 0);
        return false;
      case 923:
        for (int i = 0; i < 3; ++i) s_.g92[i] = s_.params.Numbered(5211 + i);
        return false;
      default: return false;
    }
  }

  void G10() {
    if (!w_.Has('L')) throw GcodeError("G10 needs an L word");
    const int l = WholeOf(w_.Get('L'), "L");
    if (l == 1 || l == 10 || l == 11) return;  // tool table entries: no path depends on them here
    if (l != 2 && l != 20) throw GcodeError("G10 L" + std::to_string(l) + " is not run here");
    if (!w_.Has('P')) throw GcodeError("G10 L" + std::to_string(l) + " needs a P word");
    int system = WholeOf(w_.Get('P'), "P");
    if (system < 0 || system > 9) throw GcodeError("G10 P" + std::to_string(system) + " is outside 0 to 9");
    if (system == 0) system = s_.coord_system;
    for (int i = 0; i < 3; ++i) {
      if (!w_.Has(static_cast<char>('X' + i))) continue;
      double v = AxisWord(i);
      if (l == 20) v = s_.pos[i] - s_.g92[i] - (i == 2 ? s_.tool_z : 0.0) - v;
      s_.params.SetNumbered(OffsetParameter(system, i), v);
      if (system == s_.coord_system) s_.work[i] = v;
    }
  }

  // G28 / G30: through the axis words' point, then home (parameters `base`..).
  void Home(int base) {
    double through[3];
    bool any = false;
    for (int i = 0; i < 3; ++i) any |= w_.Has(static_cast<char>('X' + i));
    if (any) {
      Target(through);
      Straight(true, through, 0.0);
    }
    double home[3] = {s_.pos[0], s_.pos[1], s_.pos[2]};
    for (int i = 0; i < 3; ++i) {
      if (any && !w_.Has(static_cast<char>('X' + i))) continue;
      home[i] = s_.params.Numbered(base + i);
      s_.unknown &= static_cast<std::uint8_t>(~(1u << i));
    }
    Straight(true, home, 0.0);
  }

  // The end point of a move to the line's axis words.
  void Target(double to[3]) {
    for (int i = 0; i < 3; ++i) {
      to[i] = s_.pos[i];
      if (!w_.Has(static_cast<char>('X' + i))) continue;
      const double v = AxisWord(i);
      if (machine_coords_) {
        to[i] = v;
      } else if (s_.incremental) {
        to[i] = s_.pos[i] + v;
        continue;  // an unknown axis stays unknown
      } else {
        to[i] = v + s_.Offset(i);
      }
      s_.unknown &= static_cast<std::uint8_t>(~(1u << i));
    }
  }

  void Move(int previous_motion) {
    const int motion = s_.motion10;
    if (machine_coords_ && motion != 0 && motion != 10) {
      throw GcodeError("G53 works with G0 or G1 only");
    }
    if (machine_coords_ && s_.incremental) throw GcodeError("G53 under G91");
    double to[3];
    switch (motion) {
      case 0: case 10: {
        Target(to);
        const double length = std::sqrt((to[0] - s_.pos[0]) * (to[0] - s_.pos[0]) +
                                        (to[1] - s_.pos[1]) * (to[1] - s_.pos[1]) +
                                        (to[2] - s_.pos[2]) * (to[2] - s_.pos[2]));
        const double feed = motion == 0 ? 0.0 : FeedFor(length);
        Straight(motion == 0, to, feed);
        moved_ = true;
        simple_ = true;
        return;
      }
      case 20: case 30: Arc(motion == 20); return;
      case 50: case 51: case 52: case 53: case 330:  // splines and threading: to their end point
        Target(to);
        if (motion == 330) {
          if (!w_.Has('K')) throw GcodeError("G33 needs a K word (distance per revolution)");
          Straight(false, to, w_.Get('K') * s_.speed);
        } else {
          Straight(false, to, FeedFor(0.0));
        }
        return;
      case 331: case 760: return;  // rigid tapping and the threading cycle end where they began
      case 382: case 383: case 384: case 385: {
        Target(to);
        const std::uint8_t probed = static_cast<std::uint8_t>(
            (w_.Has('X') ? 1 : 0) | (w_.Has('Y') ? 2 : 0) | (w_.Has('Z') ? 4 : 0));
        Straight(false, to, FeedFor(0.0));
        s_.unknown |= probed;  // the probe stops where it touches
        return;
      }
      default:
        if (IsCycle(motion)) Cycle(previous_motion);
        return;
    }
  }

  void Arc(bool clockwise) {
    const PlaneAxes axes = AxesOf(s_.plane);
    double to[3];
    Target(to);
    double centre[3] = {s_.pos[0], s_.pos[1], s_.pos[2]};
    double radius = 0.0;
    const double da = to[axes.a] - s_.pos[axes.a];
    const double db = to[axes.b] - s_.pos[axes.b];
    if (w_.Has('R')) {
      const double r = w_.Get('R');
      const double chord = std::hypot(da, db);
      if (chord == 0) throw GcodeError("an R arc whose end point is its start point");
      if (chord / 2 - std::fabs(r) > 1e-4 * std::max(1.0, std::fabs(r))) {
        throw GcodeError("the arc radius R" + Shown(r) + " is too small to reach the end point");
      }
      const double h2 = r * r - chord * chord / 4;
      const double h = h2 > 0 ? std::sqrt(h2) : 0.0;
      // Left of the chord for a counter-clockwise short arc; R < 0 and G2 each flip it.
      const double side = (clockwise ? -1.0 : 1.0) * (r < 0 ? -1.0 : 1.0);
      centre[axes.a] = s_.pos[axes.a] + da / 2 + side * h * (-db / chord);
      centre[axes.b] = s_.pos[axes.b] + db / 2 + side * h * (da / chord);
      radius = std::fabs(r);
    } else {
      const char la = static_cast<char>('I' + axes.a), lb = static_cast<char>('I' + axes.b);
      if (!w_.Has(la) && !w_.Has(lb)) {
        throw GcodeError(std::string("an arc needs R or its centre (") + la + " or " + lb + ")");
      }
      // An offset left out counts as 0: the start point's own coordinate in
      // relative mode (G91.1), the axis origin in absolute mode (G90.1).
      for (int axis : {axes.a, axes.b}) {
        const char letter = static_cast<char>('I' + axis);
        const double off = w_.Has(letter) ? w_.Get(letter) : 0.0;
        centre[axis] = s_.arc_absolute ? off + s_.Offset(axis) : s_.pos[axis] + off;
      }
      radius = std::hypot(centre[axes.a] - s_.pos[axes.a], centre[axes.b] - s_.pos[axes.b]);
      if (radius == 0) throw GcodeError("an arc whose centre is its start point");
    }
    int turns = 0;
    if (w_.Has('P')) {
      turns = WholeOf(w_.Get('P'), "P") - 1;
      if (turns < 0) throw GcodeError("an arc's P (turns) must be 1 or more");
    }
    Motion m = Base(clockwise ? Motion::Kind::kArcCw : Motion::Kind::kArcCcw);
    for (int i = 0; i < 3; ++i) {
      m.end[i] = to[i];
      m.centre[i] = centre[i];
    }
    m.turns = turns;
    // Arc length in the plane times the helix rise, for inverse time.
    const double sweep = radius * 2 * 3.14159265358979323846 * (1 + turns);
    m.feed = FeedFor(std::hypot(sweep, to[axes.normal] - s_.pos[axes.normal]));
    Put(m);
    for (int i = 0; i < 3; ++i) s_.pos[i] = to[i];
    arc_radius_ = radius;
    for (int i = 0; i < 3; ++i) arc_centre_[i] = centre[i];
    moved_ = true;
    simple_ = true;
  }

  // G73, G81-G89: drilling at the axis words' point(s), repeated L times.
  void Cycle(int previous_motion) {
    const PlaneAxes axes = AxesOf(s_.plane);
    const int n = axes.normal;
    const char normal_letter = static_cast<char>('X' + n);
    if (w_.Has(normal_letter)) s_.cycle_z = w_.Get(normal_letter);
    if (w_.Has('R')) s_.cycle_r = w_.Get('R');
    if (w_.Has('Q')) s_.cycle_q = w_.Get('Q');
    if (w_.Has('P')) s_.cycle_p = w_.Get('P');
    const bool series_begins = previous_motion != s_.motion10;
    if (series_begins && (!w_.Has(normal_letter) || !w_.Has('R'))) {
      throw GcodeError(GName(s_.motion10) + " needs " + normal_letter + " and R words when it begins");
    }
    if ((s_.motion10 == 730 || s_.motion10 == 830) && !(s_.cycle_q > 0)) {
      throw GcodeError(GName(s_.motion10) + " needs a Q word above 0");
    }
    const int repeat = w_.Has('L') ? WholeOf(w_.Get('L'), "L") : 1;
    if (repeat < 0) throw GcodeError("a canned cycle's L must not be negative");
    const double offset_n = s_.Offset(n);
    if (series_begins) s_.cycle_level = s_.pos[n];
    double r_level, z_level;
    if (s_.incremental) {
      r_level = s_.cycle_level + s_.cycle_r;
      z_level = r_level + s_.cycle_z;
    } else {
      r_level = s_.cycle_r + offset_n;
      z_level = s_.cycle_z + offset_n;
    }
    const double clear = s_.retract_r ? r_level : std::max(s_.cycle_level, r_level);
    const bool feed_out = s_.motion10 == 840 || s_.motion10 == 850 || s_.motion10 == 890;
    for (int k = 0; k < repeat; ++k) {
      double to[3];
      Target(to);  // X, Y of the hole (the normal word is the cycle's)
      to[n] = s_.pos[n];
      if (s_.pos[n] < r_level) {
        double up[3] = {s_.pos[0], s_.pos[1], s_.pos[2]};
        up[n] = r_level;
        Straight(true, up, 0.0);
        to[n] = r_level;
      }
      Straight(true, to, 0.0);
      double at[3] = {to[0], to[1], to[2]};
      at[n] = r_level;
      Straight(true, at, 0.0);
      at[n] = z_level;
      Straight(false, at, FeedFor(std::fabs(z_level - r_level)));
      if ((s_.motion10 == 820 || s_.motion10 == 890) && s_.cycle_p > 0) {
        Motion m = Base(Motion::Kind::kDwell);
        m.seconds = s_.cycle_p;
        Put(m);
      }
      at[n] = clear;
      Straight(!feed_out, at, feed_out ? FeedFor(std::fabs(clear - z_level)) : 0.0);
    }
  }

  void Report() {
    ReportState(s_, b_);
    b_.n = p_.n;
    // One rapid, line or arc per minute from a known point is the line's move.
    const bool reported = moved_ && simple_ && start_unknown_ == 0 && s_.unknown == 0 &&
                          s_.feed_mode == 94;
    for (int i = 0; i < 3; ++i) {
      const double offset = s_.Offset(i);
      b_.end[i] = s_.pos[i] - offset;
      b_.start[i] = reported ? start_[i] - offset : b_.end[i];
      if (reported && arc_radius_ > 0) b_.centre[i] = arc_centre_[i] - offset;
    }
    b_.moves = reported;
    b_.radius = reported ? arc_radius_ : 0.0;
  }

  const ParsedBlock& p_;
  ModalState& s_;
  Block& b_;
  const MotionSink& sink_;
  Words w_;
  double start_[3] = {0, 0, 0};
  std::uint8_t start_unknown_ = 0;
  bool machine_coords_ = false;
  bool moved_ = false;   // a rapid, line or arc ran
  bool simple_ = false;  // ...and nothing else moved
  double arc_radius_ = 0.0;
  double arc_centre_[3] = {0, 0, 0};
};

}  // namespace

// ---- parameters as a line reads them ----

double StateParameters::Numbered(int n) const {
  switch (n) {
    case 5220: return s_.coord_system;
    case 5400: return s_.tool;
    case 5420: case 5421: case 5422: return s_.Program(n - 5420);
    default: return s_.params.Numbered(n);
  }
}

bool StateParameters::Named(std::string_view name, double& value) const {
  if (!name.empty() && name[0] == '_' && Predefined(name, value)) return true;
  if (s_.params.FindNamed(name, value)) return true;
  if (name == "_value" || name == "_value_returned") {  // 0 until a subroutine returns one
    value = 0.0;
    return true;
  }
  return false;
}

bool StateParameters::Predefined(std::string_view name, double& v) const {
  struct Entry {
    const char* name;
    double value;
  };
  const Entry entries[] = {
      {"_x", s_.Program(0)}, {"_y", s_.Program(1)}, {"_z", s_.Program(2)},
      {"_abs_x", s_.pos[0]}, {"_abs_y", s_.pos[1]}, {"_abs_z", s_.pos[2]},
      {"_feed", s_.feed}, {"_rpm", s_.speed},
      {"_metric", s_.units == 21 ? 1.0 : 0.0}, {"_imperial", s_.units == 20 ? 1.0 : 0.0},
      {"_absolute", s_.incremental ? 0.0 : 1.0}, {"_incremental", s_.incremental ? 1.0 : 0.0},
      {"_inverse_time", s_.feed_mode == 93 ? 1.0 : 0.0},
      {"_units_per_minute", s_.feed_mode == 94 ? 1.0 : 0.0},
      {"_units_per_rev", s_.feed_mode == 95 ? 1.0 : 0.0},
      {"_ijk_absolute_mode", s_.arc_absolute ? 1.0 : 0.0},
      {"_lathe_diameter_mode", s_.diameter ? 1.0 : 0.0},
      {"_lathe_radius_mode", s_.diameter ? 0.0 : 1.0},
      {"_retract_r_plane", s_.retract_r ? 0.0 : 1.0}, {"_retract_old_z", s_.retract_r ? 1.0 : 0.0},
      {"_motion_mode", s_.motion10 < 0 ? 800.0 : s_.motion10},
      {"_plane", s_.plane * 10.0},
      {"_coord_system", s_.coord_system <= 6 ? 530.0 + 10 * s_.coord_system : 584.0 + s_.coord_system},
      {"_current_tool", static_cast<double>(s_.tool)},
      {"_selected_tool", static_cast<double>(s_.selected_tool)},
      {"_line", static_cast<double>(line_)},
      {"_call_level", static_cast<double>(s_.params.Depth())},
  };
  for (const Entry& e : entries) {
    if (name == e.name) {
      v = e.value;
      return true;
    }
  }
  return false;
}

BlockFlow ExecuteBlock(const ParsedBlock& parsed, ModalState& state, Block& block,
                       const MotionSink& sink) {
  const std::int64_t line = block.line;
  block = Block{};
  block.line = line;
  return Runner(parsed, state, block, sink).Run();
}

void InterpretLine(std::string_view text, ModalState& state, Block& block, const MotionSink& sink) {
  thread_local ParsedBlock parsed;
  if (state.error || state.ended) {
    parsed.Clear();  // nothing more runs: no need to read it
  } else {
    ReadBlock(text, parsed);
  }
  InterpretParsed(parsed, state, block, sink);
}

void InterpretParsed(const ParsedBlock& parsed, ModalState& state, Block& block,
                     const MotionSink& sink) {
  const std::int64_t line = block.line;
  block = Block{};
  block.line = line;
  if (state.error) {
    ReportState(state, block);
    block.error = state.error;
    block.error_line = state.error_line;
    return;
  }
  if (state.ended) {
    ReportState(state, block);
    block.skipped = block.after_end = true;
    return;
  }
  auto fail = [&](const std::string& why) {
    state.error = std::make_shared<const std::string>(why);
    state.error_line = line;
    ReportState(state, block);
    block.error = state.error;
    block.error_line = line;
  };
  if (parsed.percent) {
    // A leading "%" opens the program, the next one ends it.
    if (!state.began) {
      state.began = true;
    } else {
      state.ended = true;
    }
    ReportState(state, block);
    return;
  }
  if (!parsed.error.empty()) return fail(parsed.error);
  if (parsed.block_delete) {
    ReportState(state, block);
    block.skipped = true;
    block.n = parsed.n;
    return;
  }
  if (parsed.has_o || !parsed.words.empty() || !parsed.settings.empty()) state.began = true;
  if (parsed.has_o) {
    return fail(std::string("o-word ") + (parsed.o.kind == OKind::kProgram ? "program numbers" : OKeyword(parsed.o.kind)) +
                " run only as part of the whole program");
  }
  try {
    BlockFlow flow = ExecuteBlock(parsed, state, block, sink);
    if (flow.kind == BlockFlow::Kind::kEnd) state.ended = true;
    if (flow.kind == BlockFlow::Kind::kCallProgram || flow.kind == BlockFlow::Kind::kReturnProgram) {
      fail("M98 and M99 run only as part of the whole program");
    }
  } catch (const GcodeError& e) {
    fail(e.what());
  }
}

double BlockValue(const Block& block, int index) {
  switch (index) {
    case 1: return block.motion10 < 0 ? -1.0 : block.motion10 / 10.0;
    case 2: return block.plane;
    case 3: return block.incremental ? 91 : 90;
    case 4: case 5: case 6: return block.start[index - 4];
    case 7: case 8: case 9: return block.end[index - 7];
    case 10: case 11: case 12: return block.centre[index - 10];
    case 13: return block.units;
    case 14: return block.n;
    case 15: return static_cast<double>(block.line);
    case 16: return block.moves ? 1 : 0;
    case 19: return block.feed;
    case 23: return block.radius;
    default: return 0.0;
  }
}

bool IsKnownIndex(int index) { return (index >= 1 && index <= 16) || index == 19 || index == 23; }

}  // namespace refhost
