// brevand.exe: the program entry.
#include <memory>

#include "hostlink/com/com_connector.h"
#include "shell/win32/startup.h"

int main() {
  return shell::win32::RunProgram(shell::ProgramSteps(
      [] { shell::win32::CreateNamedMutex(); },
      []() -> std::unique_ptr<hostlink::Connector> { return std::make_unique<hostlink::com::ComConnector>(); }));
}
