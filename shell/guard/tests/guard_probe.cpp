// A minimal program built in the main program's order (guard constructed,
// Check, then the creation step) that writes what happens to a record file,
// one line per event. Used by the guard's process tests.
//
//   guard_probe --record FILE [--events] [--minimized] [--modal]
//               [--exe-path PATH] [--wait-file FILE] [more arguments...]
//
// --events     set the guard's events and record them
// --minimized  show the window minimised
// --modal      open a modal message box once running
// --inactive   make the guard inactive once allowed
// --exe-path   pretend to be started from PATH
// --wait-file  wait (up to 10 s) for FILE to exist before the guard is built
// SIGTERM closes the window normally.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "shell/guard/guard_error.h"
#include "shell/guard/identity_key.h"
#include "shell/guard/jv_app_instances.h"

namespace {

int g_recordFd = -1;
int g_termPipe[2] = {-1, -1};

void Record(const std::string& line) {
  const std::string text = line + "\n";
  if (g_recordFd >= 0) (void)!write(g_recordFd, text.data(), text.size());
}

void OnTerm(int) {
  const char c = 't';
  (void)!write(g_termPipe[1], &c, 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::string record, exePath, waitFile;
  bool events = false, minimized = false, modal = false, inactive = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--record" && i + 1 < argc) record = argv[++i];
    else if (a == "--exe-path" && i + 1 < argc) exePath = argv[++i];
    else if (a == "--wait-file" && i + 1 < argc) waitFile = argv[++i];
    else if (a == "--events") events = true;
    else if (a == "--minimized") minimized = true;
    else if (a == "--modal") modal = true;
    else if (a == "--inactive") inactive = true;
  }
  if (!record.empty()) g_recordFd = open(record.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (!exePath.empty()) guard::SetProgramPathForTesting(exePath);
  if (!waitFile.empty()) {
    for (int i = 0; i < 1000 && access(waitFile.c_str(), F_OK) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  QApplication app(argc, argv);
  Record("start " + std::to_string(getpid()));

  auto window = std::make_unique<QWidget>();
  window->setWindowTitle(QStringLiteral("guard probe"));
  window->resize(200, 100);
  std::unique_ptr<guard::TJvAppInstances> instances;
  try {
    instances = std::make_unique<guard::TJvAppInstances>();
  } catch (const guard::GuardError& e) {
    Record(std::string("error ") + e.what());
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  instances->OnRejected = [](guard::TJvAppInstances*) { Record("rejected"); };
  if (events) {
    instances->OnCmdLineReceived = [](guard::TJvAppInstances*, const QStringList& lines) {
      Record("cmdline " + lines.join(QLatin1Char('|')).toStdString());
    };
    instances->OnInstanceCreated = [](guard::TJvAppInstances*, std::uint32_t pid) {
      Record("created " + std::to_string(pid));
    };
    instances->OnInstanceDestroyed = [](guard::TJvAppInstances*, std::uint32_t pid) {
      Record("destroyed " + std::to_string(pid));
    };
  }
  QWidget* w = window.get();
  guard::JclAppInstances().SetActivationHandler([w] {
    const bool was = w->isMinimized();
    const bool ok = guard::BringWindowToFront(w);
    Record("activated wasMinimized=" + std::to_string(was) + " minimized=" +
           std::to_string(w->isMinimized()) + " visible=" + std::to_string(w->isVisible()));
    return ok;
  });
  instances->Check();
  Record(instances->Active ? "allowed" : "allowed inactive");  // the creation step
  if (inactive) instances->Active = false;

  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_termPipe) != 0) return 2;
  signal(SIGTERM, OnTerm);
  QSocketNotifier term(g_termPipe[0], QSocketNotifier::Read);
  QObject::connect(&term, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  if (minimized) window->showMinimized();
  else window->show();
  QTimer::singleShot(0, [modal, w] {
    Record("ready");
    if (modal) {
      QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Pellmark"), QStringLiteral("modal"),
                      QMessageBox::Ok, w);
      Record("modal");
      box.exec();
    }
  });
  const int rc = app.exec();
  instances.reset();
  window.reset();
  guard::ReleaseJclAppInstances();
  Record("exit");
  return rc;
}
