// Test helpers that drive other processes' windows as a person would:
// starting programs, finding their windows, mouse clicks and typing through
// the system's input queue (SendInput), and reading what windows show.
#ifndef SHELL_WIN32_TESTS_UI_DRIVER_H_
#define SHELL_WIN32_TESTS_UI_DRIVER_H_

#include <windows.h>

#include <string>
#include <vector>

namespace uitest {

// A started program; ended (TerminateProcess) on destruction if still running.
class Process {
 public:
  Process() = default;
  // Starts `exe` with `args` (each quoted), standard handles inherited from
  // nothing. Check Started().
  Process(const std::wstring& exe, const std::vector<std::wstring>& args);
  ~Process();
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;

  bool Started() const { return info_.hProcess != nullptr; }
  DWORD Id() const { return info_.dwProcessId; }
  HANDLE Handle() const { return info_.hProcess; }
  bool Running() const;
  // Waits up to `ms`; true when it ended.
  bool Wait(DWORD ms) const;
  // The exit code once ended; STILL_ACTIVE before.
  DWORD ExitCode() const;
  void Kill();

 private:
  PROCESS_INFORMATION info_{};
};

struct WindowInfo {
  HWND handle;
  DWORD pid;
  std::wstring className;
  std::wstring title;
  bool visible;
};

// Every top-level window on the desktop. Titles of other processes' windows
// are read without a message; without titles no message is sent at all
// (and none sent to this thread's windows is handled).
std::vector<WindowInfo> TopLevelWindows(bool withTitles = true);

// The first visible top-level window of `pid` (any when 0) with class
// `className` (any when empty) and caption `title` (any when empty), polling
// up to `timeoutMs`; null when none appears.
HWND WaitForWindow(DWORD pid, const std::wstring& className, const std::wstring& title, DWORD timeoutMs);

// The visible top-level windows with caption `title`, of any process.
std::vector<HWND> VisibleWindowsTitled(const std::wstring& title);

// Makes `window` the foreground window (retried for up to 2 s).
bool BringToFront(HWND window);

// A left click at `x`,`y` in `window`'s client coordinates.
void ClickAt(HWND window, int x, int y);
// The pointer moved to `x`,`y` in `window`'s client coordinates, no click.
void MoveTo(HWND window, int x, int y);
// Clicks at `x`,`y` in `window` until `target` has the keyboard focus (up
// to three clicks, each waited on for 3 s); false when it never has.
bool ClickToFocus(HWND window, int x, int y, HWND target);
// The window with the keyboard focus in `window`'s thread, or null.
HWND FocusOf(HWND window);
// A left click on the middle of `control`.
void ClickOn(HWND control);

// Types `text` key by key as virtual keys of the keyboard layout (Shift
// where a character needs it), into whatever has the focus.
void TypeText(const std::wstring& text);
// One key press and release, with Shift/Ctrl/Alt held when asked.
void PressKey(WORD vk, bool shift = false, bool control = false, bool alt = false);

// The child of `window` (any depth) whose control identifier is `id`, or
// whose class is `className` and n-th such (0-based) in z-order.
HWND ChildOfClass(HWND window, const std::wstring& className, int index);
std::wstring TextOf(HWND window);
std::wstring ClassOf(HWND window);

// Presses OK on a message box or task dialog (the box's own message, no
// input queue): true when the box went away within `timeoutMs`.
bool DismissBox(HWND box, DWORD timeoutMs = 5000);

// Polls `condition` every 50 ms up to `timeoutMs`, pumping this thread's
// messages between polls.
template <typename F>
bool WaitUntil(F condition, DWORD timeoutMs) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= end) return false;
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(50);
  }
}

// The directory of this test program, with a trailing backslash.
std::wstring ProgramDirectory();
std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

}  // namespace uitest

#endif  // SHELL_WIN32_TESTS_UI_DRIVER_H_
