// One open NC program in the editor: the document, the automation members
// over it, the user's selection, and the file it came from. No Qt: the window
// and the bus service both drive this.
#ifndef REFHOST_EDITOR_SESSION_H_
#define REFHOST_EDITOR_SESSION_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "refhost/core/automation.h"
#include "refhost/core/document.h"
#include "refhost/editor/file_io.h"
#include "refhost/editor/selection.h"

namespace refhost {

class EditorSession {
 public:
  EditorSession();
  EditorSession(const EditorSession&) = delete;
  EditorSession& operator=(const EditorSession&) = delete;

  Document& document() { return document_; }
  const Document& document() const { return document_; }
  Automation& automation() { return *automation_; }

  // Reads `path` and shows it; the system type becomes the one the program
  // looks written for (GuessSystemType). On failure returns false with
  // `error` set and keeps what was open.
  bool Open(const std::string& path, std::string& error);
  // An empty program, to be saved as `path` (none when empty).
  void New(const std::string& path = std::string());
  // Writes the text to the file (SaveFileSafely), with the line endings the
  // file had. Save() requires a path. On failure the session stays modified.
  bool Save(std::string& error);
  bool SaveAs(const std::string& path, std::string& error);
  const std::string& path() const { return path_; }
  const LineEnding& line_ending() const { return ending_; }
  // The bytes Save() would write.
  std::string FileText() const;
  // Replaces the whole text with `bytes` (a recovered version of the file,
  // line endings taken from it) as one undo step, so that the program is
  // modified and Undo brings back what was read. False, changing nothing,
  // when `bytes` is what FileText() already gives.
  bool ReplaceText(std::string bytes);

  // The user's selection; every change reaches StartSelection/EndSelection.
  const LineSelection& selection() const { return selection_; }
  void MoveCursor(std::int64_t line, bool extend);
  void Select(std::int64_t first, std::int64_t last);

  int SystemType() const { return automation_->SystemType(); }
  void SetSystemType(int code) { automation_->SetSystemType(code); }

  // User edits. Each closes a pass still open first, so that it stays one
  // undo step of its own.
  void ReplaceLine(std::int64_t line, std::string text);
  void InsertLine(std::int64_t before, std::string text);  // cursor moves to it
  void RemoveSelectedLines();
  void Undo();
  void Redo();
  // Ends the undo group of a pass (when the bus goes idle).
  void EndPass();

  // Called after every change of text, marks, selection or file name.
  void AddListener(std::function<void()> listener);

 private:
  void Notify();
  void SyncSelection();

  Document document_;
  std::unique_ptr<Automation> automation_;
  LineSelection selection_;
  std::string path_;
  LineEnding ending_;
  std::vector<std::function<void()>> listeners_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_SESSION_H_
