#include "shell/guard/win32/jv_app_instances.h"

#include "shell/guard/guard_error.h"

namespace guard {

namespace {

bool& GuardConstructed() {
  static bool constructed = false;
  return constructed;
}

// Registers the guard window class with the default window procedure; a
// class of that name with another procedure is registered anew.
void RegisterGuardClass(HINSTANCE instance) {
  WNDCLASSW existing{};
  if (GetClassInfoW(instance, kGuardWindowClass, &existing) != FALSE) {
    if (existing.lpfnWndProc == DefWindowProcW) return;
    UnregisterClassW(kGuardWindowClass, instance);
  }
  WNDCLASSW wc{};
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = instance;
  wc.lpszClassName = kGuardWindowClass;
  if (RegisterClassW(&wc) == 0) throw GuardError("Failed to register the guard window class");
}

std::vector<std::wstring> Wide(const std::vector<std::u16string>& lines) {
  std::vector<std::wstring> wide;
  for (const std::u16string& line : lines) wide.emplace_back(line.begin(), line.end());
  return wide;
}

}  // namespace

TJvAppInstances::TJvAppInstances() {
  TJclAppInstances& registry = JclAppInstances();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterGuardClass(instance);
  FHandle = CreateWindowExW(WS_EX_TOOLWINDOW, kGuardWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                            nullptr, instance, nullptr);
  if (FHandle == nullptr) throw GuardError("Failed to create the guard window");
  SetWindowLongPtrW(FHandle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TJvAppInstances::WindowProc));
  if (!GuardConstructed()) {
    GuardConstructed() = true;
    try {
      registry.CheckInstance(65535);
    } catch (...) {
      DestroyWindow(FHandle);
      FHandle = nullptr;
      throw;
    }
  }
}

TJvAppInstances::~TJvAppInstances() {
  if (FHandle != nullptr) {
    SetWindowLongPtrW(FHandle, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcW));
    SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
    DestroyWindow(FHandle);
  }
}

LRESULT CALLBACK TJvAppInstances::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TJvAppInstances*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  LRESULT result = 0;
  if (self != nullptr && JclAppInstancesExists() && self->Handle(message, wParam, lParam, result)) {
    return result;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

bool TJvAppInstances::Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message == WM_COPYDATA) {
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const bool fromSelf = reinterpret_cast<HWND>(wParam) == FHandle;
    result = fromSelf ? 0 : 1;
    if (record == nullptr || fromSelf) return true;
    result = HandleCopyData(false, static_cast<std::uint32_t>(record->dwData),
                            static_cast<const unsigned char*>(record->lpData), record->cbData);
    return true;
  }
  const UINT id = JclAppInstances().MessageID();
  if (message != id || message == 0) return false;
  const auto answer = HandleNotice(static_cast<std::uint32_t>(wParam), static_cast<std::uint32_t>(lParam));
  if (answer && wParam == kActivityQuery) {
    DWORD_PTR ignored;
    SendMessageTimeoutW(reinterpret_cast<HWND>(lParam), id, kActivityAnswer, *answer,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, kAnswerWaitMs, &ignored);
  }
  return false;  // the notice goes on to the default handling
}

std::vector<std::wstring> TJvAppInstances::LinesOf(const std::vector<std::u16string>& lines) const {
  return Wide(lines);
}

std::vector<std::wstring> TJvAppInstances::SplitLines(const std::wstring& text) {
  return Wide(Guard::SplitLines(std::u16string(text.begin(), text.end())));
}

}  // namespace guard
