// The editor's text area: numbered lines with a gutter of marks, whole-line
// selection and an inline editor for the cursor's line. It paints only the
// visible lines straight from the document, so a program of a million lines
// scrolls as fast as a short one.
#ifndef REFHOST_EDITOR_LINE_VIEW_H_
#define REFHOST_EDITOR_LINE_VIEW_H_

#include <QAbstractScrollArea>
#include <QLineEdit>

#include <cstdint>

#include "refhost/editor/session.h"

namespace refhost {

class LineView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit LineView(EditorSession& session, QWidget* parent = nullptr);

  // Line under the viewport point `y` (clamped to the document).
  std::int64_t LineAt(int y) const;
  int LineHeight() const;
  int GutterWidth() const;
  void EnsureVisible(std::int64_t line);
  bool Editing() const { return editing_line_ != 0; }

 public slots:
  // Opens the inline editor on the cursor's line; `typed` replaces nothing and
  // is appended to the line's text.
  void EditCurrentLine(const QString& typed = QString());
  // Commits the inline editor, if open.
  void CommitEdit();
  void InsertLineBelow();
  void InsertLineAbove();
  void DeleteSelectedLines();
  // Called when the session changed: repaint and resize the scroll range.
  void Refresh();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateScrollRange();
  void PlaceEditor();
  void CancelEdit();
  int VisibleLines() const;

  EditorSession& session_;
  QLineEdit* editor_;
  std::int64_t editing_line_ = 0;
  std::int64_t editing_count_ = 0;  // line count when the edit began
  int widest_ = 0;  // widest line painted so far, for the horizontal range
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_LINE_VIEW_H_
