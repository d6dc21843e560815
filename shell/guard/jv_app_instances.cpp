#include "shell/guard/jv_app_instances.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <stdexcept>

#include "shell/guard/posix/endpoint.h"

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
    } catch (const std::exception& e) {
      JclAppInstances().ReportError(e);
    } catch (...) {
      JclAppInstances().ReportError(std::runtime_error("Unknown error while activating the window"));
    }
    return false;
  }

  QWidget* window_;  // the parent: outlives this
  std::function<bool(QWidget*)> bring_;
  bool shown_;
  bool pending_ = false;
};

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

void TJvAppInstances::Check() {
  if (!Active || MaxInstances <= 0) return;
  TJclAppInstances& registry = JclAppInstances();
  registry.AttachToEventLoop();
  if (!registry.TableWasFull()) {
    if (registry.Position() < MaxInstances) return;
    const std::uint32_t own = registry.ProcessID();
    const auto roundEnd =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(posix::kRoundWaitMs);
    for (std::uint32_t pid : registry.ProcessIDs()) {
      if (pid == own) continue;
      if (const auto answer = registry.QueryActivity(pid, roundEnd)) HandleNotice(kActivityAnswer, *answer);
      if (!Active) break;
    }
    if (!Active) return;  // the others are inactive: this copy runs, inactive itself
  }
  if (OnRejected) OnRejected(this);
  if (AutoActivate) registry.SwitchTo(0);
  if (SendCmdLine) registry.SendCmdLineParams(kGuardWindowClass, this);
  ReleaseJclAppInstances();
  std::fflush(nullptr);
  std::_Exit(0);
}

void TJvAppInstances::UserNotify(std::int32_t param) {
  JclAppInstances().Announce(kUserNotify, static_cast<std::uint32_t>(param));
}

bool TJvAppInstances::SendData(std::uint32_t kind, const void* data, std::uint32_t size) {
  return JclAppInstances().SendData(kGuardWindowClass, kind, data, size, this);
}

template <typename F>
void TJvAppInstances::Raise(F&& call) {
  try {
    call();
  } catch (const std::exception& e) {
    JclAppInstances().ReportError(e);
  } catch (...) {
    JclAppInstances().ReportError(std::runtime_error("Unknown error in a guard event handler"));
  }
}

std::optional<std::uint32_t> TJvAppInstances::HandleNotice(std::uint32_t code, std::uint32_t value) {
  switch (code) {
    case kInstanceCreated:
      if (OnInstanceCreated && value != JclAppInstances().ProcessID()) {
        Raise([&] { OnInstanceCreated(this, value); });
      }
      break;
    case kInstanceDestroyed:
      if (OnInstanceDestroyed) Raise([&] { OnInstanceDestroyed(this, value); });
      break;
    case kUserNotify:
      if (OnUserNotify) Raise([&] { OnUserNotify(this, static_cast<std::int32_t>(value)); });
      break;
    case kActivityQuery:
      return Active ? 1 : 0;
    case kActivityAnswer:
      Active = value != 0;
      break;
    default:
      break;  // every other code is ignored
  }
  return std::nullopt;
}

std::uint32_t TJvAppInstances::HandleCopyData(std::uint32_t senderPid, std::uint32_t kind,
                                              const std::vector<unsigned char>& data) {
  if (senderPid == JclAppInstances().ProcessID()) return 0;
  if (kind == kCmdLineDataKind) {
    if (OnCmdLineReceived) {
      QString text;
      text.reserve(static_cast<qsizetype>(data.size() / 2));
      for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        text.append(QChar(static_cast<char16_t>(data[i] | (data[i + 1] << 8))));
      }
      Raise([&] { OnCmdLineReceived(this, SplitLines(text)); });
    }
  } else if (OnDataAvailable) {
    const std::vector<unsigned char> copy = data;
    Raise([&] { OnDataAvailable(this, kind, copy.data(), static_cast<std::uint32_t>(copy.size())); });
  }
  return 1;
}

QStringList TJvAppInstances::SplitLines(const QString& text) {
  QStringList lines;
  qsizetype start = 0;
  const qsizetype n = text.size();
  qsizetype i = 0;
  while (i < n) {
    const QChar c = text.at(i);
    if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
      lines.append(text.mid(start, i - start));
      if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n')) ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < n) lines.append(text.mid(start));
  return lines;
}

}  // namespace guard
