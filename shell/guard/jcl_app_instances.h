// The instance registry: one per process, shared table of the running copies
// of one program file, and the messages between them.
//
// Linux layer: table file "<key>_Map" and lock file "<key>_Otx" in the
// runtime directory; each copy listens on "<key-hash>_<pid>" there. The
// copy's socket stands for both its guard windows and its application window.
//
// Everything runs on the thread that first uses the registry, which must own
// the QCoreApplication. Copies that died without leaving are dropped from the
// table, under the lock, before the table is read.
#ifndef SHELL_GUARD_JCL_APP_INSTANCES_H_
#define SHELL_GUARD_JCL_APP_INSTANCES_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

namespace guard {

namespace posix {
class Endpoint;
class RecursiveFileLock;
class SharedTableFile;
struct Message;
}  // namespace posix

// Notice codes; every other code is ignored.
inline constexpr std::uint32_t kInstanceCreated = 1;
inline constexpr std::uint32_t kInstanceDestroyed = 2;
inline constexpr std::uint32_t kUserNotify = 3;
inline constexpr std::uint32_t kActivityQuery = 4;
inline constexpr std::uint32_t kActivityAnswer = 5;

// Copy-data kind of a command line: UTF-16 text, CR LF after each argument.
inline constexpr std::uint32_t kCmdLineDataKind = 1;

inline constexpr char kGuardWindowClass[] = "JvAppInstances_WindowClass";

// What another copy sends to one guard of this process.
class GuardWindow {
 public:
  virtual ~GuardWindow() = default;
  // Returns the answer to an activity query (code 4); nothing otherwise.
  virtual std::optional<std::uint32_t> HandleNotice(std::uint32_t code, std::uint32_t value) = 0;
  // Returns 0 when ignored (sent by this very process), else 1.
  virtual std::uint32_t HandleCopyData(std::uint32_t senderPid, std::uint32_t kind,
                                       const std::vector<unsigned char>& data) = 0;
};

class TJclAppInstances {
 public:
  // Builds the key from ProgramPath(), opens the lock, the table and this
  // copy's socket (in that order, dropping dead copies under the lock).
  // Throws GuardError.
  TJclAppInstances();
  // Leaves the table and announces code 2 to the copies left in it.
  ~TJclAppInstances();
  TJclAppInstances(const TJclAppInstances&) = delete;
  TJclAppInstances& operator=(const TJclAppInstances&) = delete;

  const std::string& Key() const { return key_; }
  // Number stamped on every message; messages without it are dropped.
  std::uint32_t MessageID() const { return messageId_; }
  std::uint32_t ProcessID() const { return pid_; }
  const std::string& Directory() const { return dir_; }

  // Enters the table: under the lock sets the maximum count when 0, appends
  // this process; then announces code 1 when its index is below the maximum.
  // Returns that comparison. A full table leaves this copy out and sets
  // TableWasFull().
  bool CheckInstance(std::uint16_t maxInstances);
  bool TableWasFull() const { return tableFull_; }

  int InstanceCount();
  // Index of `pid` in the table, -1 when absent.
  int InstanceIndex(std::uint32_t pid);
  int Position() { return InstanceIndex(pid_); }
  // The process ids in table order (a snapshot taken under the lock).
  std::vector<std::uint32_t> ProcessIDs();

  // Sends (code, value) to every copy in the table, in order, under the
  // lock, without waiting for any to handle it.
  void Announce(std::uint32_t code, std::uint32_t value);

  // The application window of copy `pid`: its socket path when it lives.
  std::optional<std::string> GetApplicationWnd(std::uint32_t pid);

  // Asks copy `pid` whether its guards are active (code 4). Empty when it
  // gives no answer within the wait (see posix::Call for `roundEnd`).
  std::optional<std::uint32_t> QueryActivity(std::uint32_t pid,
                                             std::chrono::steady_clock::time_point roundEnd);

  // Asks the copy at `index` to come to the front; true when it did. False,
  // with nothing sent, when that copy is this one.
  bool SwitchTo(int index);

  // Sends this process's arguments 1..n as kind 1 to the guards of every
  // copy in the table (this process's own guards ignore it).
  bool SendCmdLineParams(const std::string& windowClassName, GuardWindow* originator);
  bool SendStrings(const std::string& windowClassName, std::uint32_t kind, const QStringList& strings,
                   GuardWindow* originator);
  bool SendString(const std::string& windowClassName, std::uint32_t kind, const QString& text,
                  GuardWindow* originator);
  // Copy-data to the guards of every copy in the table, waiting for each
  // (the waits of one call are bounded together). True when a copy took it.
  bool SendData(const std::string& windowClassName, std::uint32_t kind, const void* data,
                std::size_t size, GuardWindow* originator);

  // Lets the Qt event loop serve this copy's socket (done at construction
  // when a QCoreApplication exists already; harmless to repeat).
  void AttachToEventLoop();

  // Guards of this process that receive notices and copy-data.
  void AddGuardWindow(GuardWindow* window);
  void RemoveGuardWindow(GuardWindow* window);
  bool HasGuardWindows() const { return !windows_.empty(); }

  // What brings this copy's main window to the front; returns whether it
  // did. Unset: nothing comes to the front.
  void SetActivationHandler(std::function<bool()> handler) { activate_ = std::move(handler); }
  // Shows errors that escape a guard event handler (default: standard error).
  void SetErrorReporter(std::function<void(const std::exception&)> reporter) {
    report_ = std::move(reporter);
  }
  void ReportError(const std::exception& e);

 private:
  std::string EndpointOf(std::uint32_t pid) const;
  void Purge(bool ownIsStale);
  std::optional<std::uint32_t> Dispatch(const posix::Message& m);

  std::string key_;
  std::string dir_;
  std::string keyHash_;
  std::uint32_t messageId_;
  std::uint32_t pid_;
  bool tableFull_ = false;
  std::unique_ptr<posix::RecursiveFileLock> lock_;
  std::unique_ptr<posix::SharedTableFile> table_;
  std::unique_ptr<posix::Endpoint> endpoint_;
  std::vector<GuardWindow*> windows_;
  std::function<bool()> activate_;
  std::function<void(const std::exception&)> report_;
};

// The process's registry, created on first use (may throw GuardError).
TJclAppInstances& JclAppInstances();
bool JclAppInstancesExists();
// Frees the registry (leaving the table). Call at shutdown, after the main
// window is gone and before the QApplication ends.
void ReleaseJclAppInstances();

}  // namespace guard

#endif  // SHELL_GUARD_JCL_APP_INSTANCES_H_
