#include "shell/win32/application.h"

#include <stdexcept>

namespace shell::win32 {

ApplicationWindow::ApplicationWindow(const std::wstring& title) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW existing{};
  if (GetClassInfoW(instance, kClassName, &existing) == FALSE) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &ApplicationWindow::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    if (RegisterClassW(&wc) == 0) throw std::runtime_error("Failed to register the application window class");
  }
  handle_ = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                            0, 0, 0, 0, nullptr, nullptr, instance, this);
  if (handle_ == nullptr) throw std::runtime_error("Failed to create the application window");
}

ApplicationWindow::~ApplicationWindow() {
  SetWindowLongPtrW(handle_, GWLP_USERDATA, 0);
  DestroyWindow(handle_);
}

void ApplicationWindow::BringMainWindowForward() {
  if (main_ == nullptr || !IsWindow(main_)) return;
  if (IsIconic(main_)) ShowWindow(main_, SW_RESTORE);
  if (!IsWindowVisible(main_)) ShowWindow(main_, SW_SHOWNORMAL);
  SetForegroundWindow(main_);
}

LRESULT CALLBACK ApplicationWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<ApplicationWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr) {
    switch (message) {
      case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_RESTORE) {
          self->BringMainWindowForward();
          return 0;
        }
        break;
      case WM_ACTIVATE:
        // Another copy made this window the foreground one: the main
        // window takes over.
        if (LOWORD(wParam) != WA_INACTIVE) self->BringMainWindowForward();
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace shell::win32
