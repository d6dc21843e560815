// A private, peer-to-peer D-Bus socket of the editor's own: a socket in the
// user's runtime directory (mode 0600) that accepts only the user's own
// processes (SO_PEERCRED) and serves each of them as an sd-bus server,
// within the limits below.
#ifndef REFHOST_EDITOR_DIRECT_LISTENER_H_
#define REFHOST_EDITOR_DIRECT_LISTENER_H_

#include <systemd/sd-bus.h>

#include <QObject>
#include <QSocketNotifier>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "refhost/editor/sd_bus_pump.h"

namespace refhost {

// Connections served at once; more are closed as they come.
inline constexpr std::size_t kMaxDirectConnections = 16;
// How long a connection may take to authenticate before it is closed.
inline constexpr int kDirectAuthMs = 5000;
// A connection is closed when more than this waits unread in its write queue.
inline constexpr std::size_t kDirectWriteQueueBytes = std::size_t(64) << 20;
// How long accepting pauses when the process is out of descriptors.
inline constexpr int kAcceptBackoffMs = 250;

class DirectListener : public QObject {
  Q_OBJECT

 public:
  // Called for each accepted connection, to register its objects.
  using Serve = std::function<bool(sd_bus* bus, sd_bus_slot** slot)>;

  DirectListener(Serve serve, QObject* parent = nullptr);
  ~DirectListener() override;  // closes the connections, removes the socket

  // Listens in $XDG_RUNTIME_DIR. False (and no address) when there is no
  // runtime directory of the user's own or the socket cannot be made.
  bool Listen(std::string* error);
  // "unix:path=...", or empty when not listening.
  const std::string& Address() const { return address_; }
  int Connections() const { return static_cast<int>(peers_.size()); }

 private:
  struct Peer {
    std::unique_ptr<SdBusPump> pump;
    sd_bus_slot* slot = nullptr;
  };
  void Accept();
  void Drop(SdBusPump* pump);

  Serve serve_;
  int fd_ = -1;
  std::string path_, address_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::vector<Peer> peers_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_DIRECT_LISTENER_H_
