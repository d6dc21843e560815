#include "refhost/editor/direct_listener.h"

#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace refhost {

DirectListener::DirectListener(Serve serve, QObject* parent) : QObject(parent), serve_(std::move(serve)) {}

DirectListener::~DirectListener() {
  notifier_.reset();
  for (Peer& p : peers_) sd_bus_slot_unref(p.slot);
  peers_.clear();
  if (fd_ >= 0) ::close(fd_);
  if (!path_.empty()) ::unlink(path_.c_str());
}

bool DirectListener::Listen(std::string* error) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat dir {};
  if (!runtime || !*runtime || ::stat(runtime, &dir) != 0 || !S_ISDIR(dir.st_mode) ||
      dir.st_uid != ::geteuid() || (dir.st_mode & 077) != 0) {
    *error = "no private runtime directory";
    return false;
  }
  const std::string path = std::string(runtime) + "/norvane-editor-" + std::to_string(::getpid()) + ".sock";
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    *error = "runtime directory path too long";
    return false;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    *error = std::strerror(errno);
    return false;
  }
  ::unlink(path.c_str());  // a socket left by a process with our pid before
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd_, 8) != 0) {
    *error = std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    ::unlink(path.c_str());
    return false;
  }
  path_ = path;
  address_ = "unix:path=" + path;
  notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this, &DirectListener::Accept);
  return true;
}

void DirectListener::Accept() {
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      // The connection stays in the backlog and the notifier would fire at
      // once again: look again later.
      notifier_->setEnabled(false);
      QTimer::singleShot(kAcceptBackoffMs, this, [this] { notifier_->setEnabled(true); });
    }
    return;
  }
  ucred peer{};
  socklen_t len = sizeof peer;
  if (peers_.size() >= kMaxDirectConnections ||
      ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != ::geteuid()) {
    ::close(fd);  // only the user's own processes, so many at a time
    return;
  }
  sd_bus* bus = nullptr;
  sd_id128_t id{};
  int r = sd_bus_new(&bus);
  if (r >= 0) r = sd_id128_randomize(&id);
  if (r >= 0) r = sd_bus_set_fd(bus, fd, fd);
  if (r >= 0) r = sd_bus_set_server(bus, 1, id);
  if (r >= 0) r = sd_bus_start(bus);
  if (r < 0) {
    if (bus) sd_bus_unref(bus);  // closes fd once it was handed over
    else ::close(fd);
    return;
  }
  Peer p;
  p.pump = std::make_unique<SdBusPump>(bus, this, kDirectWriteQueueBytes);
  sd_bus_unref(bus);
  if (!serve_(p.pump->bus(), &p.slot)) return;
  SdBusPump* pump = p.pump.get();
  const auto drop = [this, pump] { QTimer::singleShot(0, this, [this, pump] { Drop(pump); }); };
  connect(pump, &SdBusPump::lost, this, drop);
  // sd-bus would give a silent client 90 s to authenticate.
  QTimer::singleShot(kDirectAuthMs, pump, [pump, drop] {
    if (sd_bus_is_ready(pump->bus()) <= 0) drop();
  });
  peers_.push_back(std::move(p));
}

void DirectListener::Drop(SdBusPump* pump) {
  for (auto it = peers_.begin(); it != peers_.end(); ++it) {
    if (it->pump.get() == pump) {
      sd_bus_slot_unref(it->slot);
      peers_.erase(it);
      return;
    }
  }
}

}  // namespace refhost
