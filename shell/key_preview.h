// Key preview for a Qt window: the window sees every typed character before
// the control that has the focus, and Escape presses its cancel button.
#ifndef SHELL_KEY_PREVIEW_H_
#define SHELL_KEY_PREVIEW_H_

#include <QAbstractButton>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace shell {

// Installed on the application; acts only on events for `window` and the
// widgets inside it. `onKeyPress` gets the receiving widget and each typed
// UTF-16 code unit by reference, and may replace it. Text that arrives
// other than by typing (a paste) is not a key press and is never seen.
class KeyPreview : public QObject {
 public:
  using KeyPressHandler = std::function<void(QObject* sender, char16_t& key)>;

  KeyPreview(QWidget* window, QAbstractButton* cancelButton, KeyPressHandler onKeyPress);
  ~KeyPreview() override;

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // `text` with every code unit passed through the handler.
  QString Preview(QObject* sender, const QString& text) const;

  QPointer<QWidget> window_;
  QPointer<QAbstractButton> cancel_;
  KeyPressHandler onKeyPress_;
};

}  // namespace shell

#endif  // SHELL_KEY_PREVIEW_H_
