#include "shell/win32/startup.h"

#include <ole2.h>

#include <memory>

#include "shell/guard/win32/objects.h"
#include "shell/program_order.h"
#include "shell/win32/application.h"

namespace shell::win32 {

namespace {

std::string ModuleName() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, n);
  const std::size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  return guard::win32::Narrow(name);
}

}  // namespace

void CreateNamedMutex() { CreateMutexW(nullptr, FALSE, kMutexName); }

void RunMessageLoop(TForm4& window) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (window.PreviewMessage(message)) continue;
    if (window.Handle() != nullptr && IsDialogMessageW(window.Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

int RunProgram(FormCreateSteps steps) {
  // The user-interface thread in a single-threaded apartment.
  const bool ole = SUCCEEDED(OleInitialize(nullptr));
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);

  std::unique_ptr<ApplicationWindow> application;
  std::unique_ptr<TForm4> window;
  MainWindowRun run;
  run.build = [&] {
    application = std::make_unique<ApplicationWindow>(guard::win32::Widen(ApplicationTitle()));
    window = std::make_unique<TForm4>(std::move(steps));
  };
  run.run = [&] {
    application->SetMainWindow(window->Handle());
    window->ShowFromMessageLoop();
    RunMessageLoop(*window);
    application->SetMainWindow(nullptr);
  };
  run.destroy = [&] { window.reset(); };
  run.moduleName = ModuleName;
  const int exitCode = RunMainWindow(run);
  application.reset();
  if (ole) OleUninitialize();
  return exitCode;
}

}  // namespace shell::win32
