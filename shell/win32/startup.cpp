#include "shell/win32/startup.h"

#include <ole2.h>

#include <cstdint>
#include <exception>
#include <memory>

#include "shell/error_text.h"
#include "shell/guard/win32/jcl_app_instances.h"
#include "shell/guard/win32/objects.h"
#include "shell/messages.h"
#include "shell/win32/application.h"

namespace shell::win32 {

namespace {

std::unique_ptr<TForm4> BuildMainWindow(FormCreateSteps steps) {
  return std::make_unique<TForm4>(std::move(steps));
}

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

  int exitCode = 0;
  {
    SetApplicationTitle(kApplicationTitle);
    std::unique_ptr<ApplicationWindow> application;
    std::unique_ptr<TForm4> window;
    try {
      application = std::make_unique<ApplicationWindow>(guard::win32::Widen(kApplicationTitle));
      window = BuildMainWindow(std::move(steps));
    } catch (...) {
      const std::exception_ptr error = std::current_exception();
      ShowApplicationError(StartupErrorText(ErrorKind(error), ModuleName(),
                                            reinterpret_cast<std::uintptr_t>(&BuildMainWindow),
                                            InnermostMessage(error)));
      exitCode = 1;
    }
    if (window != nullptr) {
      application->SetMainWindow(window->Handle());
      window->ShowFromMessageLoop();
      RunMessageLoop(*window);
      // Shutdown: the window and its components, the host link, then this
      // copy leaves the instance registry and tells the others.
      application->SetMainWindow(nullptr);
      window.reset();
    }
    HostEditor.Release();
    guard::ReleaseJclAppInstances();
  }
  if (ole) OleUninitialize();
  return exitCode;
}

}  // namespace shell::win32
