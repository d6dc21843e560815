#include "shell/program_order.h"

#include <cstdint>
#include <utility>

#include "shell/error_text.h"

hostlink::HostEditor HostEditor;

namespace shell {

FormCreateSteps ProgramSteps(std::function<void()> createMutex,
                             std::function<std::unique_ptr<hostlink::Connector>()> connector) {
  FormCreateSteps steps;
  steps.instanceGuard = true;
  steps.createMutex = std::move(createMutex);
  steps.connector = std::move(connector);
  return steps;
}

void RunFormCreate(const FormCreateSteps& steps, const std::function<void(const std::string&)>& message,
                   const std::function<void()>& showNormal) {
  if (steps.createMutex) steps.createMutex();  // the result is not looked at
  if (!steps.connector) return;
  std::unique_ptr<hostlink::Connector> connector = steps.connector();
  if (connector == nullptr) return;
  if (hostlink::AttachSequence(HostEditor, *connector, message)) showNormal();
}

namespace {

void ShutDown(const MainWindowRun& steps) {
  steps.destroy();
  HostEditor.Release();
  guard::ReleaseJclAppInstances();
}

}  // namespace

int RunMainWindow(const MainWindowRun& steps) {
  SetApplicationTitle(kApplicationTitle);
  try {
    steps.build();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ShowApplicationError(StartupErrorText(ErrorKind(error), steps.moduleName(),
                                          reinterpret_cast<std::uintptr_t>(&RunMainWindow),
                                          InnermostMessage(error)));
    ShutDown(steps);
    return 1;
  }
  steps.run();
  ShutDown(steps);
  return 0;
}

}  // namespace shell
