// The single-instance guard owned by the main window.
//
// Use, in the window's build order:
//   1. construct it while the window is built (enters the registry table;
//      may throw GuardError: show it in the start-up error box, exit 1);
//   2. set OnRejected, and register the main window with
//      SetApplicationWindow so rejected starts bring it to the front;
//   3. call Check() once every component exists, before FormCreate. A
//      rejected start never returns from Check: the process ends with 0
//      (Guard::Check tells the order).
// At shutdown destroy it with the window, then ReleaseJclAppInstances().
#ifndef SHELL_GUARD_JV_APP_INSTANCES_H_
#define SHELL_GUARD_JV_APP_INSTANCES_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QStringList>

#include "shell/guard/instance_guard.h"
#include "shell/guard/jcl_app_instances.h"

class QWidget;

namespace guard {

// Restores `window` when minimised, shows, raises and activates it. Returns
// true (the outcome is not otherwise known).
bool BringWindowToFront(QWidget* window);

class TJvAppInstances final : public GuardEvents<TJvAppInstances, QStringList, std::uint32_t> {
 public:
  // Registers this guard with the process's registry (created on first use)
  // and, for the first guard of the process, enters the table with
  // CheckInstance(65535). Throws GuardError.
  TJvAppInstances();
  ~TJvAppInstances() override;

  // The window that rejected starts bring to the front (restored when
  // minimised, raised, activated). Kept by weak reference. A window that
  // has never been shown is not shown by an activation: one that arrives
  // before the window's first show (while it is still being created) waits
  // for that show and then brings it to the front.
  static void SetApplicationWindow(QWidget* window);
  // As above, with `bring` in place of BringWindowToFront (it must not throw
  // past the guard: errors go to the registry's error reporter).
  static void SetApplicationWindow(QWidget* window, std::function<bool(QWidget*)> bring);

  // Guard::SplitLines on Qt text.
  static QStringList SplitLines(const QString& text);

 private:
  QStringList LinesOf(const std::vector<std::u16string>& lines) const override;
  void BeforeCheck() override;
};

}  // namespace guard

#endif  // SHELL_GUARD_JV_APP_INSTANCES_H_
