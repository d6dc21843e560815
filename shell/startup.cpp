#include "shell/startup.h"

#include <QApplication>
#include <QFileInfo>
#include <memory>
#include <stdexcept>

#include "shell/program_order.h"

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
  MainWindowRun run;
  run.build = [&] {
    window = buildWindow();
    if (window == nullptr) throw std::runtime_error("The main window was not built");
  };
  run.run = [&] {
    QObject::connect(window.get(), &TForm4::Closed, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    window->ShowFromMessageLoop();
    QApplication::exec();
  };
  run.destroy = [&] { window.reset(); };
  run.moduleName = [] { return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString(); };
  return RunMainWindow(run);
}

}  // namespace shell
