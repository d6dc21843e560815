// brevand: the program entry.
#include <QApplication>
#include <memory>

#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"

#include "shell/BrevandUnit.h"
#include "shell/busy_pass.h"
#include "shell/named_mutex.h"
#include "shell/startup.h"
#include "shell/terminate_request.h"
#include "shell/window_font.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("brevand");
  QApplication::setWindowIcon(shell::ProgramIcon());
  shell::RegisterWindowFont();

  // A call that waits on the host keeps the window painted during a pass.
  hostlink::dbus::SetWaitHook(&shell::BusyPass::PaintWhileWaiting);
  // The end of the session closes the window, after a pass that runs.
  shell::CloseOnTerminate();

  return shell::RunProgram(shell::ProgramSteps(
      [] { shell::CreateNamedMutex(); },
      []() -> std::unique_ptr<hostlink::Connector> {
        return std::make_unique<hostlink::dbus::DbusConnector>(hostlink::dbus::DbusConnector::SessionBus());
      }));
}
