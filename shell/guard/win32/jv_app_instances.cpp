#include "shell/guard/win32/jv_app_instances.h"

#include <chrono>
#include <exception>
#include <stdexcept>

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

void TJvAppInstances::Check() {
  if (!Active || MaxInstances <= 0) return;
  TJclAppInstances& registry = JclAppInstances();
  if (!registry.TableWasFull()) {
    if (registry.Position() < MaxInstances) return;
    const DWORD own = registry.ProcessID();
    const auto roundEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRoundWaitMs);
    for (DWORD pid : registry.ProcessIDs()) {
      if (pid == own) continue;
      const HWND app = TJclAppInstances::GetApplicationWnd(pid);
      if (app == nullptr) continue;  // cannot be asked
      for (HWND w : TJclAppInstances::ThreadWindows(GetWindowThreadProcessId(app, nullptr))) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              roundEnd - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
          // The round's time is spent: the query is delivered, not waited for.
          SendNotifyMessageW(w, registry.MessageID(), kActivityQuery, reinterpret_cast<LPARAM>(FHandle));
          continue;
        }
        // The answer (code 5) reaches FHandle while this send waits.
        DWORD_PTR ignored;
        SendMessageTimeoutW(w, registry.MessageID(), kActivityQuery, reinterpret_cast<LPARAM>(FHandle),
                            SMTO_NORMAL | SMTO_ABORTIFHUNG,
                            left < kAnswerWaitMs ? static_cast<UINT>(left) : kAnswerWaitMs, &ignored);
        if (!Active) break;
      }
      if (!Active) break;
    }
    if (!Active) return;  // the others are inactive: this copy runs, inactive itself
  }
  if (OnRejected) OnRejected(this);
  if (AutoActivate) registry.SwitchTo(0);
  if (SendCmdLine) registry.SendCmdLineParams(kGuardWindowClass, FHandle);
  ReleaseJclAppInstances();
  ExitProcess(0);
}

void TJvAppInstances::UserNotify(std::int32_t param) {
  JclAppInstances().Announce(kUserNotify, static_cast<LPARAM>(param));
}

bool TJvAppInstances::SendData(DWORD kind, const void* data, DWORD size) {
  return JclAppInstances().SendData(kGuardWindowClass, kind, data, size, FHandle);
}

template <typename F>
void TJvAppInstances::Raise(F&& call) {
  try {
    call();
  } catch (...) {
    JclAppInstances().ReportError(std::current_exception());
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
  TJclAppInstances& registry = JclAppInstances();
  if (message == WM_COPYDATA) {
    if (reinterpret_cast<HWND>(wParam) == FHandle) {
      result = 0;  // sent by this very guard
      return true;
    }
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    result = 1;
    if (record == nullptr) return true;
    const auto* bytes = static_cast<const unsigned char*>(record->lpData);
    const DWORD size = bytes != nullptr ? record->cbData : 0;
    if (record->dwData == kCmdLineDataKind) {
      if (OnCmdLineReceived) {
        std::wstring text;
        for (DWORD i = 0; i + 1 < size; i += 2) {
          text.push_back(static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8)));
        }
        Raise([&] { OnCmdLineReceived(this, SplitLines(text)); });
      }
    } else if (OnDataAvailable) {
      const std::vector<unsigned char> copy(bytes, bytes + size);
      Raise([&] { OnDataAvailable(this, static_cast<DWORD>(record->dwData), copy.data(), size); });
    }
    return true;
  }
  if (message != registry.MessageID() || message == 0) return false;
  switch (wParam) {
    case kInstanceCreated:
      if (OnInstanceCreated && static_cast<DWORD>(lParam) != registry.ProcessID()) {
        Raise([&] { OnInstanceCreated(this, static_cast<DWORD>(lParam)); });
      }
      break;
    case kInstanceDestroyed:
      if (OnInstanceDestroyed) Raise([&] { OnInstanceDestroyed(this, static_cast<DWORD>(lParam)); });
      break;
    case kUserNotify:
      if (OnUserNotify) Raise([&] { OnUserNotify(this, static_cast<std::int32_t>(lParam)); });
      break;
    case kActivityQuery: {
      DWORD_PTR ignored;
      SendMessageTimeoutW(reinterpret_cast<HWND>(lParam), registry.MessageID(), kActivityAnswer,
                          Active ? 1 : 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, kAnswerWaitMs, &ignored);
      break;
    }
    case kActivityAnswer:
      Active = lParam != 0;
      break;
    default:
      break;  // every other code is ignored
  }
  return false;  // the notice goes on to the default handling
}

std::vector<std::wstring> TJvAppInstances::SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const wchar_t c = text[i];
    if (c == L'\r' || c == L'\n') {
      lines.push_back(text.substr(start, i - start));
      if (c == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

}  // namespace guard
