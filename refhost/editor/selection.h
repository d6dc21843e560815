// Whole-line selection in the editor: a cursor line and an anchor line.
#ifndef REFHOST_EDITOR_SELECTION_H_
#define REFHOST_EDITOR_SELECTION_H_

#include <algorithm>
#include <cstdint>

namespace refhost {

// Lines are numbered from 1. With no selection the anchor is the cursor, and
// First() == Last() == the cursor's line.
class LineSelection {
 public:
  std::int64_t Cursor() const { return cursor_; }
  std::int64_t Anchor() const { return anchor_; }
  std::int64_t First() const { return std::min(cursor_, anchor_); }
  std::int64_t Last() const { return std::max(cursor_, anchor_); }
  bool Contains(std::int64_t line) const { return line >= First() && line <= Last(); }

  // Moves the cursor to `line` (clamped to 1..line_count); `extend` keeps the
  // anchor where it is, otherwise the selection collapses onto the cursor.
  void MoveTo(std::int64_t line, std::int64_t line_count, bool extend) {
    cursor_ = std::clamp<std::int64_t>(line, 1, std::max<std::int64_t>(line_count, 1));
    if (!extend) anchor_ = cursor_;
  }
  // Selects first..last, cursor on last (both clamped).
  void Select(std::int64_t first, std::int64_t last, std::int64_t line_count) {
    MoveTo(first, line_count, false);
    MoveTo(last, line_count, true);
  }
  // Keeps both ends inside the document after it shrank.
  void Clamp(std::int64_t line_count) {
    const std::int64_t top = std::max<std::int64_t>(line_count, 1);
    cursor_ = std::clamp<std::int64_t>(cursor_, 1, top);
    anchor_ = std::clamp<std::int64_t>(anchor_, 1, top);
  }

 private:
  std::int64_t cursor_ = 1;
  std::int64_t anchor_ = 1;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_SELECTION_H_
