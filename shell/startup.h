// The program's start-up and shutdown around its main window.
#ifndef SHELL_STARTUP_H_
#define SHELL_STARTUP_H_

#include <QIcon>
#include <functional>
#include <memory>

#include "shell/BrevandUnit.h"

namespace shell {

// The program's icon at every size it ships in.
QIcon ProgramIcon();

// Runs the program on an existing QApplication (RunMainWindow's order):
// builds the main window (showing the "Application Error" box and returning
// 1 when that fails), shows it centred, runs the message loop until the
// window is closed, then shuts down. Returns the exit code: 0 after a
// normal run.
int RunProgram(FormCreateSteps steps);

// The same with the window built by `buildWindow` (which sets Form4).
int RunProgram(const std::function<std::unique_ptr<TForm4>()>& buildWindow);

}  // namespace shell

#endif  // SHELL_STARTUP_H_
