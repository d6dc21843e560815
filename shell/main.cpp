// brevand: the program entry.
#include <QApplication>
#include <memory>

#include "hostlink/dbus/dbus_connector.h"

#include "shell/BrevandUnit.h"
#include "shell/named_mutex.h"
#include "shell/startup.h"
#include "shell/window_font.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("brevand");
  QApplication::setWindowIcon(shell::ProgramIcon());
  shell::RegisterWindowFont();

  return shell::RunProgram(shell::ProgramSteps(
      [] { shell::CreateNamedMutex(); },
      []() -> std::unique_ptr<hostlink::Connector> {
        return std::make_unique<hostlink::dbus::DbusConnector>(hostlink::dbus::DbusConnector::SessionBus());
      }));
}
