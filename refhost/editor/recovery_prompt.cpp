#include "refhost/editor/recovery_prompt.h"

#include <QDateTime>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace refhost {

RecoveryChoice AskAboutRecovery(QWidget* parent, const QString& document, const RecoveryProbe& probe) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::Question);
  box.setWindowTitle(QObject::tr("Norvane Editor"));
  box.setText(QObject::tr("A recovery file holds changes to %1 from %2 that were not saved.")
                  .arg(QFileInfo(document).fileName(),
                       QDateTime::fromSecsSinceEpoch(qint64(probe.written)).toString(Qt::TextDate)));
  box.setInformativeText(QObject::tr("Recover them? \"Keep for Later\" leaves the recovery file "
                                     "as it is; the file on disk is not changed either way."));
  box.setDetailedText(QObject::tr("Recovery file: %1").arg(QString::fromStdString(probe.file)));
  QPushButton* recover = box.addButton(QObject::tr("&Recover"), QMessageBox::AcceptRole);
  QPushButton* discard = box.addButton(QObject::tr("&Discard Recovery"), QMessageBox::DestructiveRole);
  QPushButton* keep = box.addButton(QObject::tr("&Keep for Later"), QMessageBox::RejectRole);
  box.setDefaultButton(recover);
  box.setEscapeButton(keep);
  box.exec();
  if (box.clickedButton() == recover) return RecoveryChoice::kRecover;
  if (box.clickedButton() == discard) return RecoveryChoice::kDiscard;
  return RecoveryChoice::kKeep;
}

}  // namespace refhost
