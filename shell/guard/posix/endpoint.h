// Each copy's local socket, "<key-hash>_<pid>" in the runtime directory: it
// stands for the copy's guard window and application window. Notices,
// activity queries with their answers, copy-data and the request to come to
// the front travel on it, one message per connection.
#ifndef SHELL_GUARD_POSIX_ENDPOINT_H_
#define SHELL_GUARD_POSIX_ENDPOINT_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "shell/guard/instance_registry.h"  // kAnswerWaitMs, kRoundWaitMs

class QSocketNotifier;

namespace guard::posix {

struct Message {
  enum class Type : std::uint32_t { kPing = 0, kNotice = 1, kCopyData = 2, kActivate = 3 };
  Type type = Type::kPing;
  // The registry's message number; a receiver drops messages without its own.
  std::uint32_t messageId = 0;
  std::uint32_t code = 0;   // notice code
  std::uint32_t value = 0;  // notice value
  std::uint32_t dataKind = 0;
  std::vector<unsigned char> data;
  // Set by the receiver from the socket's credentials, never from the bytes.
  std::uint32_t senderPid = 0;
};

// Largest copy-data a copy accepts.
inline constexpr std::size_t kMaxData = std::size_t{8} << 20;
// How long a receiver waits for a connected sender's bytes.
inline constexpr int kReceiveWaitMs = 1000;

// Handles one received message; returns the answer, or nothing. Called on
// the thread that serves the endpoint; must not throw.
using MessageHandler = std::function<std::optional<std::uint32_t>(const Message&)>;

// The socket path of copy `pid`'s endpoint.
std::string EndpointPath(const std::string& dir, const std::string& keyHash, std::uint32_t pid);

class Endpoint {
 public:
  // Binds and listens on `path` (mode 0600) for messages stamped `messageId`. A leftover socket of this
  // user's at that path is replaced. Throws GuardError when the path is
  // too long, belongs to another user, is not a socket, or cannot be bound.
  Endpoint(std::string path, std::uint32_t messageId, MessageHandler handler);
  ~Endpoint();  // stops listening and removes the socket file
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  const std::string& Path() const { return path_; }
  int ListenFd() const { return fd_; }

  // Receives and handles every connection waiting now; returns at once
  // when none waits. May be re-entered from inside a handler.
  void ServePending();

  // From now on the Qt event loop (nested loops of modal boxes included)
  // calls ServePending when a connection arrives. Requires a
  // QCoreApplication on this thread.
  void AttachToEventLoop();

 private:
  void ServeOne(int fd);

  std::string path_;
  std::uint32_t messageId_;
  MessageHandler handler_;
  int fd_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

// Sends `m` to copy `pid` at `path` without waiting for it to be handled.
// False when no live copy with that pid listens there.
bool Post(const std::string& path, std::uint32_t pid, const Message& m);

// Sends `m` and waits for the answer up to kAnswerWaitMs or `roundEnd`,
// whichever comes first (past `roundEnd` it only delivers). While waiting,
// messages sent to `own` (may be null) are served, so two copies that ask
// each other do not block. Empty when the copy cannot be reached, closes
// without answering, or does not answer in time.
std::optional<std::uint32_t> Call(const std::string& path, std::uint32_t pid, const Message& m,
                                  Endpoint* own, std::chrono::steady_clock::time_point roundEnd);

// What probing copy `pid` at `path` found. A copy counts as gone only on
// evidence; whatever cannot be told (no socket to probe with, an unexpected
// error) counts as alive.
enum class Liveness {
  kAlive,    // it accepted, its queue is full, or nothing could be told
  kRefused,  // its socket refuses connections: the copy died and left it
  kGone,     // no such process, no socket there, or another process's socket
};
Liveness Probe(const std::string& path, std::uint32_t pid);

// Probe(path, pid) == Liveness::kAlive.
bool Alive(const std::string& path, std::uint32_t pid);

}  // namespace guard::posix

#endif  // SHELL_GUARD_POSIX_ENDPOINT_H_
