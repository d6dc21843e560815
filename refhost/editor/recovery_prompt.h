// The question put to the user when a document opens with a recovery file
// newer than itself.
#ifndef REFHOST_EDITOR_RECOVERY_PROMPT_H_
#define REFHOST_EDITOR_RECOVERY_PROMPT_H_

#include <QString>
#include <QWidget>

#include "refhost/editor/recovery_keeper.h"

namespace refhost {

// A modal box: "Recover", "Discard Recovery", "Keep for Later". Escape or
// closing the box keeps the file.
RecoveryChoice AskAboutRecovery(QWidget* parent, const QString& document, const RecoveryProbe& probe);

}  // namespace refhost

#endif  // REFHOST_EDITOR_RECOVERY_PROMPT_H_
