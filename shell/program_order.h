// The rules both windows follow, in one place: the application title and
// the window's own message, what FormCreate does, the order in which the
// main window is completed (guard, check, FormCreate), and the order of
// start-up failure and shutdown around it. Each platform's TForm4 and
// RunProgram supply only their own window and message loop.
#ifndef SHELL_PROGRAM_ORDER_H_
#define SHELL_PROGRAM_ORDER_H_

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "hostlink/attach.h"
#include "hostlink/host_editor.h"
#include "shell/guard/instance_registry.h"
#include "shell/messages.h"

// The link to the host editor: empty until FormCreate attaches, released at
// shutdown.
extern hostlink::HostEditor HostEditor;

// What FormCreate does beyond the window itself. Empty members are skipped,
// so a window built without them never touches a runtime file, a bus or COM.
struct FormCreateSteps {
  std::function<void()> createMutex;
  std::function<std::unique_ptr<hostlink::Connector>()> connector;
  // Build the single-instance guard and run its check before FormCreate.
  // Off for windows built in tests, which share one program file.
  bool instanceGuard = false;
};

namespace shell {

// Caption of every message box; not the window's caption.
inline constexpr const char* kApplicationTitle = "Pellmark";
// What a rejected start shows (JvAppInstances1Rejected).
inline constexpr const char* kAlreadyRunningText = "Pellmark Already Running";

// The shipped program's steps: the guard, then `createMutex` and the host's
// `connector`.
FormCreateSteps ProgramSteps(std::function<void()> createMutex,
                             std::function<std::unique_ptr<hostlink::Connector>()> connector);

// FormCreate: creates the named mutex, attaches HostEditor with the attach
// messages shown through `message`, and calls `showNormal` when linked.
void RunFormCreate(const FormCreateSteps& steps, const std::function<void(const std::string&)>& message,
                   const std::function<void()>& showNormal);

// Steps 3 and 4 of building the main window, once its controls exist. With
// a guard: errors of guard events go to the error report, the guard is
// built last of the components into `slot`, its rejection raises
// `rejected` through the error report, `beforeCheck` runs (may be empty),
// and the check runs: a rejected start ends inside it with exit code 0.
// Then `formCreate` runs, what escapes it shown in the error report.
template <class GuardT>
void CompleteMainWindow(const FormCreateSteps& steps, std::unique_ptr<GuardT>& slot,
                        std::function<void()> rejected, const std::function<void()>& beforeCheck,
                        const std::function<void()>& formCreate) {
  if (steps.instanceGuard) {
    guard::ProcessRegistry().SetErrorReporter([](std::exception_ptr e) { ReportError(e); });
    slot = std::make_unique<GuardT>();
    slot->OnRejected = [rejected = std::move(rejected)](GuardT*) { RunHandler(rejected); };
    if (beforeCheck) beforeCheck();
    slot->Check();
  }
  RunHandler(formCreate);
}

// Start-up steps 4 to 6 around a platform's window.
struct MainWindowRun {
  // Creates the main window, the application title set (throws when it
  // cannot be built).
  std::function<void()> build;
  // Shows it from the message loop and runs the loop until the application
  // is told to end.
  std::function<void()> run;
  // Destroys the window and its components (may be called when `build`
  // failed).
  std::function<void()> destroy;
  // The program file's name, for the "Application Error" box.
  std::function<std::string()> moduleName;
};

// Sets the application title and builds the window: on failure shows the "Application Error" box and
// shuts down with exit code 1. Otherwise runs it, then shuts down in order
// (the window and its components, the host link, this copy leaving the
// instance registry) and returns 0.
int RunMainWindow(const MainWindowRun& steps);

}  // namespace shell

#endif  // SHELL_PROGRAM_ORDER_H_
