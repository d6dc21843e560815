#include "shell/startup.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>
#include <stdexcept>

#include "shell/error_text.h"
#include "shell/guard/jcl_app_instances.h"
#include "shell/messages.h"

namespace shell {
namespace {

std::unique_ptr<TForm4> BuildMainWindow(FormCreateSteps steps) {
  return std::make_unique<TForm4>(std::move(steps));
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256}) {
    icon.addFile(QString(":/brevand/icons/brevand-%1.png").arg(size), QSize(size, size));
  }
  return icon;
}

int RunProgram(FormCreateSteps steps) {
  return RunProgram([&steps] { return BuildMainWindow(std::move(steps)); });
}

int RunProgram(const std::function<std::unique_ptr<TForm4>()>& buildWindow) {
  // The main window alone decides when the program ends; message boxes shown
  // before it is visible must not end it.
  QApplication::setQuitOnLastWindowClosed(false);

  std::unique_ptr<TForm4> window;
  try {
    window = buildWindow();
    if (window == nullptr) throw std::runtime_error("The main window was not built");
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    ShowApplicationError(StartupErrorText(ErrorKind(error), module.toStdString(),
                                          reinterpret_cast<std::uintptr_t>(&BuildMainWindow),
                                          InnermostMessage(error)));
    return 1;
  }

  QObject::connect(window.get(), &TForm4::Closed, qApp, &QCoreApplication::quit,
                   Qt::QueuedConnection);
  window->ShowFromMessageLoop();
  QApplication::exec();

  // Shutdown: the window and its components, then the host link, then this
  // copy leaves the instance registry and tells the others.
  window.reset();
  HostEditor.Release();
  guard::ReleaseJclAppInstances();
  return 0;
}

}  // namespace shell
