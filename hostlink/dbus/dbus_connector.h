// Reaching the host on a D-Bus bus: the running owner of norvane.norvanex,
// or one the bus activates.
#ifndef HOSTLINK_DBUS_DBUS_CONNECTOR_H_
#define HOSTLINK_DBUS_DBUS_CONNECTOR_H_

#include <string>

#include "hostlink/attach.h"
#include "hostlink/dbus/sd_bus_ptr.h"

namespace hostlink::dbus {

// GetRunning: GetNameOwner("norvane.norvanex"), then Peer.Ping on that owner.
// Create: StartServiceByName("norvane.norvanex", 0), GetNameOwner, then
// Peer.Ping on the owner: a name that "already runs" under an owner that
// does not answer links nothing. Both fail (throw HostError) when the bus
// cannot be reached. Pings and the member calls of the transports wait
// `callTimeoutMs` (-1: the bus's default, 25 s).
//
// Once the host is found, the link asks it for a direct connection (the
// Editor member DirectAddress): a Unix socket whose server runs as this
// user and answers Peer.Ping there carries every member call from then on.
// A host that offers none, or an offer that fails any of these, is served
// over the bus. Connecting, authentication and that Ping together take at
// most the call timeout, and never more than 5 s.
class DbusConnector : public Connector {
 public:
  // `address`: a D-Bus address ("unix:path=..."); empty: the session bus.
  explicit DbusConnector(std::string address = {}, int callTimeoutMs = -1);

  // The user's session bus.
  static DbusConnector SessionBus() { return DbusConnector(); }

  std::unique_ptr<Transport> GetRunning() override;
  std::unique_ptr<Transport> Create() override;

  // Off: member calls stay on the bus even when the host offers a direct
  // connection (for comparisons).
  void UseDirect(bool on) { useDirect_ = on; }

 private:
  std::unique_ptr<Transport> Link(const std::string& owner);
  BusPtr Direct(const std::string& owner);
  BusPtr Bus();
  std::string NameOwner();
  void Ping(sd_bus* bus, const std::string& owner);

  std::string address_;
  int callTimeoutMs_;
  BusPtr bus_;
  std::string silentOwner_;  // the owner whose Ping failed in GetRunning
  bool useDirect_ = true;
};

}  // namespace hostlink::dbus

#endif  // HOSTLINK_DBUS_DBUS_CONNECTOR_H_
