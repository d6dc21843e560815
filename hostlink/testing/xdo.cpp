#include "hostlink/testing/xdo.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

namespace hostlink::testing {

QString XDoUnavailableReason() {
  if (qEnvironmentVariableIsEmpty("DISPLAY")) {
    return "DISPLAY is not set: the end-to-end run needs an X server (scripts/test.sh starts Xvfb)";
  }
  if (QStandardPaths::findExecutable("xdotool").isEmpty()) return "xdotool is not installed";
  return {};
}

QString XDo(const QStringList& args) {
  QProcess p;
  p.start("xdotool", args);
  if (!p.waitForFinished(5000)) {
    p.kill();
    p.waitForFinished(1000);
    return {};
  }
  if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
  return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString WaitForWindow(qint64 pid, const QString& title, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!deadline.hasExpired()) {
    // --all: the window must match the process and the title, not either.
    const QString ids = XDo({"search", "--all", "--onlyvisible", "--pid", QString::number(pid),
                             "--name", "^" + title + "$"});
    if (!ids.isEmpty()) return ids.split('\n').first();
    QThread::msleep(100);
  }
  return {};
}

void ClickAt(const QString& window, int x, int y) {
  XDo({"mousemove", "--window", window, QString::number(x), QString::number(y)});
  XDo({"click", "1"});
}

}  // namespace hostlink::testing
