// norvane-editor: a small NC program editor that serves the host automation
// interface on the session bus, with a window or headless.
#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "refhost/editor/host_service.h"
#include "refhost/editor/main_window.h"
#include "refhost/editor/options.h"
#include "refhost/editor/recovery_keeper.h"
#include "refhost/editor/recovery_prompt.h"
#include "refhost/editor/session.h"
#include "refhost/editor/signal_pipe.h"

namespace {

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
  // SIGTERM, SIGINT and SIGHUP end the editor without asking; the changes
  // are kept (saved with --save-on-exit) after the loop.
  bool signalled = false;
  refhost::SignalPipe signal_pipe;
  QObject::connect(&signal_pipe, &refhost::SignalPipe::received, app.get(), [&] {
    signalled = true;
    app->exit(0);  // also leaves any dialog's loop
  });

  refhost::EditorSession session;
  refhost::RecoveryKeeper keeper(session, refhost::RecoveryFolder());
  std::unique_ptr<refhost::MainWindow> window;
  if (!headless) {
    window = std::make_unique<refhost::MainWindow>(session, options.save_on_exit);
    window->SetRecoveryKeeper(&keeper);
  }

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
  // Asked once the window is up (and the bus served, so that a second
  // editor, which ends at once, never touches the recovery file).
  if (!session.path().empty()) {
    keeper.OfferRecovery([&](const refhost::RecoveryProbe& probe) {
      if (options.recovery == "recover") return refhost::RecoveryChoice::kRecover;
      if (options.recovery == "discard") return refhost::RecoveryChoice::kDiscard;
      if (options.recovery == "keep" || !window) return refhost::RecoveryChoice::kKeep;
      return refhost::AskAboutRecovery(window.get(), QString::fromStdString(session.path()), probe);
    });
  }
  const int status = signalled ? 0 : app->exec();

  // Changes the user did not throw away are saved (--save-on-exit) or kept
  // in the recovery file; a line still being typed counts too.
  if (window) window->view()->CommitEdit();
  if (!session.document().Modified() || keeper.Discarded()) return status;
  session.EndPass();
  if (options.save_on_exit) {
    if (session.path().empty()) {
      error = "the program has no file name; nothing was saved";
    } else if (session.Save(error)) {
      return status;
    }
    Complain(error, false);
    std::string kept;
    if (keeper.Flush(kept)) {
      Complain("the changes are kept in " + keeper.CurrentFile(), false);
    } else {
      Complain(kept, false);
    }
    return 1;
  }
  if (!keeper.Flush(error)) {
    Complain("unsaved changes are lost: " + error, false);
    return 1;
  }
  std::fprintf(stderr, "norvane-editor: unsaved changes are kept in %s\n", keeper.CurrentFile().c_str());
  return status;
}
