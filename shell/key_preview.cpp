#include "shell/key_preview.h"

#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>

namespace shell {

KeyPreview::KeyPreview(QWidget* window, QAbstractButton* cancelButton, KeyPressHandler onKeyPress)
    : QObject(window), window_(window), cancel_(cancelButton), onKeyPress_(std::move(onKeyPress)) {
  QCoreApplication::instance()->installEventFilter(this);
}

KeyPreview::~KeyPreview() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeEventFilter(this);
  }
}

QString KeyPreview::Preview(QObject* sender, const QString& text) const {
  QString out = text;
  for (QChar& unit : out) {
    char16_t key = unit.unicode();
    onKeyPress_(sender, key);
    unit = QChar(key);
  }
  return out;
}

bool KeyPreview::eventFilter(QObject* watched, QEvent* event) {
  if (window_ == nullptr || !watched->isWidgetType()) return false;
  auto* target = static_cast<QWidget*>(watched);
  if (target->window() != window_) return false;

  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    constexpr auto kShiftState = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (key->key() == Qt::Key_Escape && (key->modifiers() & kShiftState) == 0) {
      if (cancel_ != nullptr && cancel_->isEnabled() && cancel_->isVisible()) {
        cancel_->click();
        return true;
      }
      return false;
    }
    if (key->text().isEmpty()) return false;
    const QString text = Preview(watched, key->text());
    if (text == key->text()) return false;
    QKeyEvent replaced(key->type(), key->key(), key->modifiers(), key->nativeScanCode(),
                       key->nativeVirtualKey(), key->nativeModifiers(), text,
                       key->isAutoRepeat(), key->count(), key->device());
    QCoreApplication::sendEvent(watched, &replaced);
    return true;
  }

  if (event->type() == QEvent::InputMethod) {
    auto* input = static_cast<QInputMethodEvent*>(event);
    if (input->commitString().isEmpty()) return false;
    const QString text = Preview(watched, input->commitString());
    if (text == input->commitString()) return false;
    QInputMethodEvent replaced(input->preeditString(), input->attributes());
    replaced.setCommitString(text, input->replacementStart(), input->replacementLength());
    QCoreApplication::sendEvent(watched, &replaced);
    return true;
  }
  return false;
}

}  // namespace shell
