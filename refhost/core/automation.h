// The host automation members over a document: what the editor serves on the
// bus, with no Qt and no bus, so that it is tested in process.
//
// Contracts (docs/host-interface.md is the user-facing list):
// - The interpreter sits before a line (NextLine()). selectline(L) puts it
//   before L with the modal state that lines 1..L-1 leave; step() interprets
//   the line it sits before and moves on. After selectline(a), the k-th
//   step() describes line a+k-1, also across the selectline(L),
//   selectline(L+1) of a feed write.
// - Cost: step() and the feed write's selectline pair are O(1); any other
//   jump interprets at most the lines from the nearest checkpoint (every
//   kCheckpointEvery lines; checkpoints past an edit are dropped) or from
//   where the interpreter sits, whichever is nearer.
// - A pass begins at markline(0, 0): marks cleared, one undo group opened
//   and kept open until EndPass() or the next markline(0, 0). From then on
//   the interpreter reads every line as it stood when the pass began, so the
//   words add() writes change no value that CurrentBlock reports. That view
//   lasts until the next markline(0, 0) or until anyone else changes the
//   document (which also ends the pass), so an EndPass() called too early
//   splits the undo step but never falsifies the values.
// - The program is read as the controller runs it. A program without
//   control flow (no O-word, M98 or M99) is read line by line from the
//   nearest checkpoint; one with control flow is run as a whole, in
//   execution order, once per text (program_run.h gives the per-line rule).
// - A line the controller would refuse, and every line after it, makes
//   CurrentBlock fail with a text that names that line and the cause.
// - Every member checks its arguments first and throws AutomationError with
//   a message for the caller; a call that throws changes nothing.
// - Not thread-safe; the document must outlive the Automation.
#ifndef REFHOST_CORE_AUTOMATION_H_
#define REFHOST_CORE_AUTOMATION_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "refhost/core/document.h"
#include "refhost/core/interpreter.h"
#include "refhost/core/program_run.h"

namespace refhost {

// A bad call: the text is the D-Bus error message the caller sees.
class AutomationError : public std::runtime_error {
 public:
  explicit AutomationError(const std::string& text) : std::runtime_error(text) {}
};

inline constexpr int kSystemTypeLathe = 304;  // X-Z
inline constexpr int kSystemTypeMill = 301;   // X-Y-Z

// A guess for a freshly opened program from its first `lines` lines: 304
// when G18 (Z-X), G7, G33, G76 or G96 comes before G19, else 301.
int GuessSystemType(const Document& document, std::int64_t lines = 200);

class Automation {
 public:
  static constexpr std::int64_t kCheckpointEvery = 256;
  // CurrentBlock indices outside 0..kMaxIndex are bad calls.
  static constexpr std::int32_t kMaxIndex = 99;
  // add() refuses values of this size or more.
  static constexpr double kMaxValue = 1e9;

  explicit Automation(Document& document);

  // The bounds of a whole run (program_run.h); tests and fuzzers set small ones.
  void SetRunLimits(const ProgramRun::Limits& limits) {
    run_limits_ = limits;
    run_valid_ = false;
  }

  // For a caller that only ever goes forward (a pass over a file): no
  // checkpoints are kept, and a jump back interprets from line 1.
  void SetForwardOnly() { keep_checkpoints_ = false; }

  // Requires kSystemTypeLathe or kSystemTypeMill (else AutomationError).
  void SetSystemType(int code);
  int SystemType() const { return system_type_; }

  // The editor's selection: first and last line it touches (1-based); with
  // no selection both are the cursor's line. Values are clamped to 1..2^31-1
  // and put in order.
  void SetSelection(std::int64_t first, std::int64_t last);
  std::int32_t StartSelection() const { return selection_first_; }
  std::int32_t EndSelection() const { return selection_last_; }

