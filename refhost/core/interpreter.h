// The block interpreter: runs one read line (block_reader.h) on the modal
// state of the machine, as the controller runs it, and reports what the
// line did. Control flow (O-words, M98/M99) is program_run.h's.
//
// Contracts:
// - Modal codes apply to the whole line in the controller's order of
//   execution (feed mode, F, S, T, M6, dwell, plane, units, diameter mode,
//   tool length, coordinate system, path mode, distance mode, retract mode,
//   G10/G28/G30/G52/G92, motion, stop): "X1 G91" moves incrementally.
// - Parameter settings take effect after every value on the line is read.
// - Positions are machine positions (work offsets and G92 applied) in the
//   program's own units; a line reports them in its work coordinates, X as a
//   radius also under G7. G20/G21 converts the position, not the feedrate.
// - A line reports its move (Block::moves) only when it is one rapid,
//   linear or circular move at a feedrate per minute from a known position.
//   Canned cycles, G28/G30, probing, splines, G33/G76 threading and every
//   move under G93 or G95 report no move: start = end = the position after
//   the line, with the modal state in force.
// - What the controller refuses throws GcodeError: unknown G or M codes, two
//   codes of one modal group, axis words without a motion to use them, a feed
//   move without a feedrate, an arc without its centre, and the value errors
//   of expression.h.
#ifndef REFHOST_CORE_INTERPRETER_H_
#define REFHOST_CORE_INTERPRETER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "refhost/core/block_reader.h"
#include "refhost/core/parameters.h"

namespace refhost {

// What a controller holds between lines.
struct ModalState {
  int motion10 = -1;           // motion mode, G number x 10 (10: G1, 382: G38.2); -1 none (G80)
  int plane = 17;              // 17, 18, 19
  bool incremental = false;    // G91
  bool arc_absolute = false;   // G90.1: I J K are absolute positions
  int units = 21;              // 20 inch, 21 mm
  int feed_mode = 94;          // 93 inverse time, 94 per minute, 95 per revolution
  bool diameter = false;       // G7: X words are diameters
  bool retract_r = false;      // G99 (else G98, back to the initial level)
  int coord_system = 1;        // 1..9: G54..G59.3
  bool exact_stop = false;     // G61 / G61.1
  double tolerance = 0.0;      // G64 P
  double feed = 0.0;           // F in force
  double speed = 0.0;          // S in force
  int tool = 0;                // tool in the spindle (M6)
  int selected_tool = 0;       // T
  double pos[3] = {0, 0, 0};   // machine position X (radius) Y Z
  std::uint8_t unknown = 0;    // bit per axis whose position is not known (after probing)
  double work[3] = {0, 0, 0};  // offset of the coordinate system in force
  double g92[3] = {0, 0, 0};   // G92 / G52 offset
  double tool_z = 0.0;         // tool length offset (G43.1)
  // Canned cycles: the sticky words and the level a series of holes began at.
  double cycle_r = 0.0, cycle_z = 0.0, cycle_q = 0.0, cycle_p = 0.0, cycle_level = 0.0;
  bool ended = false;          // M2/M30 or the closing "%" reached: nothing more runs
  bool began = false;          // a line with content was read
  Parameters params;
  // A line that could not run (streaming): it and every line after fail.
  std::int64_t error_line = 0;
  std::shared_ptr<const std::string> error;

  double Offset(int axis) const { return work[axis] + g92[axis] + (axis == 2 ? tool_z : 0.0); }
  double Program(int axis) const { return pos[axis] - Offset(axis); }
};

// Parameter reads as a line sees them: the parameters of `state` and the
// predefined ones (#5220 coordinate system, #5400 tool, #5420-#5422 and
// #<_x> #<_y> #<_z> the position in work coordinates, #<_feed>, #<_metric>,
// #<_line>, #<_value>, ...).
class StateParameters : public ParameterSource {
 public:
  StateParameters(const ModalState& state, std::int64_t line) : s_(state), line_(line) {}
  double Numbered(int n) const override;
  bool Named(std::string_view name, double& value) const override;

