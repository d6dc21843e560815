// The single-instance guard's own rules, written once: the check at load
// completion with its rejection order, and what a guard window does with
// the notices and copy-data of other copies. Each platform's
// TJvAppInstances is this plus its events and its guard window.
#ifndef SHELL_GUARD_INSTANCE_GUARD_H_
#define SHELL_GUARD_INSTANCE_GUARD_H_

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A platform's guard component: Guard with its events, typed for the
// platform. `Self` is the component itself, `Lines` its list of text lines,
// `Word` its 32-bit unsigned type (process ids, data kinds and sizes);
// `LinesOf` converts received lines.
template <class Self, class Lines, class Word>
class GuardEvents : public Guard {
 public:
  // Each is raised only when set.
  std::function<void(Self* sender)> OnRejected;
  std::function<void(Self* sender, Word processId)> OnInstanceCreated;
  std::function<void(Self* sender, Word processId)> OnInstanceDestroyed;
  std::function<void(Self* sender, std::int32_t param)> OnUserNotify;
  std::function<void(Self* sender, const Lines& cmdLine)> OnCmdLineReceived;
  // `data` is a private copy, valid only during the call.
  std::function<void(Self* sender, Word kind, const void* data, Word size)> OnDataAvailable;

 protected:
  virtual Lines LinesOf(const std::vector<std::u16string>& lines) const = 0;

 private:
  Self* self() { return static_cast<Self*>(this); }
  void RaiseRejected() override {
    if (OnRejected) OnRejected(self());
  }
  void RaiseInstanceCreated(std::uint32_t pid) override {
    if (OnInstanceCreated) OnInstanceCreated(self(), pid);
  }
  void RaiseInstanceDestroyed(std::uint32_t pid) override {
    if (OnInstanceDestroyed) OnInstanceDestroyed(self(), pid);
  }
  void RaiseUserNotify(std::int32_t param) override {
    if (OnUserNotify) OnUserNotify(self(), param);
  }
  void RaiseCmdLineReceived(const std::vector<std::u16string>& lines) override {
    if (OnCmdLineReceived) OnCmdLineReceived(self(), LinesOf(lines));
  }
  void RaiseDataAvailable(std::uint32_t kind, const void* data, std::uint32_t size) override {
    if (OnDataAvailable) OnDataAvailable(self(), kind, data, size);
  }
  bool WantsCmdLine() const override { return static_cast<bool>(OnCmdLineReceived); }
};

}  // namespace guard

#endif  // SHELL_GUARD_INSTANCE_GUARD_H_