  // The members. Each throws AutomationError on a bad call and leaves the
  // document as it was.
  //
  // line in 1..LineCount()+1 (the line after the last one is where a feed
  // write on the last line leaves the interpreter). Makes it the line add()
  // acts on.
  void selectline(std::int32_t line);
  // (0, 0): a new pass (see above). Otherwise line in 1..LineCount() and
  // mark 1 (set) or 0 (clear).
  void markline(std::int32_t line, std::int32_t mark);
  // Interprets the next line; a bad call after the last line.
  void step();
  // A value of the last stepped line (interpreter.h lists the indices);
  // before any step, the values of an empty line before line 1. Indices
  // 0..kMaxIndex not listed answer 0.
  double CurrentBlock(std::int32_t index) const;
  // The selected line carries the word letter+value (word_edit.h SetWord).
  // letter: one word-address letter; value: finite, |value| < kMaxValue.
  // The selected line must exist and take the word (WordAdded,
  // CheckLineTakes).
  void add(const std::string& letter, double value);

  // The argument checks of markline() (other than the pass's (0, 0)) and
  // add(), and add()'s edit of one line's text, for a host that keeps the
  // written lines elsewhere: the same rules, the same AutomationError texts.
  static void CheckMark(std::int32_t line, std::int32_t mark, std::int64_t lineCount);
  // `selected` 0: no line selected yet.
  static void CheckAdd(const std::string& letter, double value, std::int64_t selected,
                       std::int64_t lineCount);
  // `text`, line `line`, with the word letter+value. Refused: a line that
  // cannot be read, a "%" line, an O-word line, a block-delete ("/") line,
  // and an F word that would be written as F0.
  static std::string WordAdded(std::string_view text, std::int64_t line, char letter,
                               double value);
  // What the running program says against the word on `line`: an F word
  // on a line that runs under G93 or G95 (no feedrate per minute there), or
  // on a line that runs with different feedrates in force.
  void CheckLineTakes(std::int64_t line, char letter);

  // Ends the pass's undo group (the editor calls this when the bus goes idle
  // or before any user edit). No-op outside a pass. The pass's view of the
  // text stays until the next markline(0, 0) or another change.
  void EndPass();

  bool InPass() const { return in_pass_; }                    // the undo group is open
  bool ReadsPassView() const { return pass_view_; }
  std::int64_t NextLine() const { return next_line_; }        // the line step() reads
  std::int64_t SelectedLine() const { return selected_; }     // 0: none yet
  const Block& LastBlock() const { return block_; }
  // Lines interpreted so far, for cost checks.
  std::uint64_t LinesInterpreted() const { return interpreted_; }

 private:
  void Sync();                          // notices edits made by others
  void Invalidate(std::int64_t first);  // text from line `first` on changed
  void Seek(std::int64_t line);         // state before `line`
  void Advance(Block& block);           // interprets next_line_ into block
  void Checkpoint();                    // records state_ if at a boundary
  bool ControlFlow();                   // the program needs the whole run (decided once per text)
  const ProgramRun& Run();              // the whole run, made once per text
  std::string_view TextOf(std::int64_t line) const;
  static void CheckLine(const char* member, std::int64_t line, std::int64_t last);
  std::int64_t DropPassView();  // returns the first line it changed the view of

  Document& doc_;
  int system_type_ = kSystemTypeMill;
  std::int32_t selection_first_ = 1, selection_last_ = 1;

  std::uint64_t seen_revision_ = 0;
  std::vector<ModalState> checkpoints_;  // [i]: state before line i*kCheckpointEvery+1
  bool keep_checkpoints_ = true;

  ModalState state_;             // before next_line_, when state_valid_
  std::int64_t next_line_ = 1;
  bool state_valid_ = true;

  // The last stepped line and the states around it (feed write's selectline pair).
  std::int64_t last_line_ = 0;
  ModalState before_last_, after_last_;
  bool before_valid_ = false, after_valid_ = false;
  Block block_;

  std::int64_t selected_ = 0;
  bool in_pass_ = false;    // the pass's undo group is open
  bool pass_view_ = false;  // the interpreter reads the text as the pass began
  // Line -> its text when the pass began, ascending by line (a pass writes
  // in line order, so entries are appended). The views point into the
  // document's storage, which never moves text before the next Load, and
  // a Load ends the pass view.
  std::vector<std::pair<std::int64_t, std::string_view>> originals_;
  std::int64_t first_original_ = Document::kNoChange;
  std::uint64_t interpreted_ = 0;

  bool mode_known_ = false;
  bool control_flow_ = false;
  bool run_valid_ = false;
  ProgramRun::Limits run_limits_;
  ProgramRun run_;
};

}  // namespace refhost

#endif  // REFHOST_CORE_AUTOMATION_H_
