#include "refhost/editor/line_view.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace refhost {
namespace {

constexpr int kMarkColumn = 14;   // width of the mark column in the gutter
constexpr int kTextMargin = 6;    // between the gutter and the text

QString LineText(const Document& document, std::int64_t line) {
  const std::string_view text = document.Line(line);
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

LineView::LineView(EditorSession& session, QWidget* parent)
    : QAbstractScrollArea(parent), session_(session), editor_(new QLineEdit(viewport())) {
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  viewport()->setCursor(Qt::IBeamCursor);
  setFocusPolicy(Qt::StrongFocus);
  editor_->hide();
  editor_->setFrame(false);
  editor_->installEventFilter(this);
  session_.AddListener([this] { Refresh(); });
  Refresh();
}

int LineView::LineHeight() const { return fontMetrics().height() + 2; }

int LineView::GutterWidth() const {
  const int digits = std::max<int>(3, int(std::to_string(session_.document().LineCount()).size()));
  return kMarkColumn + fontMetrics().horizontalAdvance(QLatin1Char('9')) * digits + kTextMargin;
}

int LineView::VisibleLines() const { return std::max(1, viewport()->height() / LineHeight()); }

std::int64_t LineView::LineAt(int y) const {
  const std::int64_t line = verticalScrollBar()->value() + 1 + std::max(0, y) / LineHeight();
  return std::clamp<std::int64_t>(line, 1, session_.document().LineCount());
}

void LineView::EnsureVisible(std::int64_t line) {
  QScrollBar* bar = verticalScrollBar();
  const std::int64_t top = bar->value() + 1;
  const std::int64_t rows = VisibleLines();
  if (line < top) {
    bar->setValue(int(line - 1));
  } else if (line >= top + rows) {
    bar->setValue(int(line - rows));
  }
}

void LineView::Refresh() {
  UpdateScrollRange();
  // Lines inserted or removed elsewhere (undo, a script) renumber the
  // edited line: drop the edit rather than store it on another line.
  if (Editing() && session_.document().LineCount() != editing_count_) CancelEdit();
  PlaceEditor();
  viewport()->update();
}

void LineView::UpdateScrollRange() {
  const std::int64_t count = session_.document().LineCount();
  const int rows = VisibleLines();
  verticalScrollBar()->setRange(0, int(std::max<std::int64_t>(0, count - rows)));
  verticalScrollBar()->setPageStep(rows);
  verticalScrollBar()->setSingleStep(1);
  const int text_width = viewport()->width() - GutterWidth();
  horizontalScrollBar()->setRange(0, std::max(0, widest_ + kTextMargin - text_width));
  horizontalScrollBar()->setPageStep(std::max(1, text_width));
}

void LineView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
  PlaceEditor();
}

void LineView::scrollContentsBy(int, int) {
  PlaceEditor();  // the line edit moves with its line
  viewport()->update();
}

void LineView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const Document& document = session_.document();
  const LineSelection& selection = session_.selection();
  const QPalette& pal = palette();
  const int height = LineHeight();
  const int gutter = GutterWidth();
  const int ascent = fontMetrics().ascent() + 1;
  const int scroll_x = horizontalScrollBar()->value();
  const int width = viewport()->width();
  painter.fillRect(viewport()->rect(), pal.base());
  painter.fillRect(QRect(0, 0, gutter - kTextMargin / 2, viewport()->height()), pal.window());

  const std::int64_t first = verticalScrollBar()->value() + 1;
  const std::int64_t last = std::min<std::int64_t>(document.LineCount(), first + VisibleLines());
  int widest = widest_;
  for (std::int64_t line = first; line <= last; ++line) {
    const int y = int(line - first) * height;
    const bool selected = selection.Contains(line);
    if (selected) {
      painter.fillRect(QRect(gutter - kTextMargin / 2, y, width, height), pal.highlight());
    } else if (line == selection.Cursor()) {
      painter.fillRect(QRect(gutter - kTextMargin / 2, y, width, height), pal.alternateBase());
    }
    if (document.Marked(line)) {
      painter.setBrush(QColor(0xd0, 0x60, 0x10));
      painter.setPen(Qt::NoPen);
      const int d = std::min(kMarkColumn - 4, height - 4);
      painter.drawEllipse(QRect(3, y + (height - d) / 2, d, d));
    }
    painter.setPen(pal.color(QPalette::PlaceholderText));
    painter.drawText(QRect(kMarkColumn, y, gutter - kMarkColumn - kTextMargin, height),
                     Qt::AlignRight | Qt::AlignVCenter, QString::number(line));
    if (Editing() && line == editing_line_) continue;
    const QString text = LineText(document, line);
    painter.setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
    painter.setClipRect(QRect(gutter, y, width - gutter, height));
    painter.drawText(gutter - scroll_x, y + ascent, text);
    painter.setClipping(false);
    widest = std::max(widest, fontMetrics().horizontalAdvance(text));
  }
  if (widest != widest_) {
    widest_ = widest;
    const int text_width = width - gutter;
    horizontalScrollBar()->setRange(0, std::max(0, widest_ + kTextMargin - text_width));
  }
}

