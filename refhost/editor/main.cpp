// norvane-editor: a small NC program editor that serves the host automation
// interface on the session bus, with a window or headless.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "refhost/editor/host_service.h"
#include "refhost/editor/main_window.h"
#include "refhost/editor/options.h"
#include "refhost/editor/session.h"

namespace {

int g_signal_fd = -1;

void OnSignal(int) {
  const char byte = 1;
  const int saved = errno;
  (void)!::write(g_signal_fd, &byte, 1);
  errno = saved;
}

// SIGTERM, SIGINT and SIGHUP end the event loop the normal way, so that
// --save-on-exit still saves.
void QuitOnSignals(QCoreApplication& app) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return;
  g_signal_fd = fds[0];
  auto* notifier = new QSocketNotifier(fds[1], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [fd = fds[1], &app] {
    char byte;
    (void)!::read(fd, &byte, 1);
    app.quit();
  });
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void Complain(const std::string& text, bool window) {
  std::fprintf(stderr, "norvane-editor: %s\n", text.c_str());
  if (window) QMessageBox::critical(nullptr, QStringLiteral("Norvane Editor"), QString::fromStdString(text));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  refhost::EditorOptions options;
  std::string error;
  if (!refhost::ParseOptions(args, options, error)) {
    std::fprintf(stderr, "norvane-editor: %s\n", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(refhost::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("norvane-editor 0.1.0");
    return 0;
  }

  const bool headless = options.headless || refhost::NoDisplay();
  std::unique_ptr<QCoreApplication> app;
  if (headless) {
    app = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    app = std::make_unique<QApplication>(argc, argv);
  }
  QCoreApplication::setOrganizationName(QStringLiteral("Norvane"));
  QCoreApplication::setApplicationName(QStringLiteral("norvane-editor"));
  QuitOnSignals(*app);

  refhost::EditorSession session;
  std::unique_ptr<refhost::MainWindow> window;
  if (!headless) window = std::make_unique<refhost::MainWindow>(session, options.save_on_exit);

  if (!options.file.empty()) {
    const bool missing = ::access(options.file.c_str(), F_OK) != 0 && errno == ENOENT;
    if (missing && !headless) {
      // In the window, a name that does not exist yet is a new program.
      session.New(options.file);
    } else if (!session.Open(options.file, error)) {
      Complain(error, !headless);
      if (headless) return 1;
    }
  }
  // The command line outranks the guess made from the program.
  if (options.system_type) session.SetSystemType(*options.system_type);
  if (options.select_first > 0) {
    const std::int64_t count = session.document().LineCount();
    if (options.select_first > count || options.select_last > count) {
      Complain("--select " + std::to_string(options.select_first) + ":" + std::to_string(options.select_last) +
                   " lies beyond the program's " + std::to_string(count) + " lines",
               !headless);
      if (headless) return 2;
    } else {
      session.Select(options.select_first, options.select_last);
    }
  }

  refhost::HostService service(session);
  QString bus_error;
  if (!service.Publish(bus_error)) {
    Complain(bus_error.toStdString(), !headless);
    return 1;
  }
  QObject::connect(&service, &refhost::HostService::quitRequested, app.get(), [&] {
    if (window) {
      window->close();  // asks about unsaved changes unless --save-on-exit
      if (!window->isVisible()) app->quit();
    } else {
      app->quit();
    }
  });

  QTimer bus_watch;
  if (!window) {
    // Headless, the bus is the editor's only user: when it goes, so does the
    // editor (an activated editor outlives no bus).
    QObject::connect(&bus_watch, &QTimer::timeout, app.get(), [&app, &service] {
      if (!service.Connected()) {
        std::fprintf(stderr, "norvane-editor: the session bus went away; quitting\n");
        app->quit();
      }
    });
    bus_watch.start(500);
  }
  if (window) {
    window->view()->EnsureVisible(session.selection().Cursor());
    window->show();
    QObject::connect(qApp, &QApplication::lastWindowClosed, app.get(), &QCoreApplication::quit);
  }
  const int status = app->exec();

  if (options.save_on_exit && session.document().Modified()) {
    session.EndPass();
    if (session.path().empty()) {
      Complain("the program has no file name; nothing was saved", false);
      return 1;
    }
    if (!session.Save(error)) {
      Complain(error, false);
      return 1;
    }
  }
  return status;
}