 private:
  bool Predefined(std::string_view name, double& value) const;
  const ModalState& s_;
  std::int64_t line_;
};

// One interpreted line.
struct Block {
  std::int64_t line = 0;   // document line number (1-based), set by the caller
  int motion = -1;         // motion code in force after this line, whole part (-1: none)
  int motion10 = -1;       // the same x 10 (51: G5.1)
  bool moves = false;      // the line reports a move (see above)
  bool skipped = false;    // block delete, or after the program's end: the line did not run
  bool after_end = false;  // the program ended before this line (M2, M30, the closing "%")
  bool incremental = false;  // distance mode in force on the line
  double start[3] = {0, 0, 0};   // X Y Z before the line
  double end[3] = {0, 0, 0};     // X Y Z after it
  double feed = 0.0;       // feedrate in force on the line (its own F included)
  double radius = 0.0;     // arc radius (arcs only, else 0)
  double centre[3] = {0, 0, 0};  // arc centre (arcs only, else 0)
  int plane = 17;
  int units = 21;
  int feed_mode = 94;
  double n = 0.0;          // N word of the line, 0 if none
  // The line, or one before it, could not run: `error` says why, naming
  // the line `error_line`.
  std::int64_t error_line = 0;
  std::shared_ptr<const std::string> error;
};

// One machine motion of a running program, for the toolpath and the time.
struct Motion {
  enum class Kind : std::uint8_t { kRapid, kLine, kArcCw, kArcCcw, kDwell, kToolChange };
  Kind kind = Kind::kLine;
  std::int64_t line = 0;         // document line that made it (1-based)
  double start[3] = {0, 0, 0};   // machine position X (a radius under G7) Y Z, program units
  double end[3] = {0, 0, 0};
  double centre[3] = {0, 0, 0};  // arcs: centre (its normal-axis coordinate = start's)
  int plane = 17;                // 17, 18, 19
  int turns = 0;                 // arcs: full turns beyond the first (P - 1)
  double feed = 0.0;             // units per minute (0 for rapids; G95: F x S; G93: length x F)
  double seconds = 0.0;          // kDwell: seconds
  bool exact_stop = false;       // G61 / G61.1 in force
  double tolerance = 0.0;        // G64 P in force, 0 when G64 has no P
  int units = 21;                // 20 inch, 21 mm
};

// Where motions go while a program runs; may be empty.
struct MotionSink {
  void (*put)(void* context, const Motion& motion) = nullptr;
  void* context = nullptr;
  void operator()(const Motion& m) const { put(context, m); }
  explicit operator bool() const { return put != nullptr; }
};

// Fills `block` with the state in force and no move (start = end = the
// position), as a line that does not move reports it.
void ReportState(const ModalState& state, Block& block);

// What a line asks of the program's flow.
struct BlockFlow {
  enum class Kind : std::uint8_t { kNext, kEnd, kCallProgram, kReturnProgram };
  Kind kind = Kind::kNext;
  int program = 0;   // M98 P
  int repeat = 1;    // M98 L
};

// Runs `parsed` (read without error, no O-word, not a "%" line) on `state`
// and describes it in `block` (block.line is the caller's). Throws
// GcodeError when the controller would refuse the line; `state` may then be
// partly changed.
BlockFlow ExecuteBlock(const ParsedBlock& parsed, ModalState& state, Block& block,
                       const MotionSink& sink = {});

// Reads and runs `text` as the next line after `state`, a program without
// control flow: "%" lines delimit, "/" lines are skipped (block delete on),
// lines after the end do not run, O-word lines and M98/M99 are reported as
// not run here. An error is kept in `state`: that line and every later one
// report it (Block::error). Never throws.
void InterpretLine(std::string_view text, ModalState& state, Block& block,
                   const MotionSink& sink = {});
// The same for a line already read into `parsed` (by ReadBlock).
void InterpretParsed(const ParsedBlock& parsed, ModalState& state, Block& block,
                     const MotionSink& sink = {});

// The values that CurrentBlock(index) answers for a block:
//   1 motion code in force (-1 none)      2 plane (17, 18, 19)
//   3 distance mode (90, 91)              4-6 start X Y Z
//   7-9 end X Y Z                         10-12 arc centre X Y Z (0 if no arc)
//   13 units (20 inch, 21 mm)             14 N number (0 if none)
//   15 line number                        16 1 when the line moves, else 0
//   19 feedrate in force                  23 arc radius (0 if no arc)
// Any other index answers 0.
double BlockValue(const Block& block, int index);
bool IsKnownIndex(int index);

}  // namespace refhost

#endif  // REFHOST_CORE_INTERPRETER_H_