void LineView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  CommitEdit();
  const std::int64_t line = LineAt(int(event->position().y()));
  session_.MoveCursor(line, event->modifiers() & Qt::ShiftModifier);
}

void LineView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  const int y = int(event->position().y());
  if (y < 0) verticalScrollBar()->setValue(verticalScrollBar()->value() - 1);
  if (y > viewport()->height()) verticalScrollBar()->setValue(verticalScrollBar()->value() + 1);
  session_.MoveCursor(LineAt(y), true);
}

void LineView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  session_.MoveCursor(LineAt(int(event->position().y())), false);
  EditCurrentLine();
}

void LineView::keyPressEvent(QKeyEvent* event) {
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  const bool control = event->modifiers() & Qt::ControlModifier;
  const std::int64_t cursor = session_.selection().Cursor();
  const std::int64_t count = session_.document().LineCount();
  std::int64_t target = -1;
  switch (event->key()) {
    case Qt::Key_Up: target = cursor - 1; break;
    case Qt::Key_Down: target = cursor + 1; break;
    case Qt::Key_PageUp: target = cursor - VisibleLines(); break;
    case Qt::Key_PageDown: target = cursor + VisibleLines(); break;
    case Qt::Key_Home: if (control) target = 1; break;
    case Qt::Key_End: if (control) target = count; break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (control) {
        InsertLineBelow();
      } else {
        EditCurrentLine();
      }
      return;
    case Qt::Key_F2: EditCurrentLine(); return;
    case Qt::Key_Delete: DeleteSelectedLines(); return;
    case Qt::Key_Escape: session_.MoveCursor(cursor, false); return;
    default: break;
  }
  if (target >= 0) {
    session_.MoveCursor(std::clamp<std::int64_t>(target, 1, count), extend);
    EnsureVisible(session_.selection().Cursor());
    return;
  }
  const QString typed = event->text();
  if (!control && !typed.isEmpty() && typed.at(0).isPrint()) {
    EditCurrentLine(typed);
    return;
  }
  QAbstractScrollArea::keyPressEvent(event);
}

bool LineView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == editor_) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Escape) {
        CancelEdit();
        return true;
      }
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Handled here: the line edit would pass Return on to the view.
        CommitEdit();
        session_.MoveCursor(session_.selection().Cursor() + 1, false);
        EnsureVisible(session_.selection().Cursor());
        return true;
      }
      if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
        CommitEdit();
        keyPressEvent(key);
        return true;
      }
    } else if (event->type() == QEvent::FocusOut) {
      CommitEdit();
    }
  }
  return QAbstractScrollArea::eventFilter(watched, event);
}

void LineView::EditCurrentLine(const QString& typed) {
  if (Editing()) CommitEdit();
  session_.MoveCursor(session_.selection().Cursor(), false);
  editing_line_ = session_.selection().Cursor();
  editing_count_ = session_.document().LineCount();
  EnsureVisible(editing_line_);
  editor_->setText(LineText(session_.document(), editing_line_) + typed);
  editor_->setCursorPosition(int(editor_->text().size()));
  PlaceEditor();
  editor_->show();
  editor_->setFocus();
  viewport()->update();
}

void LineView::CommitEdit() {
  if (!Editing()) return;
  const std::int64_t line = editing_line_;
  const QByteArray text = editor_->text().toUtf8();
  CancelEdit();
  if (line >= 1 && line <= session_.document().LineCount()) {
    session_.ReplaceLine(line, text.toStdString());
  }
}

void LineView::CancelEdit() {
  if (!Editing()) return;
  editing_line_ = 0;
  editor_->hide();
  setFocus();
  viewport()->update();
}

void LineView::PlaceEditor() {
  if (!Editing()) return;
  const std::int64_t row = editing_line_ - (verticalScrollBar()->value() + 1);
  const int gutter = GutterWidth();
  editor_->setGeometry(gutter - 2, int(row) * LineHeight(), viewport()->width() - gutter + 2,
                       LineHeight());
}

void LineView::InsertLineBelow() {
  CommitEdit();
  session_.InsertLine(session_.selection().Cursor() + 1, std::string());
  EnsureVisible(session_.selection().Cursor());
  EditCurrentLine();
}

void LineView::InsertLineAbove() {
  CommitEdit();
  session_.InsertLine(session_.selection().Cursor(), std::string());
  EnsureVisible(session_.selection().Cursor());
  EditCurrentLine();
}

void LineView::DeleteSelectedLines() {
  CancelEdit();
  session_.RemoveSelectedLines();
  EnsureVisible(session_.selection().Cursor());
}

}  // namespace refhost
