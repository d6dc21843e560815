// The single-instance guard owned by the main window.
//
// Use, in the window's build order:
//   1. construct it while the window is built (enters the registry table;
//      may throw GuardError: show it in the start-up error box, exit 1);
//   2. set OnRejected, and register the main window with
//      SetApplicationWindow so rejected starts bring it to the front;
//   3. call Check() once every component exists, before FormCreate. A
//      rejected start never returns from Check: the process ends with 0.
// At shutdown destroy it with the window, then ReleaseJclAppInstances().
#ifndef SHELL_GUARD_JV_APP_INSTANCES_H_
#define SHELL_GUARD_JV_APP_INSTANCES_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <QStringList>

#include "shell/guard/jcl_app_instances.h"

class QWidget;

namespace guard {

// Restores `window` when minimised, shows, raises and activates it. Returns
// true (the outcome is not otherwise known).
bool BringWindowToFront(QWidget* window);

class TJvAppInstances : public GuardWindow {
 public:
  // Registers this guard with the process's registry (created on first use)
  // and, for the first guard of the process, enters the table with
  // CheckInstance(65535). Throws GuardError.
  TJvAppInstances();
  ~TJvAppInstances() override;
  TJvAppInstances(const TJvAppInstances&) = delete;
  TJvAppInstances& operator=(const TJvAppInstances&) = delete;

  // Takes part in the check, and the answer to activity queries.
  bool Active = true;
  // A copy is allowed while its position is below this; 0 or less: no check.
  std::int32_t MaxInstances = 1;
  // On rejection, bring the first copy in the table to the front.
  bool AutoActivate = true;
  // On rejection, send this copy's arguments to the copies in the table.
  bool SendCmdLine = true;

  // Each is raised only when set.
  std::function<void(TJvAppInstances* sender)> OnRejected;
  std::function<void(TJvAppInstances* sender, std::uint32_t processId)> OnInstanceCreated;
  std::function<void(TJvAppInstances* sender, std::uint32_t processId)> OnInstanceDestroyed;
  std::function<void(TJvAppInstances* sender, std::int32_t param)> OnUserNotify;
  std::function<void(TJvAppInstances* sender, const QStringList& cmdLine)> OnCmdLineReceived;
  // `data` is a private copy, valid only during the call.
  std::function<void(TJvAppInstances* sender, std::uint32_t kind, const void* data,
                     std::uint32_t size)>
      OnDataAvailable;

  // Load completion: the single-instance check. Returns when the start is
  // allowed. When rejected: OnRejected, then (AutoActivate) the first copy
  // comes to the front, then (SendCmdLine) the arguments go to the copies,
  // the registry is freed and the process ends at once with exit code 0.
  // A full table (no room to enter) counts as rejected.
  void Check();

  // Announces code 3 with `param` to every copy.
  void UserNotify(std::int32_t param);
  // Copy-data of `kind` to the guards of every copy in the table.
  bool SendData(std::uint32_t kind, const void* data, std::uint32_t size);

  // The window that rejected starts bring to the front (restored when
  // minimised, raised, activated). Kept by weak reference. A window that
  // has never been shown is not shown by an activation: one that arrives
  // before the window's first show (while it is still being created) waits
  // for that show and then brings it to the front.
  static void SetApplicationWindow(QWidget* window);
  // As above, with `bring` in place of BringWindowToFront (it must not throw
  // past the guard: errors go to the registry's error reporter).
  static void SetApplicationWindow(QWidget* window, std::function<bool(QWidget*)> bring);

  std::optional<std::uint32_t> HandleNotice(std::uint32_t code, std::uint32_t value) override;
  std::uint32_t HandleCopyData(std::uint32_t senderPid, std::uint32_t kind,
                               const std::vector<unsigned char>& data) override;

  // Splits received command-line text into its lines (CR LF, CR or LF end a
  // line; a trailing break makes no empty last line).
  static QStringList SplitLines(const QString& text);

 private:
  template <typename F>
  void Raise(F&& call);
};

}  // namespace guard

#endif  // SHELL_GUARD_JV_APP_INSTANCES_H_
