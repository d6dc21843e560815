// The single-instance guard owned by the main window (Windows): Guard's
// rules with the Windows events and the hidden guard window.
//
// Use, in the window's build order:
//   1. construct it while the window is built (creates its hidden window of
//      class "JvAppInstances_WindowClass", enters the registry table; may
//      throw GuardError: show it in the start-up error box, exit 1);
//   2. set OnRejected;
//   3. call Check() once every component exists, before FormCreate. A
//      rejected start never returns from Check: the process ends with 0
//      (Guard::Check tells the order).
// At shutdown destroy it with the window, then ReleaseJclAppInstances().
#ifndef SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_
#define SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "shell/guard/instance_guard.h"
#include "shell/guard/win32/jcl_app_instances.h"

namespace guard {

class TJvAppInstances final : public GuardEvents<TJvAppInstances, std::vector<std::wstring>, DWORD> {
 public:
  // Throws GuardError.
  TJvAppInstances();
  ~TJvAppInstances() override;

  // The guard window.
  HWND FHandle = nullptr;

  // Guard::SplitLines on wide text.
  static std::vector<std::wstring> SplitLines(const std::wstring& text);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Handles the registry's notices and copy-data; false for anything else.
  bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  std::vector<std::wstring> LinesOf(const std::vector<std::u16string>& lines) const override;
};

}  // namespace guard

#endif  // SHELL_GUARD_WIN32_JV_APP_INSTANCES_H_
