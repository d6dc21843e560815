// Reaching the host on a D-Bus bus: the running owner of norvane.norvanex,
// or one the bus activates.
#ifndef HOSTLINK_DBUS_DBUS_CONNECTOR_H_
#define HOSTLINK_DBUS_DBUS_CONNECTOR_H_

#include <QDBusConnection>

#include "hostlink/attach.h"

namespace hostlink::dbus {

// GetRunning: GetNameOwner("norvane.norvanex"), then Peer.Ping on that owner.
// Create: StartServiceByName("norvane.norvanex", 0), then GetNameOwner.
// Both fail (throw HostError) on a bus that is not connected. The transports
// they return use `callTimeoutMs` for member calls (-1: the bus's default).
class DbusConnector : public Connector {
 public:
  explicit DbusConnector(QDBusConnection bus, int callTimeoutMs = -1);

  // The user's session bus.
  static DbusConnector SessionBus();

  std::unique_ptr<Transport> GetRunning() override;
  std::unique_ptr<Transport> Create() override;

 private:
  QString NameOwner();

  QDBusConnection bus_;
  int callTimeoutMs_;
};

}  // namespace hostlink::dbus

#endif  // HOSTLINK_DBUS_DBUS_CONNECTOR_H_
