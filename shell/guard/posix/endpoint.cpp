#include "shell/guard/posix/endpoint.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstring>

#include <QSocketNotifier>

#include "shell/guard/guard_error.h"
#include "shell/guard/posix/runtime_dir.h"

namespace guard::posix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMagic = 0x3147424E;  // "NBG1"
constexpr std::uint32_t kAnswerMagic = 0x3141424E;  // "NBA1"

struct Header {
  std::uint32_t magic;
  std::uint32_t messageId;
  std::uint32_t type;
  std::uint32_t code;
  std::uint32_t value;
  std::uint32_t dataKind;
  std::uint32_t size;
};

struct Answer {
  std::uint32_t magic;
  std::uint32_t value;
};

bool FillAddress(const std::string& path, sockaddr_un* addr) {
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until `fd` is ready for `events`, serving `own` meanwhile. False at
// the deadline or on a socket error.
bool WaitReady(int fd, short events, Clock::time_point deadline, Endpoint* own) {
  for (;;) {
    const int left = RemainingMs(deadline);
    pollfd fds[2] = {{fd, events, 0}, {own ? own->ListenFd() : -1, POLLIN, 0}};
    const int n = poll(fds, own ? 2 : 1, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    if (own && (fds[1].revents & POLLIN)) own->ServePending();
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return true;
    if (left == 0) return false;
  }
}

bool WriteAll(int fd, const unsigned char* p, std::size_t n, Clock::time_point deadline, Endpoint* own) {
  while (n > 0) {
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (w > 0) {
      p += w;
      n -= static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitReady(fd, POLLOUT, deadline, own)) return false;
      continue;
    }
    return false;
  }
  return true;
}

bool ReadAll(int fd, unsigned char* p, std::size_t n, Clock::time_point deadline, Endpoint* own) {
  while (n > 0) {
    const ssize_t r = recv(fd, p, n, MSG_DONTWAIT);
    if (r > 0) {
      p += r;
      n -= static_cast<std::size_t>(r);
      continue;
    }
    if (r == 0) return false;  // closed early
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitReady(fd, POLLIN, deadline, own)) return false;
      continue;
    }
    return false;
  }
  return true;
}

enum class ConnectResult {
  kConnected,  // *fd holds the non-blocking socket
  kBusy,       // its queue is full
  kRefused,    // the socket file is there, nobody listens
  kMissing,    // no socket file there
  kForeign,    // another process or user accepted
  kUnknown,    // nothing could be told (out of descriptors, any other error)
};

// Connects to copy `pid`, checking that this very process of this user
// accepted.
ConnectResult Connect(const std::string& path, std::uint32_t pid, int* fd) {
  sockaddr_un addr;
  if (!FillAddress(path, &addr)) return ConnectResult::kMissing;  // no socket can be bound there
  const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s < 0) return ConnectResult::kUnknown;
  int rc;
  do {
    rc = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int err = errno;
    close(s);
    switch (err) {
      case EAGAIN: return ConnectResult::kBusy;
      case ECONNREFUSED: return ConnectResult::kRefused;
      case ENOENT: return ConnectResult::kMissing;
      default: return ConnectResult::kUnknown;
    }
  }
  ucred cred {};
  socklen_t len = sizeof cred;
  if (getsockopt(s, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) {
    close(s);
    return ConnectResult::kUnknown;
  }
  if (cred.uid != geteuid() || static_cast<std::uint32_t>(cred.pid) != pid) {
    close(s);
    return ConnectResult::kForeign;
  }
  *fd = s;
  return ConnectResult::kConnected;
}

bool SendMessage(int fd, const Message& m, Clock::time_point deadline, Endpoint* own) {
  const Header h{kMagic, m.messageId, static_cast<std::uint32_t>(m.type), m.code, m.value, m.dataKind,
                 static_cast<std::uint32_t>(m.data.size())};
  return WriteAll(fd, reinterpret_cast<const unsigned char*>(&h), sizeof h, deadline, own) &&
         WriteAll(fd, m.data.data(), m.data.size(), deadline, own);
}

bool ExpectsAnswer(const Message& m) {
  return (m.type == Message::Type::kNotice && m.code == 4) || m.type == Message::Type::kCopyData ||
         m.type == Message::Type::kActivate;
}

}  // namespace

std::string EndpointPath(const std::string& dir, const std::string& keyHash, std::uint32_t pid) {
  return dir + "/" + keyHash + "_" + std::to_string(pid);
}

