// The instance registry's algorithms, written once over a GuardPlatform:
// entering the table, the look-ups, the announcements, leaving, SwitchTo
// and the copy-data rounds. Each platform's TJclAppInstances is this over
// its own encoding.
#ifndef SHELL_GUARD_INSTANCE_REGISTRY_H_
#define SHELL_GUARD_INSTANCE_REGISTRY_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/guard/guard_platform.h"

namespace guard {

// Notice codes; every other code is ignored.
inline constexpr std::uint32_t kInstanceCreated = 1;
inline constexpr std::uint32_t kInstanceDestroyed = 2;
inline constexpr std::uint32_t kUserNotify = 3;
inline constexpr std::uint32_t kActivityQuery = 4;
inline constexpr std::uint32_t kActivityAnswer = 5;

// Copy-data kind of a command line: UTF-16 text, CR LF after each argument.
inline constexpr std::uint32_t kCmdLineDataKind = 1;

inline constexpr char kGuardWindowClassName[] = "JvAppInstances_WindowClass";

// Time limits of the waiting sends (the receiving copy may be busy or hung).
inline constexpr int kAnswerWaitMs = 3000;  // one send
inline constexpr int kRoundWaitMs = 5000;   // all sends of one round together

class InstanceRegistry {
 public:
  // Requires `platform` to outlive the registry. Under the lock: opens the
  // table, drops dead copies (and an entry of this pid: a dead copy's that
  // came back), opens this copy's endpoint. Throws GuardError.
  explicit InstanceRegistry(GuardPlatform& platform);
  // Leaves the table unless it has left already; never throws.
  virtual ~InstanceRegistry();
  InstanceRegistry(const InstanceRegistry&) = delete;
  InstanceRegistry& operator=(const InstanceRegistry&) = delete;

  std::uint32_t ProcessID() const { return pid_; }

  // Enters the table: under the lock sets the maximum count when 0 and
  // appends this process; then announces code 1 when its index is below
  // the maximum. Returns that comparison. A full table leaves this copy
  // out and sets TableWasFull().
  bool CheckInstance(std::uint16_t maxInstances);
  bool TableWasFull() const { return tableFull_; }

  // Read under the lock, dead copies dropped first.
  int InstanceCount();
  int InstanceIndex(std::uint32_t pid);  // -1 when absent
  int Position() { return InstanceIndex(pid_); }
  std::vector<std::uint32_t> ProcessIDs();  // table order
  // The process at `index`, if any.
  std::optional<std::uint32_t> ProcessAt(int index);

  // Asks copy `pid` for its activity; the answer reaches `asker`.
  void Ask(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) {
    platform_.AskCopy(pid, asker, roundEnd);
  }

  // Delivers (code, value) to every copy in the table, in order, under the
  // lock, without waiting for any to handle it.
  void Announce(std::uint32_t code, std::uint32_t value);

  // Leaves the table: under the lock, removes this process's entry (found
  // or not) and announces code 2. Only the first call does anything.
  void Leave();
  bool HasLeft() const { return left_; }

  // Brings the copy at `index` to the front; never this process itself.
  bool SwitchTo(int index);
  // The same for the copy of process `pid`.
  bool SwitchToProcess(std::uint32_t pid);

  // This process's arguments 1..n as kind 1, then the same layers down to
  // SendData: copy-data to the guard windows of class `windowClass` of
  // every copy in the table, `originator` as sender, the waits of one call
  // bounded together. True when a copy took it.
  bool SendCmdLineParams(const std::string& windowClass, Guard* originator);
  bool SendStrings(const std::string& windowClass, std::uint32_t kind,
                   const std::vector<std::u16string>& strings, Guard* originator);
  bool SendString(const std::string& windowClass, std::uint32_t kind, const std::u16string& text,
                  Guard* originator);
  bool SendData(const std::string& windowClass, std::uint32_t kind, const void* data, std::size_t size,
                Guard* originator);

  // Shows errors that escape a guard event handler (default: standard error).
  void SetErrorReporter(std::function<void(std::exception_ptr)> reporter) { report_ = std::move(reporter); }
  void ReportError(std::exception_ptr error) noexcept;

 private:
  void Purge(bool ownIsStale);

  GuardPlatform& platform_;
  std::uint32_t pid_;
  bool tableFull_ = false;
  bool left_ = false;
  std::function<void(std::exception_ptr)> report_;
};

// Holds the registry lock for a scope.
class TableLock {
 public:
  explicit TableLock(GuardPlatform& platform) : platform_(platform) { platform_.LockTable(); }
  ~TableLock() { platform_.UnlockTable(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  GuardPlatform& platform_;
};

// The process's registry, created on first use by MakeProcessRegistry (may
// throw GuardError).
InstanceRegistry& ProcessRegistry();
bool JclAppInstancesExists();
// Frees the registry (leaving the table). Call at shutdown, after the main
// window is gone.
void ReleaseJclAppInstances();

// Defined by each platform beside its TJclAppInstances: builds the
// process's registry.
std::unique_ptr<InstanceRegistry> MakeProcessRegistry();
// Ends the process at once with `code`, no other shutdown step.
[[noreturn]] void EndProcessNow(int code);

}  // namespace guard

#endif  // SHELL_GUARD_INSTANCE_REGISTRY_H_
