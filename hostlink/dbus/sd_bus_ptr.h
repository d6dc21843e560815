// Shared ownership of an sd-bus connection.
#ifndef HOSTLINK_DBUS_SD_BUS_PTR_H_
#define HOSTLINK_DBUS_SD_BUS_PTR_H_

#include <systemd/sd-bus.h>

#include <memory>
#include <string>

namespace hostlink::dbus {

// Flushed and closed when the last owner lets go.
using BusPtr = std::shared_ptr<sd_bus>;

// A client connection to the bus at `address` ("unix:path=..."), or to the
// user's session bus when `address` is empty. Null with `error` set when
// the bus cannot be reached.
BusPtr OpenBus(const std::string& address, std::string* error);

}  // namespace hostlink::dbus

#endif  // HOSTLINK_DBUS_SD_BUS_PTR_H_
