// A block interpreter for NC programs: reads lines in order with modal state,
// as a controller would.
//
// Handles G0-G3 (G00-G03), X Y Z absolute (G90) or incremental (G91), F modal,
// arcs by R or by I J K in the active plane (G17 G18 G19), G20/G21, N numbers,
// comments "( )" and after ";", block delete "/", "%", blank lines and lines
// without motion. Lower-case words and words without spaces are read too.
#ifndef REFHOST_CORE_INTERPRETER_H_
#define REFHOST_CORE_INTERPRETER_H_

#include <cstdint>
#include <string_view>

namespace refhost {

// What a controller holds between lines.
struct ModalState {
  int motion = -1;         // 0..3, or -1 while no motion code was given
  bool incremental = false;  // G91
  int plane = 17;          // 17, 18 or 19
  int units = 21;          // 20 inch, 21 mm
  double feed = 0.0;       // F in force
  double x = 0.0, y = 0.0, z = 0.0;  // current position
};

// One interpreted line.
struct Block {
  std::int64_t line = 0;   // document line number (1-based)
  int motion = -1;         // motion code in force after this line (-1: none)
  bool moves = false;      // the line carries a motion (axis words or a G0-G3)
  double start[3] = {0, 0, 0};   // X Y Z before the line
  double end[3] = {0, 0, 0};     // X Y Z after it
  double feed = 0.0;       // feedrate in force on the line
  double radius = 0.0;     // arc radius (arcs only)
  double centre[3] = {0, 0, 0};  // arc centre (arcs only)
  int plane = 17;
  int units = 21;
  double n = 0.0;          // N word of the line, 0 if none
};

// Interprets `text` as the next line after `state`, updating `state` and
// filling `block` (block.line is left to the caller). Never throws; words it
// cannot read are skipped.
void InterpretLine(std::string_view text, ModalState& state, Block& block);

// CurrentBlock(index) of a block: 1 motion, 4-6 start, 7-9 end, 19 feed,
// 23 radius, and the extra indices listed in docs/host-interface.md; 0 for an
// unknown index.
double BlockValue(const Block& block, int index);
bool IsKnownIndex(int index);

}  // namespace refhost

#endif  // REFHOST_CORE_INTERPRETER_H_
