#include "shell/guard/jv_app_instances.h"

#include <exception>

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <stdexcept>


namespace guard {

namespace {

bool& GuardConstructed() {
  static bool constructed = false;
  return constructed;
}

// The application window as activation reaches it: brought to the front at
// once when it has been shown, else once its first show has happened.
class ActivationTarget : public QObject {
 public:
  ActivationTarget(QWidget* window, std::function<bool(QWidget*)> bring)
      : QObject(window), window_(window), bring_(std::move(bring)), shown_(window->isVisible()) {
    window->installEventFilter(this);
  }

  bool Activate() {
    if (shown_) return Bring();
    pending_ = true;
    return false;
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show && !shown_) {
      shown_ = true;
      if (pending_) {
        pending_ = false;
        // After the show has finished, from the event loop.
        QTimer::singleShot(0, this, [this] { Bring(); });
      }
    }
    return false;
  }

 private:
  bool Bring() {
    try {
      return bring_(window_);
    } catch (...) {
      JclAppInstances().ReportError(std::current_exception());
    }
    return false;
  }

  QWidget* window_;  // the parent: outlives this
  std::function<bool(QWidget*)> bring_;
  bool shown_;
  bool pending_ = false;
};

QStringList ToQt(const std::vector<std::u16string>& lines) {
  QStringList list;
  for (const std::u16string& line : lines) list.append(QString::fromStdU16String(line));
  return list;
}

QPointer<ActivationTarget>& CurrentTarget() {
  static QPointer<ActivationTarget> target;
  return target;
}

}  // namespace

bool BringWindowToFront(QWidget* w) {
  if (w->isMinimized()) w->showNormal();
  if (!w->isVisible()) w->show();
  w->raise();
  if (!w->isActiveWindow()) w->activateWindow();
  return true;
}

TJvAppInstances::TJvAppInstances() {
  TJclAppInstances& registry = JclAppInstances();
  registry.AttachToEventLoop();
  registry.AddGuardWindow(this);
  if (!GuardConstructed()) {
    GuardConstructed() = true;
    try {
      registry.CheckInstance(65535);
    } catch (...) {
      registry.RemoveGuardWindow(this);
      throw;
    }
  }
}

TJvAppInstances::~TJvAppInstances() {
  if (JclAppInstancesExists()) JclAppInstances().RemoveGuardWindow(this);
}

void TJvAppInstances::SetApplicationWindow(QWidget* window) {
  SetApplicationWindow(window, BringWindowToFront);
}

void TJvAppInstances::SetApplicationWindow(QWidget* window, std::function<bool(QWidget*)> bring) {
  delete CurrentTarget().data();
  if (window != nullptr) CurrentTarget() = new ActivationTarget(window, std::move(bring));
  QPointer<ActivationTarget> target = CurrentTarget();
  JclAppInstances().SetActivationHandler([target]() { return target ? target->Activate() : false; });
}

void TJvAppInstances::BeforeCheck() { JclAppInstances().AttachToEventLoop(); }

QStringList TJvAppInstances::LinesOf(const std::vector<std::u16string>& lines) const {
  return ToQt(lines);
}

QStringList TJvAppInstances::SplitLines(const QString& text) {
  return ToQt(Guard::SplitLines(text.toStdU16String()));
}

}  // namespace guard
