// The text of one NC program as numbered lines, with gutter marks and undo.
//
// Lines are numbered from 1 and there is always at least one line. The loaded
// text stays in one buffer, each line a 16-byte reference into it; the text
// of a line that is edited is appended to an arena of large blocks that never
// move, so a program of a million lines opens in one scan and costs 16 bytes
// per line beyond its text. Undo steps are kept as compact byte records
// (a replaced line costs about 16 bytes, a mark change 4, plus the new text).
//
// Contracts:
// - Calls that take a line number require it in range (documented per call)
//   and throw std::out_of_range otherwise, leaving the document unchanged.
// - A string_view returned by Line() stays valid until the next change or Load.
// - Every public edit is one undo step, unless a group is open: then the whole
//   group is one step. Mark changes are undo steps too, but do not make the
//   document modified and do not bump the revision.
// - The change listener runs after every change of text or marks (also undo,
//   redo and Load), never during one.
// - Not thread-safe: one thread owns the document.
#ifndef REFHOST_CORE_DOCUMENT_H_
#define REFHOST_CORE_DOCUMENT_H_

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace refhost {

class Document {
 public:
  Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Replaces everything with `text` (lines split at LF, CR LF or CR; a final
  // line break does not open an empty last line). Clears marks and undo; the
  // document is then unmodified.
  void Load(std::string text);
  // The whole text, lines joined with `eol` and ended with it.
  std::string Text(std::string_view eol = "\n") const;

  std::int64_t LineCount() const { return static_cast<std::int64_t>(lines_.size()); }  // at least 1
  std::string_view Line(std::int64_t line) const;  // requires 1 <= line <= LineCount()

  // Edits. Each is one undo step unless a group is open. A text that holds
  // line breaks (LF, CR LF, CR) becomes that many more lines.
  void ReplaceLine(std::int64_t line, std::string text);                          // 1..LineCount()
  void InsertLines(std::int64_t before, const std::vector<std::string>& lines);  // before in 1..LineCount()+1
  // Removes lines first..first+count-1 (all within the document). Removing
  // every line leaves one empty line.
  void RemoveLines(std::int64_t first, std::int64_t count);

  // Groups every edit and mark change until EndGroup() into one undo step.
  // Groups do not nest: BeginGroup() while one is open closes it first.
  // An empty group leaves no undo step. Undo()/Redo() close an open group.
  void BeginGroup();
  void EndGroup();
  bool GroupOpen() const { return group_open_; }

  bool CanUndo() const;
  bool CanRedo() const;
  void Undo();  // no-op when there is nothing to undo
  void Redo();  // no-op when there is nothing to redo

  // Gutter marks (part of undo). SetMark(0, false) clears every mark;
  // otherwise 1 <= line <= LineCount(). Marks travel with their lines when
  // lines are inserted or removed above them.
  void SetMark(std::int64_t line, bool on);
  bool Marked(std::int64_t line) const;           // false outside the document
  std::vector<std::int64_t> MarkedLines() const;  // ascending
  std::int64_t MarkCount() const { return mark_count_; }

  // True when the text differs from the one last loaded or saved (by the
  // sequence of edits: editing a line back by hand still counts as modified;
  // undoing back to the saved state does not).
  bool Modified() const;
  void SetSaved();  // the current text is what the file holds now

  // Version counter, bumped once by every call that changes text (edits,
  // undo, redo, Load); marks do not bump it.
  std::uint64_t Revision() const { return revision_; }
  // The first line whose text changed at the last change (1 after Load).
  std::int64_t FirstChangedLine() const { return first_changed_; }
  // The first line whose text (or numbering) changed in any change after
  // `revision`; kNoChange when nothing changed since, 1 when that history is
  // no longer kept.
  static constexpr std::int64_t kNoChange = INT64_MAX;
  std::int64_t FirstChangedLineSince(std::uint64_t revision) const;

  // Called after every change of text or marks (the window repaints).
  void SetChangeListener(std::function<void()> listener);

 private:
  // Where a line's text lives: the load buffer, or the arena when `pooled`
  // (pos: block index << 32 | offset), or its own string in big_ when `big`.
  struct LineRef {
    std::uint64_t pos = 0;
    std::uint32_t len = 0;
    bool pooled = false;
    bool marked = false;
    bool big = false;
  };
  struct Op {
    enum Kind : std::uint8_t { kReplace, kInsert, kRemove, kMark, kClearMarks };
    Kind kind = kReplace;
    bool on = false;                  // kMark: the new state
    std::int64_t line = 0;
    LineRef before, after;            // kReplace: text before and after
    std::vector<LineRef> lines;       // kInsert / kRemove: the lines
    std::vector<std::int64_t> marks;  // kClearMarks: lines that were marked
  };
  // One undo step: its ops as byte records (kind, line, refs as varints);
  // the line lists of inserts and removes and the marks of a clear beside.
  struct Group {
    std::uint64_t id = 0;
    bool text = false;  // changes text (not only marks)
    std::string ops;
    std::vector<std::vector<LineRef>> lines;
    std::vector<std::vector<std::int64_t>> marks;
    bool empty() const { return ops.empty(); }
  };

  LineRef Pool(std::string_view text);
  void AddLoaded(std::size_t begin, std::size_t end);
  void Record(Op op);          // applies op and logs it in the open step
  void Apply(const Op& op, bool forward);
  // The ops of `group` in order (their lists copied in).
  static std::vector<Op> Decode(const Group& group);
  void OpenStep();             // opens an implicit step when no group is open
  void CloseStep();            // closes an implicit step
  void TextChanged(std::int64_t line);
  void Notify();
  std::uint64_t TextStateId() const;

  std::string buffer_;
  std::deque<std::string> arena_;  // blocks filled up to their capacity, never moved
  std::deque<std::string> big_;    // texts too long for a 32-bit length
  std::vector<LineRef> lines_;
  std::int64_t mark_count_ = 0;

  std::vector<Group> undo_, redo_;
  Group current_;
  bool group_open_ = false;     // a group of the caller's
  int implicit_depth_ = 0;      // an implicit one-call step
  std::uint64_t next_group_id_ = 1;
  std::uint64_t saved_id_ = 0;

  std::uint64_t revision_ = 0;
  std::int64_t first_changed_ = 1;
  std::int64_t pending_first_ = kNoChange;  // lowest line changed in this call
  struct Change {
    std::uint64_t revision;
    std::int64_t first;
  };
  std::deque<Change> history_;  // the last kHistory text changes
  static constexpr std::size_t kHistory = 4096;
  std::function<void()> listener_;
  bool notify_pending_ = false;
};

}  // namespace refhost

#endif  // REFHOST_CORE_DOCUMENT_H_
