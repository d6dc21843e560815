// The Windows build's message boxes: a task dialog where comctl32 6 offers
// one (the manifest asks for it), else a plain message box.
#include <windows.h>
#include <commctrl.h>

#include "shell/guard/win32/objects.h"
#include "shell/messages.h"

namespace shell {

namespace {

using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

TaskDialogIndirectFn FindTaskDialog() {
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  if (comctl == nullptr) comctl = LoadLibraryW(L"comctl32.dll");
  if (comctl == nullptr) return nullptr;
  return reinterpret_cast<TaskDialogIndirectFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "TaskDialogIndirect")));
}

// The box's owner: this thread's visible main window, which the box then
// keeps from taking input. None before the window shows.
BOOL CALLBACK FindMainWindow(HWND w, LPARAM p) {
  wchar_t name[16];
  if (IsWindowVisible(w) && GetClassNameW(w, name, 16) > 0 && lstrcmpW(name, L"TForm4") == 0) {
    *reinterpret_cast<HWND*>(p) = w;
    return FALSE;
  }
  return TRUE;
}

HWND Owner() {
  HWND owner = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &FindMainWindow, reinterpret_cast<LPARAM>(&owner));
  return owner;
}

// An unowned box stays on top, like the main window, so that it is never
// hidden beneath a running copy's window.
HRESULT CALLBACK OnTaskDialog(HWND window, UINT notification, WPARAM, LPARAM, LONG_PTR topMost) {
  if (notification == TDN_CREATED && topMost != 0) {
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  return S_OK;
}

}  // namespace

void ShowPlatformMessage(const ShownMessage& message) {
  const std::wstring caption = guard::win32::Widen(message.caption);
  const std::wstring text = guard::win32::Widen(message.text);
  const HWND owner = message.kind == MessageKind::kApplicationError ? nullptr : Owner();
  const UINT unowned = owner == nullptr ? MB_TASKMODAL | MB_TOPMOST | MB_SETFOREGROUND : 0;
  if (message.kind == MessageKind::kMessage) {
    if (const TaskDialogIndirectFn taskDialog = FindTaskDialog()) {
      TASKDIALOGCONFIG config{};
      config.cbSize = sizeof config;
      config.hwndParent = owner;
      config.hInstance = GetModuleHandleW(nullptr);
      config.dwFlags = owner != nullptr ? TDF_POSITION_RELATIVE_TO_WINDOW : 0;
      config.dwCommonButtons = TDCBF_OK_BUTTON;
      config.pszWindowTitle = caption.c_str();
      config.pszContent = text.c_str();
      config.pfCallback = &OnTaskDialog;
      config.lpCallbackData = owner == nullptr ? 1 : 0;
      int button = 0;
      if (SUCCEEDED(taskDialog(&config, &button, nullptr, nullptr))) return;
    }
    MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | unowned);
    return;
  }
  MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR | unowned);
}

}  // namespace shell
