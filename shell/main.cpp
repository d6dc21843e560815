// brevand: the program entry.
#include <QApplication>
#include <memory>

#include "hostlink/dbus/dbus_connector.h"

#include "shell/BrevandUnit.h"
#include "shell/messages.h"
#include "shell/named_mutex.h"
#include "shell/startup.h"
#include "shell/window_font.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("brevand");
  shell::SetApplicationTitle(shell::kApplicationTitle);
  QApplication::setWindowIcon(shell::ProgramIcon());
  shell::RegisterWindowFont();

  FormCreateSteps steps;
  steps.instanceGuard = true;
  steps.createMutex = [] { shell::CreateNamedMutex(); };
  steps.connector = []() -> std::unique_ptr<hostlink::Connector> {
    return std::make_unique<hostlink::dbus::DbusConnector>(
        hostlink::dbus::DbusConnector::SessionBus());
  };
  return shell::RunProgram(std::move(steps));
}
