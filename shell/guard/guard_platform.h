// What the single-instance algorithm asks of the system. Each platform
// encodes it once: posix/platform.* (files, flock, local sockets) and
// win32/platform.* (kernel objects, the registered message, windows).
#ifndef SHELL_GUARD_GUARD_PLATFORM_H_
#define SHELL_GUARD_GUARD_PLATFORM_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace guard {

class Guard;
using Clock = std::chrono::steady_clock;

class GuardPlatform {
 public:
  virtual ~GuardPlatform() = default;

  virtual std::uint32_t OwnPid() const = 0;

  // The lock over the table: recursive for the thread that holds it.
  // LockTable throws GuardError when another copy keeps it too long.
  virtual void LockTable() = 0;
  virtual void UnlockTable() = 0;

  // Opens the table (zeroed when new). Called once, under the lock. Throws
  // GuardError.
  virtual void OpenTable() = 0;
  // Its kTableSize bytes; requires OpenTable, and the lock while used.
  virtual unsigned char* TableBytes() = 0;
  // Makes this copy reachable by the others. Called once, under the lock,
  // once the table holds no stale entry of this pid. Throws GuardError.
  virtual void OpenEndpoint() = 0;

  // The live copies: of `pids`, the ones known to be gone. Called under the
  // lock; may clear what a gone copy left behind.
  virtual std::vector<std::uint32_t> GoneAmong(const std::vector<std::uint32_t>& pids) = 0;

  // Delivers notice (code, value) to copy `pid` without waiting for it.
  virtual void NotifyCopy(std::uint32_t pid, std::uint32_t code, std::uint32_t value) = 0;

  // Asks copy `pid` for its activity (notice 4). Its answer reaches `asker`
  // as notice 5 (HandleNotice), at the latest by `roundEnd`; past it the
  // query is only delivered. A copy that gives no answer changes nothing.
  virtual void AskCopy(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) = 0;

  // Brings copy `pid`'s application window to the front (restored first
  // when minimised). Whether it did.
  virtual bool BringCopyToFront(std::uint32_t pid) = 0;

  // Copy-data of `kind` to copy `pid`'s guard windows of class
  // `windowClass`, `originator` (may be null) as sender; this process's own
  // guards ignore it. Waits for each at most until `roundEnd`. Whether one
  // took it.
  virtual bool SendDataTo(std::uint32_t pid, const std::string& windowClass, std::uint32_t kind,
                          const std::vector<unsigned char>& data, Guard* originator,
                          Clock::time_point roundEnd) = 0;

  // This process's arguments 1..n.
  virtual std::vector<std::u16string> OwnArguments() const = 0;
};

}  // namespace guard

#endif  // SHELL_GUARD_GUARD_PLATFORM_H_
