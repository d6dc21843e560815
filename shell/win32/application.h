// The application object's hidden window: class "TApplication", caption
// the application title, no task-bar button. Other copies find this process
// through it (guard SwitchTo): activating it or restoring it brings the main
// window to the front.
#ifndef SHELL_WIN32_APPLICATION_H_
#define SHELL_WIN32_APPLICATION_H_

#include <windows.h>

#include <string>

namespace shell::win32 {

class ApplicationWindow {
 public:
  static constexpr wchar_t kClassName[] = L"TApplication";

  // Throws std::runtime_error when the window cannot be created.
  explicit ApplicationWindow(const std::wstring& title);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND Handle() const { return handle_; }

  // The window that activation hands over to (may be null).
  void SetMainWindow(HWND window) { main_ = window; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // Restores the main window when minimised and makes it the foreground window.
  void BringMainWindowForward();

  HWND handle_ = nullptr;
  HWND main_ = nullptr;
};

}  // namespace shell::win32

#endif  // SHELL_WIN32_APPLICATION_H_