Endpoint::Endpoint(std::string path, std::uint32_t messageId, MessageHandler handler)
    : path_(std::move(path)), messageId_(messageId), handler_(std::move(handler)), fd_(-1) {
  sockaddr_un addr;
  if (!FillAddress(path_, &addr)) {
    throw GuardError("The runtime directory's path is too long for the socket " + path_);
  }
  struct stat st {};
  if (lstat(path_.c_str(), &st) == 0) {
    RefuseForeign(path_, "socket");
    if (!S_ISSOCK(st.st_mode)) {
      throw GuardError("The file " + path_ + " is not a socket; this program will not use it");
    }
    unlink(path_.c_str());  // left by a copy that died
  }
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) throw GuardError(std::string("Failed to create the guard socket: ") + std::strerror(errno));
  // The directory is the user's own; 0600 keeps the socket so on any other.
  const mode_t old = umask(0177);
  const int bound = bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
  const int err = errno;
  umask(old);
  if (bound != 0 || listen(fd_, 128) != 0) {
    const int e = bound != 0 ? err : errno;
    close(fd_);
    throw GuardError("Failed to create the guard socket " + path_ + ": " + std::strerror(e));
  }
}

Endpoint::~Endpoint() {
  notifier_.reset();
  close(fd_);
  unlink(path_.c_str());
}

void Endpoint::AttachToEventLoop() {
  if (notifier_) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ServePending(); });
}

void Endpoint::ServePending() {
  for (;;) {
    const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (c < 0) {
      if (errno == EINTR) continue;
      return;  // none waiting (or a transient error: the next wake retries)
    }
    ServeOne(c);
    close(c);
  }
}

void Endpoint::ServeOne(int fd) {
  ucred cred {};
  socklen_t len = sizeof cred;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || cred.uid != geteuid()) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(kReceiveWaitMs);
  Header h {};
  if (!ReadAll(fd, reinterpret_cast<unsigned char*>(&h), sizeof h, deadline, nullptr)) return;
  if (h.magic != kMagic || h.messageId != messageId_ || h.type > static_cast<std::uint32_t>(Message::Type::kActivate) ||
      h.size > kMaxData) {
    return;
  }
  Message m;
  m.type = static_cast<Message::Type>(h.type);
  m.messageId = h.messageId;
  m.code = h.code;
  m.value = h.value;
  m.dataKind = h.dataKind;
  m.senderPid = static_cast<std::uint32_t>(cred.pid);
  m.data.resize(h.size);
  if (!ReadAll(fd, m.data.data(), m.data.size(), deadline, nullptr)) return;
  if (m.type == Message::Type::kPing) return;
  std::optional<std::uint32_t> answer;
  try {
    answer = handler_(m);
  } catch (...) {
    answer.reset();  // the handler reports its own errors; never let one escape here
  }
  if (!answer || !ExpectsAnswer(m)) return;
  const Answer a{kAnswerMagic, *answer};
  WriteAll(fd, reinterpret_cast<const unsigned char*>(&a), sizeof a,
           Clock::now() + std::chrono::milliseconds(kReceiveWaitMs), nullptr);
}

bool Post(const std::string& path, std::uint32_t pid, const Message& m) {
  int fd = -1;
  if (Connect(path, pid, &fd) != ConnectResult::kConnected) return false;
  const bool sent = SendMessage(fd, m, Clock::now() + std::chrono::milliseconds(kReceiveWaitMs), nullptr);
  close(fd);
  return sent;
}

std::optional<std::uint32_t> Call(const std::string& path, std::uint32_t pid, const Message& m,
                                  Endpoint* own, Clock::time_point roundEnd) {
  const auto deadline = std::min(Clock::now() + std::chrono::milliseconds(kAnswerWaitMs), roundEnd);
  if (Clock::now() >= deadline) {
    Post(path, pid, m);
    return std::nullopt;
  }
  int fd = -1;
  for (;;) {
    const ConnectResult r = Connect(path, pid, &fd);
    if (r == ConnectResult::kConnected) break;
    if (r != ConnectResult::kBusy || Clock::now() >= deadline) return std::nullopt;
    // Its queue is full: give it a moment, serving our own meanwhile.
    pollfd pf{own ? own->ListenFd() : -1, POLLIN, 0};
    if (poll(&pf, 1, 10) > 0 && own) own->ServePending();
  }
  std::optional<std::uint32_t> result;
  Answer a {};
  if (SendMessage(fd, m, deadline, own) &&
      ReadAll(fd, reinterpret_cast<unsigned char*>(&a), sizeof a, deadline, own) &&
      a.magic == kAnswerMagic) {
    result = a.value;
  }
  close(fd);
  return result;
}

Liveness Probe(const std::string& path, std::uint32_t pid) {
  if (pid == 0) return Liveness::kGone;
  const bool noProcess = kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
  int fd = -1;
  switch (Connect(path, pid, &fd)) {
    case ConnectResult::kRefused:
      return Liveness::kRefused;
    case ConnectResult::kMissing:
    case ConnectResult::kForeign:
      return Liveness::kGone;
    case ConnectResult::kBusy:
    case ConnectResult::kUnknown:
      return noProcess ? Liveness::kGone : Liveness::kAlive;
    case ConnectResult::kConnected:
      break;
  }
  Message ping;
  SendMessage(fd, ping, Clock::now() + std::chrono::milliseconds(kReceiveWaitMs), nullptr);
  close(fd);
  return Liveness::kAlive;
}

bool Alive(const std::string& path, std::uint32_t pid) { return Probe(path, pid) == Liveness::kAlive; }

}  // namespace guard::posix
