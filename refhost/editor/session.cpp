#include "refhost/editor/session.h"

#include <utility>

namespace refhost {

EditorSession::EditorSession() : automation_(std::make_unique<Automation>(document_)) {
  automation_->SetSystemType(kSystemTypeMill);
  document_.SetChangeListener([this] { Notify(); });
  SyncSelection();
}

bool EditorSession::Open(const std::string& path, std::string& error) {
  std::string text;
  if (!ReadWholeFile(path, text, error)) return false;
  ending_ = DetectLineEnding(text);
  automation_.reset();  // its interpreter refers to the old text
  document_.Load(std::move(text));
  automation_ = std::make_unique<Automation>(document_);
  automation_->SetSystemType(GuessSystemType(document_));
  path_ = path;
  selection_ = LineSelection();
  SyncSelection();
  Notify();
  return true;
}

void EditorSession::New(const std::string& path) {
  const int system_type = automation_->SystemType();
  automation_.reset();
  document_.Load(std::string());
  automation_ = std::make_unique<Automation>(document_);
  automation_->SetSystemType(system_type);
  path_ = path;
  ending_ = LineEnding();
  selection_ = LineSelection();
  SyncSelection();
  Notify();
}

std::string EditorSession::FileText() const {
  std::string text = document_.Text(ending_.eol);
  if (!ending_.final_break && text.size() >= ending_.eol.size()) {
    text.resize(text.size() - ending_.eol.size());
  }
  return text;
}

bool EditorSession::ReplaceText(std::string bytes) {
  if (bytes == FileText()) return false;
  EndPass();
  ending_ = DetectLineEnding(bytes);
  // The document's lines carry no final break of their own.
  if (ending_.final_break && !bytes.empty()) {
    bytes.resize(bytes.size() - (bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0 ? 2 : 1));
  }
  document_.BeginGroup();
  if (document_.LineCount() > 1) document_.RemoveLines(2, document_.LineCount() - 1);
  document_.ReplaceLine(1, std::move(bytes));
  document_.EndGroup();
  selection_.Clamp(document_.LineCount());
  SyncSelection();
  Notify();
  return true;
}

bool EditorSession::Save(std::string& error) {
  if (path_.empty()) {
    error = "The program has no file name yet";
    return false;
  }
  return SaveAs(path_, error);
}

bool EditorSession::SaveAs(const std::string& path, std::string& error) {
  if (!SaveFileSafely(path, FileText(), error)) return false;
  path_ = path;
  document_.SetSaved();
  Notify();
  return true;
}

void EditorSession::MoveCursor(std::int64_t line, bool extend) {
  selection_.MoveTo(line, document_.LineCount(), extend);
  SyncSelection();
  Notify();
}

void EditorSession::Select(std::int64_t first, std::int64_t last) {
  selection_.Select(first, last, document_.LineCount());
  SyncSelection();
  Notify();
}

void EditorSession::ReplaceLine(std::int64_t line, std::string text) {
  EndPass();
  if (line < 1 || line > document_.LineCount()) return;
  if (document_.Line(line) == text) return;
  document_.ReplaceLine(line, std::move(text));
}

void EditorSession::InsertLine(std::int64_t before, std::string text) {
  EndPass();
  if (before < 1 || before > document_.LineCount() + 1) return;
  document_.InsertLines(before, {std::move(text)});
  MoveCursor(before, false);
}

void EditorSession::RemoveSelectedLines() {
  EndPass();
  const std::int64_t first = selection_.First();
  const std::int64_t count = selection_.Last() - first + 1;
  document_.RemoveLines(first, count);
  MoveCursor(first, false);
}

void EditorSession::Undo() {
  EndPass();
  if (!document_.CanUndo()) return;
  document_.Undo();
  selection_.Clamp(document_.LineCount());
  SyncSelection();
  Notify();
}

void EditorSession::Redo() {
  EndPass();
  if (!document_.CanRedo()) return;
  document_.Redo();
  selection_.Clamp(document_.LineCount());
  SyncSelection();
  Notify();
}

void EditorSession::EndPass() { automation_->EndPass(); }

void EditorSession::AddListener(std::function<void()> listener) {
  listeners_.push_back(std::move(listener));
}

void EditorSession::Notify() {
  if (!automation_) return;  // mid-reload: Open() notifies when done
  // The document may have shrunk under the selection (undo of an insert).
  selection_.Clamp(document_.LineCount());
  SyncSelection();
  for (const auto& listener : listeners_) listener();
}

void EditorSession::SyncSelection() {
  automation_->SetSelection(selection_.First(), selection_.Last());
}

}  // namespace refhost
