// brevand.exe: the program entry.
#include <memory>

#include "shell/win32/startup.h"
#ifdef BREVAND_COM_LINK
#include "hostlink/com/com_connector.h"
#endif

int main() {
  FormCreateSteps steps;
  steps.instanceGuard = true;
  steps.createMutex = [] { shell::win32::CreateNamedMutex(); };
#ifdef BREVAND_COM_LINK
  steps.connector = []() -> std::unique_ptr<hostlink::Connector> {
    return std::make_unique<hostlink::com::ComConnector>();
  };
#endif
  return shell::win32::RunProgram(std::move(steps));
}
