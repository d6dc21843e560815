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
// --reject-wait FILE  on rejection, run the event loop until FILE exists (as
//              the rejection box would until it is dismissed)
// --create-wait FILE  once allowed, run the event loop until FILE exists
//              before the window is first shown (as a box inside FormCreate)
// --exhaust-fds  use up every file descriptor the process may open just
//              before the check
// SIGTERM closes the window normally.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <QApplication>
#include <QEventLoop>
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

// Runs the event loop until `path` exists (at most 30 s).
void ServeUntilFileExists(const std::string& path) {
  QEventLoop loop;
  QTimer poll;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (access(path.c_str(), F_OK) == 0 || std::chrono::steady_clock::now() > end) loop.quit();
  });
  poll.start(20);
  loop.exec();
}

// Lowers the descriptor limit to the highest open descriptor and fills
// every gap below it, as "ulimit -n" does to a process that has used its
// share. Returns how many descriptors it took.
int ExhaustDescriptors() {
  int highest = 2;
  if (DIR* d = opendir("/proc/self/fd")) {
    const int own = dirfd(d);
    while (const dirent* e = readdir(d)) {
      const int fd = std::atoi(e->d_name);
      if (fd != own && fd > highest) highest = fd;
    }
    closedir(d);
  }
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(highest + 1);
  setrlimit(RLIMIT_NOFILE, &limit);
  int taken = 0;
  while (open("/dev/null", O_RDONLY | O_CLOEXEC) >= 0) ++taken;
  return taken;
}

}  // namespace

int main(int argc, char** argv) {
  std::string record, exePath, waitFile, rejectWait, createWait;
  bool events = false, minimized = false, modal = false, inactive = false, exhaust = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--record" && i + 1 < argc) record = argv[++i];
    else if (a == "--exe-path" && i + 1 < argc) exePath = argv[++i];
    else if (a == "--wait-file" && i + 1 < argc) waitFile = argv[++i];
    else if (a == "--reject-wait" && i + 1 < argc) rejectWait = argv[++i];
    else if (a == "--create-wait" && i + 1 < argc) createWait = argv[++i];
    else if (a == "--exhaust-fds") exhaust = true;
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
  instances->OnRejected = [rejectWait](guard::TJvAppInstances*) {
    Record("rejected");
    if (!rejectWait.empty()) ServeUntilFileExists(rejectWait);
  };
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
  guard::TJvAppInstances::SetApplicationWindow(w, [](QWidget* target) {
    const bool was = target->isMinimized();
    const bool wasVisible = target->isVisible();
    const bool ok = guard::BringWindowToFront(target);
    Record("activated wasMinimized=" + std::to_string(was) + " minimized=" +
           std::to_string(target->isMinimized()) + " visible=" + std::to_string(target->isVisible()) +
           " wasVisible=" + std::to_string(wasVisible));
    return ok;
  });
  if (exhaust) Record("exhausted " + std::to_string(ExhaustDescriptors()));
  instances->Check();
  Record(instances->Active ? "allowed" : "allowed inactive");  // the creation step
  if (inactive) instances->Active = false;
  if (!createWait.empty()) {
    Record("creating");
    ServeUntilFileExists(createWait);
  }

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
