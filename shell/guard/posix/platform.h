// The guard's platform on Linux: the lock file "<key>_Otx" and the table
// file "<key>_Map" in the runtime directory, and each copy's local socket
// "<key-hash>_<pid>" there, which stands for both its guard windows and its
// application window.
//
// Everything runs on the thread that first uses the registry, which must own
// the QCoreApplication.
#ifndef SHELL_GUARD_POSIX_PLATFORM_H_
#define SHELL_GUARD_POSIX_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/guard/guard_platform.h"

namespace guard::posix {

class Endpoint;
class RecursiveFileLock;
class SharedTableFile;
struct Message;

class Platform : public GuardPlatform {
 public:
  // Builds the key from ProgramPath() and opens the lock. Throws GuardError.
  Platform();
  ~Platform() override;

  const std::string& Key() const { return key_; }
  // Number stamped on every message; messages without it are dropped.
  std::uint32_t MessageID() const { return messageId_; }
  const std::string& Directory() const { return dir_; }

  // Lets the Qt event loop serve this copy's socket (done when the socket
  // opens if a QCoreApplication exists already; harmless to repeat).
  void AttachToEventLoop();

  // Guards of this process that receive notices and copy-data.
  void AddGuardWindow(Guard* window);
  void RemoveGuardWindow(Guard* window);
  bool HasGuardWindows() const { return !windows_.empty(); }

  // What brings this copy's main window to the front; returns whether it
  // did. Unset: nothing comes to the front.
  void SetActivationHandler(std::function<bool()> handler) { activate_ = std::move(handler); }

  // The application window of copy `pid`: its socket path when it lives.
  std::optional<std::string> GetApplicationWnd(std::uint32_t pid);

  std::uint32_t OwnPid() const override { return pid_; }
  void LockTable() override;
  void UnlockTable() override;
  void OpenTable() override;
  unsigned char* TableBytes() override;
  void OpenEndpoint() override;
  std::vector<std::uint32_t> GoneAmong(const std::vector<std::uint32_t>& pids) override;
  void NotifyCopy(std::uint32_t pid, std::uint32_t code, std::uint32_t value) override;
  void AskCopy(std::uint32_t pid, Guard& asker, Clock::time_point roundEnd) override;
  bool BringCopyToFront(std::uint32_t pid) override;
  bool SendDataTo(std::uint32_t pid, const std::string& windowClass, std::uint32_t kind,
                  const std::vector<unsigned char>& data, Guard* originator,
                  Clock::time_point roundEnd) override;
  std::vector<std::u16string> OwnArguments() const override;

 private:
  std::string EndpointOf(std::uint32_t pid) const;
  std::optional<std::uint32_t> Dispatch(const Message& m);

  std::string key_;
  std::string dir_;
  std::string keyHash_;
  std::uint32_t messageId_;
  std::uint32_t pid_;
  std::unique_ptr<RecursiveFileLock> lock_;
  std::unique_ptr<SharedTableFile> table_;
  std::unique_ptr<Endpoint> endpoint_;
  std::vector<Guard*> windows_;
  std::function<bool()> activate_;
};

}  // namespace guard::posix

#endif  // SHELL_GUARD_POSIX_PLATFORM_H_
