#include "shell/busy_pass.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEvent>
#include <QGuiApplication>
#include <QVariantMap>

namespace shell {
namespace {

BusyPass* g_active = nullptr;

bool IsUserInput(QEvent::Type t) {
  switch (t) {
    case QEvent::MouseButtonPress: case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: case QEvent::MouseMove:
    case QEvent::KeyPress: case QEvent::KeyRelease: case QEvent::ShortcutOverride:
    case QEvent::Wheel: case QEvent::TouchBegin: case QEvent::TouchUpdate: case QEvent::TouchEnd:
    case QEvent::TabletPress: case QEvent::TabletRelease: case QEvent::TabletMove:
    case QEvent::ContextMenu: case QEvent::HoverEnter: case QEvent::HoverLeave:
    case QEvent::HoverMove: case QEvent::Enter: case QEvent::Leave:
      return true;
    default:
      return false;
  }
}

}  // namespace

BusyPass::BusyPass(std::function<void()> close, std::string desktop_id)
    : close_(std::move(close)), desktop_id_(std::move(desktop_id)) {
  g_active = this;
  Begin();
}

BusyPass::~BusyPass() {
  // What reached the program before the end is dropped (or noted) too.
  QGuiApplication::sync();
  ProcessPending();
  End();
  Launcher(0, false);
  g_active = nullptr;
  if (closeRequested_ && close_) close_();
}

bool BusyPass::Active() { return g_active != nullptr; }

void BusyPass::Begin() {
  if (busy_) return;
  busy_ = true;
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  QCoreApplication::instance()->installEventFilter(this);
}

void BusyPass::End() {
  if (!busy_) return;
  busy_ = false;
  QCoreApplication::instance()->removeEventFilter(this);
  QGuiApplication::restoreOverrideCursor();
}

bool BusyPass::eventFilter(QObject* watched, QEvent* event) {
  if (!busy_) return false;
  // The window system's close request reaches the window as a spontaneous
  // close event: kept for the end of the pass.
  if (event->type() == QEvent::Close && event->spontaneous() && watched->isWindowType()) {
    closeRequested_ = true;
    event->ignore();
    return true;
  }
  return IsUserInput(event->type());
}

void BusyPass::ProcessPending() {
  // Input is taken from the window system and dropped by the filter: with
  // ExcludeUserInputEvents the platform would hold it and hand it out after
  // the pass. Sockets (the guard's) wait for the end of the pass.
  QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
}

void BusyPass::Paint(double done) {
  Launcher(done, true);
  ProcessPending();
}

void BusyPass::PaintWhileWaiting() {
  if (g_active != nullptr && g_active->busy_) ProcessPending();
}

void BusyPass::Suspend(const std::function<void()>& show) {
  End();
  show();
  Begin();
}

void BusyPass::Launcher(double done, bool visible) {
  // The desktop (Unity, KDE, Dash to Dock) shows it on the entry's icon.
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/com/canonical/unity/launcherentry/brevand"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  QVariantMap properties{{QStringLiteral("progress"), done}, {QStringLiteral("progress-visible"), visible}};
  signal << QStringLiteral("application://%1").arg(QString::fromStdString(desktop_id_)) << properties;
  bus.send(signal);
}

}  // namespace shell
