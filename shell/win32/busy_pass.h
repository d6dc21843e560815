// The window during a long pass (Windows): the busy cursor, no user input,
// painting, progress on the task-bar button, and a close request kept for
// the end of the pass.
#ifndef SHELL_WIN32_BUSY_PASS_H_
#define SHELL_WIN32_BUSY_PASS_H_

#include <windows.h>

#include <functional>

struct ITaskbarList3;

namespace shell::win32 {

// Lives around one pass on the window's thread. While busy: the wait
// cursor over the window; every keyboard and mouse message of the thread is
// taken from the queue and dropped (at each Paint and at the end, so nothing
// is handled after the pass either); paint and sent messages are handled,
// also inside the host calls (COM's modal loop handles them). A close
// request (the close box, Alt+F4, the system menu's or the task bar's
// Close, WM_CLOSE, the end of the session) is not carried out: `close` runs
// once, when the pass ends (in the destructor, also after an error).
// The task-bar button shows the progress where the shell offers
// ITaskbarList3. Not re-entrant: Active() tells.
class BusyPass {
 public:
  BusyPass(HWND window, std::function<void()> close);
  ~BusyPass();
  BusyPass(const BusyPass&) = delete;
  BusyPass& operator=(const BusyPass&) = delete;
  static BusyPass* Active();

  // Shows `done` (0..1) on the task-bar button, drops pending input and
  // handles paint and sent messages.
  void Paint(double done);
  // Runs `show` (a message box) with the normal cursor and input, then
  // turns busy again.
  void Suspend(const std::function<void()>& show);

  // For the window procedure, before its own handling: true when the
  // message is the busy state's (then `*result` is its answer).
  bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

 private:
  void DropInput();
  void Progress(double done);

  HWND window_;
  std::function<void()> close_;
  ITaskbarList3* taskbar_ = nullptr;
  HCURSOR previous_ = nullptr;
  bool busy_ = true;
  bool closeRequested_ = false;
};

}  // namespace shell::win32

#endif  // SHELL_WIN32_BUSY_PASS_H_
