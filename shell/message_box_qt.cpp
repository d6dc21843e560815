// The Qt build's message box.
#include <QMessageBox>
#include <QString>

#include "shell/messages.h"

namespace shell {

void ShowPlatformMessage(const ShownMessage& message) {
  QMessageBox box(message.kind == MessageKind::kMessage ? QMessageBox::NoIcon
                                                        : QMessageBox::Critical,
                  QString::fromStdString(message.caption),
                  QString::fromStdString(message.text), QMessageBox::Ok);
  // The main window stays on top; its messages must not hide beneath it.
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace shell
