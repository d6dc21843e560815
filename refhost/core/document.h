// The text of one NC program as numbered lines, with gutter marks and undo.
//
// Lines are numbered from 1. The text is kept compactly (one buffer plus line
// offsets, edited lines held apart) so that a program of a million lines
// opens fast and costs a few bytes per line beyond its text.
#ifndef REFHOST_CORE_DOCUMENT_H_
#define REFHOST_CORE_DOCUMENT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace refhost {

class Document {
 public:
  Document();

  // Replaces everything with `text` (lines split at LF, CR LF or CR; a final
  // line break does not open an empty last line). Clears marks and undo.
  void Load(std::string text);
  // The whole text, lines joined with `eol` and ended with it.
  std::string Text(std::string_view eol = "\n") const;

  std::int64_t LineCount() const;                  // at least 1
  std::string_view Line(std::int64_t line) const;  // requires 1 <= line <= LineCount()

  // Edits. Each is one undo step unless a group is open.
  void ReplaceLine(std::int64_t line, std::string text);
  void InsertLines(std::int64_t before, const std::vector<std::string>& lines);  // before in 1..LineCount()+1
  void RemoveLines(std::int64_t first, std::int64_t count);

  // Groups every edit and mark change until EndGroup() into one undo step.
  // Groups do not nest: BeginGroup() while one is open closes it first.
  void BeginGroup();
  void EndGroup();

  bool CanUndo() const;
  bool CanRedo() const;
  void Undo();
  void Redo();

  // Gutter marks (part of undo). SetMark(0, false) clears every mark.
  void SetMark(std::int64_t line, bool on);
  bool Marked(std::int64_t line) const;
  std::vector<std::int64_t> MarkedLines() const;  // ascending

  // True when the text differs from the one last loaded or saved.
  bool Modified() const;
  void SetSaved();  // the current text is what the file holds now

  // Version counter, bumped by every change of text; the interpreter uses it
  // to drop checkpoints past an edit.
  std::uint64_t Revision() const;
  // The first line whose text changed at the last change (for checkpoints).
  std::int64_t FirstChangedLine() const;

  // Called after every change of text or marks (the window repaints).
  void SetChangeListener(std::function<void()> listener);

 private:
  struct Impl;
  // ... implementation detail owned by refhost/core
};

}  // namespace refhost

#endif  // REFHOST_CORE_DOCUMENT_H_
