// A block interpreter for NC programs: reads lines in order with modal state,
// as a controller would.
//
// Handles G0-G3 (G00-G03), X Y Z absolute (G90) or incremental (G91), F modal,
// arcs by R or by I J K in the active plane (G17 G18 G19), G20/G21, N numbers,
// comments "( )" and after ";", block delete "/", "%", blank lines and lines
// without motion. Lower-case words and words without spaces are read too
// (see words.h for the word syntax).
//
// Contracts:
// - Modal codes apply to the whole line whatever their place in it: "X1 G91"
//   moves incrementally. Of two codes of one modal group on a line the last
//   stands.
// - A line without axis words does not move: start = end = the current
//   position, and it reports the modal state in force (motion code included).
// - A line starting with "/" (after blanks) is skipped as by a controller with
//   block delete on: it changes nothing and reports the state in force.
// - A line starting with "%" (after blanks) delimits the program: nothing
//   on it is read.
// - Coordinates stay in the program's own units (G20 changes no number).
// - Other G and M words, and the other letters, are read and ignored; G4, G10,
//   G28, G30 and G92 take the line's axis words as their data, not as a move.
// - Arcs: the radius is |R| when R is given, else the distance from the start
//   point to the centre in the active plane (G17 I/J, G18 I/K, G19 J/K; an
//   offset left out counts as 0, which under G90.1 is the axis origin). The
//   centre of an R arc is the one that
//   gives the short arc for R > 0 and the long one for R < 0 in the direction
//   of the code (G2 clockwise, seen from the plane's positive normal).
// - Never throws; words it cannot read are skipped.
#ifndef REFHOST_CORE_INTERPRETER_H_
#define REFHOST_CORE_INTERPRETER_H_

#include <cstdint>
#include <string_view>

namespace refhost {

// What a controller holds between lines.
struct ModalState {
  int motion = -1;             // 0..3, a canned cycle 81..89, or -1 while none is in force
  bool incremental = false;    // G91
  bool arc_absolute = false;   // G90.1: I J K are absolute positions
  int plane = 17;              // 17, 18 or 19
  int units = 21;              // 20 inch, 21 mm
  double feed = 0.0;           // F in force
  double x = 0.0, y = 0.0, z = 0.0;  // current position
};

// One interpreted line.
struct Block {
  std::int64_t line = 0;   // document line number (1-based), set by the caller
  int motion = -1;         // motion code in force after this line (-1: none)
  bool moves = false;      // the line has axis words that move (position may change)
  bool skipped = false;    // block delete: the line was not executed
  bool incremental = false;  // distance mode in force on the line
  double start[3] = {0, 0, 0};   // X Y Z before the line
  double end[3] = {0, 0, 0};     // X Y Z after it
  double feed = 0.0;       // feedrate in force on the line (its own F included)
  double radius = 0.0;     // arc radius (arcs only, else 0)
  double centre[3] = {0, 0, 0};  // arc centre (arcs only, else 0)
  int plane = 17;
  int units = 21;
  double n = 0.0;          // N word of the line, 0 if none
};

// Interprets `text` as the next line after `state`, updating `state` and
// filling `block` (block.line is left to the caller).
void InterpretLine(std::string_view text, ModalState& state, Block& block);

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
