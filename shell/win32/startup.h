// The Windows program's start-up and shutdown around its main window.
#ifndef SHELL_WIN32_STARTUP_H_
#define SHELL_WIN32_STARTUP_H_

#include "shell/win32/BrevandUnit.h"

namespace shell::win32 {

inline constexpr wchar_t kMutexName[] = L"NorvaneBrevandMutex";

// Creates the named mutex "NorvaneBrevandMutex" (no security attributes, not
// owned). The handle is kept by nobody and never closed: the mutex lasts
// until the process ends. Failure goes unnoticed.
void CreateNamedMutex();

// The whole program: COM for the thread (OleInitialize), then
// RunMainWindow's order with the application window and the main window
// (the "Application Error" box and exit code 1 when they cannot be built),
// the message loop with the first show, and shutdown; COM last. Returns the
// exit code: 0 after a normal run.
int RunProgram(FormCreateSteps steps);

// The message loop: runs until WM_QUIT, passing each message through the
// window's key preview, then dialog navigation, then dispatch.
void RunMessageLoop(TForm4& window);

}  // namespace shell::win32

#endif  // SHELL_WIN32_STARTUP_H_
