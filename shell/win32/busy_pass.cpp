#include "shell/win32/busy_pass.h"

#include <objbase.h>
#include <shobjidl.h>

#include <algorithm>

namespace shell::win32 {
namespace {

BusyPass* g_active = nullptr;
constexpr ULONGLONG kProgressSteps = 1000;

HCURSOR WaitCursor() { return LoadCursorW(nullptr, IDC_WAIT); }

}  // namespace

BusyPass::BusyPass(HWND window, std::function<void()> close) : window_(window), close_(std::move(close)) {
  g_active = this;
  previous_ = SetCursor(WaitCursor());
  void* taskbar = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                 &taskbar)) &&
      taskbar != nullptr) {
    taskbar_ = static_cast<ITaskbarList3*>(taskbar);
    if (FAILED(taskbar_->HrInit())) {
      taskbar_->Release();
      taskbar_ = nullptr;
    }
  }
  if (taskbar_ != nullptr) taskbar_->SetProgressState(window_, TBPF_NORMAL);
  Progress(0);
}

BusyPass::~BusyPass() {
  // Input that reached the queue before the end is dropped too.
  DropInput();
  if (taskbar_ != nullptr) {
    taskbar_->SetProgressState(window_, TBPF_NOPROGRESS);
    taskbar_->Release();
  }
  busy_ = false;
  g_active = nullptr;
  SetCursor(previous_ != nullptr ? previous_ : LoadCursorW(nullptr, IDC_ARROW));
  if (closeRequested_ && close_) close_();
}

BusyPass* BusyPass::Active() { return g_active; }

void BusyPass::Progress(double done) {
  if (taskbar_ == nullptr) return;
  const auto value = static_cast<ULONGLONG>(std::clamp(done, 0.0, 1.0) * double(kProgressSteps));
  taskbar_->SetProgressValue(window_, value, kProgressSteps);
}

void BusyPass::DropInput() {
  MSG m;
  while (PeekMessageW(&m, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    // Alt+F4 asks to close.
    if (m.message == WM_SYSKEYDOWN && m.wParam == VK_F4 && (m.lParam & (1 << 29)) != 0) closeRequested_ = true;
  }
  while (PeekMessageW(&m, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
  }
  while (PeekMessageW(&m, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE)) {
    // A press on the close box asks to close.
    if (m.message == WM_NCLBUTTONDOWN && m.wParam == HTCLOSE && m.hwnd == window_) closeRequested_ = true;
  }
}

void BusyPass::Paint(double done) {
  Progress(done);
  DropInput();
  // Paint messages (sent messages are handled by the peek itself). Posted
  // messages wait for the end of the pass.
  MSG m;
  for (int i = 0; i < 100 && PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE); ++i) {
    DispatchMessageW(&m);
  }
}

void BusyPass::Suspend(const std::function<void()>& show) {
  busy_ = false;
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  show();
  busy_ = true;
  SetCursor(WaitCursor());
}

bool BusyPass::Handle(UINT message, WPARAM wParam, LPARAM /*lParam*/, LRESULT* result) {
  if (!busy_) return false;
  switch (message) {
    case WM_SETCURSOR:
      SetCursor(WaitCursor());
      *result = TRUE;
      return true;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) != SC_CLOSE) return false;
      closeRequested_ = true;
      *result = 0;
      return true;
    case WM_CLOSE:
      closeRequested_ = true;
      *result = 0;
      return true;
    case WM_ENDSESSION:
      if (wParam != FALSE) closeRequested_ = true;
      *result = 0;
      return true;
    default:
      return false;
  }
}

}  // namespace shell::win32
