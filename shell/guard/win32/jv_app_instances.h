// The single-instance guard owned by the main window (Windows).
//
// Use, in the window's build order:
//   1. construct it while the window is built (creates its hidden window of
//      class "JvAppInstances_WindowClass", enters the registry table; may
//      throw GuardError: show it in the start-up error box, exit 1);
//   2. set OnRejected;
//   3. call Check() once every component exists, before FormCreate. A
//      rejected start never returns from Check: the process ends with 0.
// At shutdown destroy it with the window, then ReleaseJclAppInstances().
#ifndef SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_
#define SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/guard/win32/jcl_app_instances.h"

namespace guard {

class TJvAppInstances {
 public:
  // Throws GuardError.
  TJvAppInstances();
  ~TJvAppInstances();
  TJvAppInstances(const TJvAppInstances&) = delete;
  TJvAppInstances& operator=(const TJvAppInstances&) = delete;

  bool Active = true;
  std::int32_t MaxInstances = 1;
  bool AutoActivate = true;
  bool SendCmdLine = true;

  // Each is raised only when set. What escapes one goes to the registry's
  // error reporter.
  std::function<void(TJvAppInstances* sender)> OnRejected;
  std::function<void(TJvAppInstances* sender, DWORD processId)> OnInstanceCreated;
  std::function<void(TJvAppInstances* sender, DWORD processId)> OnInstanceDestroyed;
  std::function<void(TJvAppInstances* sender, std::int32_t param)> OnUserNotify;
  std::function<void(TJvAppInstances* sender, const std::vector<std::wstring>& cmdLine)> OnCmdLineReceived;
  // `data` is a private copy, valid only during the call.
  std::function<void(TJvAppInstances* sender, DWORD kind, const void* data, DWORD size)> OnDataAvailable;

  // The guard window.
  HWND FHandle = nullptr;

  // Load completion: the single-instance check. Returns when the start is
  // allowed. When rejected: OnRejected, then (AutoActivate) SwitchTo(0),
  // then (SendCmdLine) the arguments go to the copies, the registry is freed
  // and the process ends at once with exit code 0. A full table (no room to
  // enter) counts as rejected.
  void Check();

  void UserNotify(std::int32_t param);
  bool SendData(DWORD kind, const void* data, DWORD size);

  // Splits received command-line text into its lines (CR LF, CR or LF end a
  // line; a trailing break makes no empty last line).
  static std::vector<std::wstring> SplitLines(const std::wstring& text);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Handles the registry's notices and copy-data; false for anything else.
  bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  template <typename F>
  void Raise(F&& call);
};

}  // namespace guard

#endif  // SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_
