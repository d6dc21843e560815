// The window during a long pass (Linux): the busy state around it (busy
// cursor, no user input, progress on the desktop's launcher entry), painting
// between calls and while a call waits, and a close request kept for its end.
#ifndef SHELL_BUSY_PASS_H_
#define SHELL_BUSY_PASS_H_

#include <QObject>

#include <functional>
#include <string>

#include "shell/ticking_host.h"

namespace shell {

// While it lives: the busy cursor, every user input event that arrives is
// dropped (never held back for later), and the launcher entry shows the
// progress where the desktop listens. A close request of the window system
// (title bar, Alt+F4 through the window manager) is not carried out during
// the pass: `close` runs once, when the pass ends (in the destructor, also
// when the pass ends with an error). Not re-entrant: Active() tells.
class BusyPass : public QObject {
 public:
  explicit BusyPass(std::function<void()> close = {}, std::string desktop_id = "brevand.desktop");
  ~BusyPass() override;
  static bool Active();

  // Shows `done` (0..1) on the launcher entry, then lets the window paint
  // and run its timers; pending input is dropped, no socket is served.
  void Paint(double done);
  // The same without a progress update, for a call that waits on the host;
  // does nothing outside a pass or while a message box is up.
  static void PaintWhileWaiting();
  // Runs `show` with the normal cursor and input, then turns busy again.
  void Suspend(const std::function<void()>& show);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Launcher(double done, bool visible);
  void Begin();
  void End();
  static void ProcessPending();

  std::function<void()> close_;
  std::string desktop_id_;
  bool busy_ = false;
  bool closeRequested_ = false;
};

}  // namespace shell

#endif  // SHELL_BUSY_PASS_H_
