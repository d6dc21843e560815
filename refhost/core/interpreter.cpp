#include "refhost/core/interpreter.h"

#include <array>
#include <cmath>

#include "refhost/core/words.h"

namespace refhost {

namespace {

// What a G code does to the line.
enum class GKind : std::uint8_t {
  kNone,         // not in the table: read and ignored
  kMotion,       // sets the motion mode to `value`
  kDistance,     // value 1: G91, 0: G90
  kArcDistance,  // value 1: G90.1 (I J K absolute), 0: G91.1
  kPlane,        // value: 17, 18, 19
  kUnits,        // value: 20, 21
  kAxisData,     // the line's axis words are this command's data, not a move
};

struct GRule {
  int code10;  // the G number times ten (G90.1 is 901)
  GKind kind;
  int value;
};

// Each rule says which code it handles and why.

constexpr GRule kGRules[] = {
    {0, GKind::kMotion, 0},        // G0: rapid move to the axis words
    {10, GKind::kMotion, 1},       // G1: feed move in a line
    {20, GKind::kMotion, 2},       // G2: clockwise arc
    {30, GKind::kMotion, 3},       // G3: counter-clockwise arc
    {800, GKind::kMotion, -1},     // G80: cancels the motion mode
    {810, GKind::kMotion, 81},     // G81-G89: canned cycles; axis words place the hole
    {820, GKind::kMotion, 82},
    {830, GKind::kMotion, 83},
    {840, GKind::kMotion, 84},
    {850, GKind::kMotion, 85},
    {860, GKind::kMotion, 86},
    {870, GKind::kMotion, 87},
    {880, GKind::kMotion, 88},
    {890, GKind::kMotion, 89},
    {40, GKind::kAxisData, 0},     // G4: dwell, P is the time; no motion
    {100, GKind::kAxisData, 0},    // G10: setting data; axis words are values
    {280, GKind::kAxisData, 0},    // G28: homing through a point; position left as it was
    {281, GKind::kAxisData, 0},    // G28.1: stores a position
    {300, GKind::kAxisData, 0},    // G30: as G28
    {301, GKind::kAxisData, 0},    // G30.1: as G28.1
    {920, GKind::kAxisData, 0},    // G92: coordinate offset; no motion
    {921, GKind::kAxisData, 0},    // G92.1-G92.3: offset reset and restore
    {922, GKind::kAxisData, 0},
    {923, GKind::kAxisData, 0},
    {170, GKind::kPlane, 17},      // G17: X-Y plane, offsets I J
    {180, GKind::kPlane, 18},      // G18: Z-X plane, offsets I K (lathe)
    {190, GKind::kPlane, 19},      // G19: Y-Z plane, offsets J K
    {200, GKind::kUnits, 20},      // G20: inch
    {210, GKind::kUnits, 21},      // G21: mm
    {900, GKind::kDistance, 0},    // G90: absolute axis words
    {910, GKind::kDistance, 1},    // G91: incremental axis words
    {901, GKind::kArcDistance, 1}, // G90.1: absolute I J K
    {911, GKind::kArcDistance, 0}, // G91.1: I J K relative to the start (default)
};

constexpr int kMaxCode10 = 1000;

// G number (times ten) -> rule index + 1; 0 for codes not in the table.
constexpr std::array<std::uint8_t, kMaxCode10> MakeIndex() {
  std::array<std::uint8_t, kMaxCode10> index{};
  for (std::size_t i = 0; i < std::size(kGRules); ++i) {
    index[static_cast<std::size_t>(kGRules[i].code10)] = static_cast<std::uint8_t>(i + 1);
  }
  return index;
}
constexpr std::array<std::uint8_t, kMaxCode10> kGIndex = MakeIndex();

const GRule* FindRule(double value) {
  if (!(value >= 0.0) || value >= kMaxCode10 / 10.0) return nullptr;
  double scaled = value * 10.0;
  double rounded = std::nearbyint(scaled);
  // Just below the bound, rounding can reach it (G99.9999999).
  if (std::fabs(scaled - rounded) > 1e-6 || rounded >= kMaxCode10) return nullptr;
  std::uint8_t at = kGIndex[static_cast<std::size_t>(rounded)];
  return at ? &kGRules[at - 1] : nullptr;
}

// The plane's two axes (first, second) and the normal, in the order that
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

void ArcGeometry(const ModalState& state, int motion, const double start[3], const double end[3],
                 bool has_r, double r, const bool has_offset[3], const double offset[3],
                 Block& block) {
  const PlaneAxes axes = AxesOf(state.plane);
  double centre[3] = {start[0], start[1], start[2]};
  if (has_r) {
    double da = end[axes.a] - start[axes.a];
    double db = end[axes.b] - start[axes.b];
    double chord = std::hypot(da, db);
    double mid_a = start[axes.a] + da / 2, mid_b = start[axes.b] + db / 2;
    if (chord > 0) {
      double h2 = r * r - chord * chord / 4;
      double h = h2 > 0 ? std::sqrt(h2) : 0.0;
      // Left of the chord for a counter-clockwise short arc; R < 0 and G2 each flip it.
      double side = (motion == 3 ? 1.0 : -1.0) * (r < 0 ? -1.0 : 1.0);
      centre[axes.a] = mid_a + side * h * (-db / chord);
      centre[axes.b] = mid_b + side * h * (da / chord);
    }
    block.radius = std::fabs(r);
  } else {
    // An offset left out counts as 0: the start point's own coordinate in
    // relative mode (G91.1), the axis origin in absolute mode (G90.1).
    for (int axis : {axes.a, axes.b}) {
      const double off = has_offset[axis] ? offset[axis] : 0.0;
      centre[axis] = state.arc_absolute ? off : start[axis] + off;
    }
    block.radius = std::hypot(centre[axes.a] - start[axes.a], centre[axes.b] - start[axes.b]);
  }
  for (int i = 0; i < 3; ++i) block.centre[i] = centre[i];
}

}  // namespace

void InterpretLine(std::string_view text, ModalState& state, Block& block) {
  const std::int64_t line = block.line;
  block = Block{};
  block.line = line;
  const double position[3] = {state.x, state.y, state.z};

  std::size_t first = 0;
  while (first < text.size() && (text[first] == ' ' || text[first] == '\t')) ++first;
  const bool skipped = first < text.size() && text[first] == '/';
  const bool delimiter = first < text.size() && text[first] == '%';  // program start or end

  bool has_axis[3] = {false, false, false};
  double axis[3] = {0, 0, 0};
  bool has_offset[3] = {false, false, false};
  double offset[3] = {0, 0, 0};
  bool has_r = false;
  double r = 0.0;
  bool axis_data = false;

  if (!skipped && !delimiter) {
    ForEachWord(text, [&](const Word& word) {
      if (!word.has_value) return;  // a letter alone carries nothing
      switch (word.letter) {
        case 'G': {
          const GRule* rule = FindRule(word.value);
          if (!rule) return;  // other G codes: read and ignored
          switch (rule->kind) {
            case GKind::kMotion: state.motion = rule->value; break;
            case GKind::kDistance: state.incremental = rule->value != 0; break;
            case GKind::kArcDistance: state.arc_absolute = rule->value != 0; break;
            case GKind::kPlane: state.plane = rule->value; break;
            case GKind::kUnits: state.units = rule->value; break;
            case GKind::kAxisData: axis_data = true; break;
            case GKind::kNone: break;
          }
          return;
        }
        case 'X': case 'Y': case 'Z': {  // axis words: the end point
          int i = word.letter - 'X';
          has_axis[i] = true;
          axis[i] = word.value;
          return;
        }
        case 'I': case 'J': case 'K': {  // arc centre offsets
          int i = word.letter - 'I';
          has_offset[i] = true;
          offset[i] = word.value;
          return;
        }
        case 'R': has_r = true; r = word.value; return;       // arc radius
        case 'F': state.feed = word.value; return;            // feedrate, modal
        case 'N': block.n = word.value; return;               // block number
        default: return;  // M S T P Q H D L A B C U V W O E: not this interpreter's
      }
    });
  }

  double end[3] = {position[0], position[1], position[2]};
  const bool any_axis = has_axis[0] || has_axis[1] || has_axis[2];
  if (any_axis && !axis_data) {
    for (int i = 0; i < 3; ++i) {
      if (has_axis[i]) end[i] = state.incremental ? position[i] + axis[i] : axis[i];
    }
    block.moves = true;
  }
  const bool arc = (state.motion == 2 || state.motion == 3) && !axis_data &&
                   (any_axis || has_r || has_offset[0] || has_offset[1] || has_offset[2]);
  if (arc) ArcGeometry(state, state.motion, position, end, has_r, r, has_offset, offset, block);

  state.x = end[0];
  state.y = end[1];
  state.z = end[2];
  block.motion = state.motion;
  block.skipped = skipped;
  block.incremental = state.incremental;
  for (int i = 0; i < 3; ++i) {
    block.start[i] = position[i];
    block.end[i] = end[i];
  }
  block.feed = state.feed;
  block.plane = state.plane;
  block.units = state.units;
}

double BlockValue(const Block& block, int index) {
  switch (index) {
    case 1: return block.motion;
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
