#include "shell/busy_pass.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QEvent>
#include <QGuiApplication>
#include <QVariantMap>

namespace shell {

TickingHost::TickingHost(hostlink::HostOperations& host, Tick tick, std::chrono::milliseconds interval)
    : host_(host), tick_(std::move(tick)), interval_(interval), last_tick_(std::chrono::steady_clock::now()) {}

void TickingHost::step() {
  host_.step();
  Stepped();
}

void TickingHost::stepDeferred() {
  host_.stepDeferred();
  Stepped();
}

void TickingHost::Stepped() {
  ++steps_;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_tick_ < interval_) return;
  last_tick_ = now;
  const double lines = double(last_) - double(first_) + 1;
  tick_(lines > 0 ? std::min(1.0, double(steps_) / lines) : 0.0);
}

namespace {
bool g_active = false;

bool IsUserInput(QEvent::Type t) {
  switch (t) {
    case QEvent::MouseButtonPress: case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick: case QEvent::MouseMove:
    case QEvent::KeyPress: case QEvent::KeyRelease: case QEvent::ShortcutOverride:
    case QEvent::Wheel: case QEvent::TouchBegin: case QEvent::TouchUpdate: case QEvent::TouchEnd:
    case QEvent::TabletPress: case QEvent::TabletRelease: case QEvent::TabletMove:
    case QEvent::ContextMenu:
      return true;
    default:
      return false;
  }
}
}  // namespace

BusyPass::BusyPass(std::string desktop_id) : desktop_id_(std::move(desktop_id)) {
  g_active = true;
  Begin();
}

BusyPass::~BusyPass() {
  // Input queued while the pass ran reaches the filter here and is dropped.
  QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
  End();
  Launcher(0, false);
  g_active = false;
}

bool BusyPass::Active() { return g_active; }

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

bool BusyPass::eventFilter(QObject*, QEvent* event) { return busy_ && IsUserInput(event->type()); }

void BusyPass::Paint(double done) {
  Launcher(done, true);
  // Paint, expose and timer events; user input is held back by the platform
  // and dropped by the filter, the guard's sockets wait for the pass's end.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
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
