// The single-instance guard's own rules, written once: the check at load
// completion with its rejection order, and what a guard window does with
// the notices and copy-data of other copies. Each platform's
// TJvAppInstances is this plus its events and its guard window.
#ifndef SHELL_GUARD_INSTANCE_GUARD_H_
#define SHELL_GUARD_INSTANCE_GUARD_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shell/guard/instance_registry.h"

namespace guard {

class Guard {
 public:
  virtual ~Guard() = default;

  // Takes part in the check, and the answer to activity queries.
  bool Active = true;
  // A copy is allowed while its position is below this; 0 or less: no check.
  std::int32_t MaxInstances = 1;
  // On rejection, bring the first copy in the table to the front.
  bool AutoActivate = true;
  // On rejection, send this copy's arguments to the copies in the table.
  bool SendCmdLine = true;

  // Load completion: the single-instance check. Returns when the start is
  // allowed (asked copies that all answer inactive leave this guard
  // inactive). Otherwise the start is rejected and Check never returns:
  // the pid at position 0 is noted, this copy leaves the table, OnRejected
  // is raised, then (AutoActivate) the noted copy comes to the front and
  // (SendCmdLine) the arguments go to the copies in the table, and the
  // process ends with exit code 0 whatever fails on the way. A full table
  // (no room to enter) counts as rejected.
  void Check();

  // Announces code 3 with `param` to every copy.
  void UserNotify(std::int32_t param);
  // Copy-data of `kind` to the guards of every copy in the table.
  bool SendData(std::uint32_t kind, const void* data, std::size_t size);

  // A notice for this guard: raises its event (codes 1 to 3), answers a
  // query with Active (code 4), takes an answer into Active (code 5).
  // Returns the answer to a query; nothing otherwise.
  std::optional<std::uint32_t> HandleNotice(std::uint32_t code, std::uint32_t value);
  // Copy-data for this guard. Returns 0, untouched, when `fromSelf`;
  // otherwise raises the command-line event (kind 1) or the data event
  // and returns 1.
  std::uint32_t HandleCopyData(bool fromSelf, std::uint32_t kind, const unsigned char* data,
                               std::size_t size);

  // Splits received command-line text into its lines (CR LF, CR or LF end a
  // line; a trailing break makes no empty last line).
  static std::vector<std::u16string> SplitLines(const std::u16string& text);

 protected:
  Guard() = default;
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

  // The events, each raised only when set; what escapes one goes to the
  // registry's error reporter.
  virtual void RaiseRejected() = 0;
  virtual void RaiseInstanceCreated(std::uint32_t pid) = 0;
  virtual void RaiseInstanceDestroyed(std::uint32_t pid) = 0;
  virtual void RaiseUserNotify(std::int32_t param) = 0;
  virtual void RaiseCmdLineReceived(const std::vector<std::u16string>& lines) = 0;
  virtual void RaiseDataAvailable(std::uint32_t kind, const void* data, std::uint32_t size) = 0;
  // Whether the command-line event is set (the text is decoded only then).
  virtual bool WantsCmdLine() const = 0;
  // Called before the check reads the table (the platform may connect its
  // endpoint to the event loop there).
  virtual void BeforeCheck() {}

 private:
  [[noreturn]] void Reject(InstanceRegistry& registry) noexcept;
  template <typename F>
  void Raise(F&& call) noexcept;
};

}  // namespace guard

#endif  // SHELL_GUARD_INSTANCE_GUARD_H_
