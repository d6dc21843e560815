#include "hostlink/dbus/dbus_connector.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_error.h"

namespace hostlink::dbus {
namespace {

constexpr char kBusService[] = "org.freedesktop.DBus";
constexpr char kBusPath[] = "/org/freedesktop/DBus";
// How long a direct connection may take to prove itself at most:
// connecting, authentication and Ping together.
constexpr int kDirectProbeMs = 5000;
// How often a connect() to a listener with a full backlog is tried again.
constexpr int kConnectRetryMs = 10;

[[noreturn]] void Fail(int r, sd_bus_error& error, const std::string& member) {
  std::string name, text;
  FailureOf(r, error, &name, &text);
  sd_bus_error_free(&error);
  throw HostError(ErrorText(name, text, member));
}

// connect() on the non-blocking `fd`, retried while the listener's backlog
// is full, until `left()` (microseconds) runs out.
template <typename Left>
bool ConnectBefore(int fd, const sockaddr_un& addr, const Left& left) {
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EINPROGRESS) return false;
    const std::int64_t usec = left();
    if (usec == 0) return false;
    if (errno == EINPROGRESS) {
      pollfd out{fd, POLLOUT, 0};
      int error = 0;
      socklen_t len = sizeof error;
      return ::poll(&out, 1, static_cast<int>((usec + 999) / 1000)) > 0 &&
             ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    }
    // A Unix socket says nothing when room comes free: look again shortly.
    ::poll(nullptr, 0, static_cast<int>(std::min<std::int64_t>(kConnectRetryMs, (usec + 999) / 1000)));
  }
}

}  // namespace

BusPtr OpenBus(const std::string& address, std::string* error) {
  sd_bus* bus = nullptr;
  int r;
  if (address.empty()) {
    r = sd_bus_open_user(&bus);
  } else {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address.c_str());
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  }
  if (r < 0) {
    sd_bus_unref(bus);
    sd_bus_error e = SD_BUS_ERROR_NULL;
    sd_bus_error_set_errno(&e, r);
    if (error) *error = e.message ? e.message : "no bus";
    sd_bus_error_free(&e);
    return nullptr;
  }
  return BusPtr(bus, [](sd_bus* b) { sd_bus_flush_close_unref(b); });
}

DbusConnector::DbusConnector(std::string address, int callTimeoutMs)
    : address_(std::move(address)), callTimeoutMs_(callTimeoutMs) {}

BusPtr DbusConnector::Bus() {
  if (!bus_) {
    std::string error;
    bus_ = OpenBus(address_, &error);
    if (!bus_) throw HostError("No session bus: " + error);
  }
  return bus_;
}

std::string DbusConnector::NameOwner() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_call_method(Bus().get(), kBusService, kBusPath, kBusService, "GetNameOwner",
                             &error, &reply, "s", kServiceName);
  if (r < 0) Fail(r, error, "GetNameOwner");
  const char* owner = nullptr;
  r = sd_bus_message_read_basic(reply, 's', &owner);
  std::string out = r > 0 && owner ? owner : "";
  sd_bus_message_unref(reply);
  if (out.empty()) throw HostError("GetNameOwner gave no owner");
  return out;
}

void DbusConnector::Ping(sd_bus* bus, const std::string& owner) {
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus, &call, owner.empty() ? nullptr : owner.c_str(),
                                         kObjectPath, "org.freedesktop.DBus.Peer", "Ping");
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  if (r >= 0) {
    const std::uint64_t usec = callTimeoutMs_ < 0 ? 0 : std::uint64_t(callTimeoutMs_) * 1000;
    r = sd_bus_call(bus, call, usec, &error, &reply);
  }
  sd_bus_message_unref(call);
  sd_bus_message_unref(reply);
  if (r < 0) Fail(r, error, "Ping");
}

std::unique_ptr<Transport> DbusConnector::GetRunning() {
  const std::string owner = NameOwner();
  try {
    Ping(Bus().get(), owner);
  } catch (const HostError&) {
    silentOwner_ = owner;
    throw;
  }
  return Link(owner);
}

std::unique_ptr<Transport> DbusConnector::Create() {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  const int r = sd_bus_call_method(Bus().get(), kBusService, kBusPath, kBusService,
                                   "StartServiceByName", &error, &reply, "su", kServiceName, 0u);
  if (r < 0) Fail(r, error, "StartServiceByName");
  sd_bus_message_unref(reply);
  // "Already running" may name the very owner that did not answer.
  const std::string owner = NameOwner();
  if (owner == silentOwner_) throw HostError("The running host " + owner + " does not answer");
  Ping(Bus().get(), owner);
  return Link(owner);
}

std::unique_ptr<Transport> DbusConnector::Link(const std::string& owner) {
  if (useDirect_) {
    if (BusPtr direct = Direct(owner)) {
      return std::make_unique<DbusTransport>(direct, std::string(), callTimeoutMs_, bus_);
    }
  }
  return std::make_unique<DbusTransport>(bus_, owner, callTimeoutMs_);
}

BusPtr DbusConnector::Direct(const std::string& owner) {
  sd_bus_message* call = nullptr;
  sd_bus_message* reply = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &call, owner.c_str(), kObjectPath,
                                         "norvane.norvanex.Editor", "DirectAddress");
  if (r >= 0) {
    const std::uint64_t usec = callTimeoutMs_ < 0 ? 0 : std::uint64_t(callTimeoutMs_) * 1000;
    r = sd_bus_call(bus_.get(), call, usec, nullptr, &reply);
  }
  sd_bus_message_unref(call);
  const char* text = nullptr;
  if (r >= 0) r = sd_bus_message_read_basic(reply, 's', &text);
  const std::string address = r > 0 && text ? text : "";
  sd_bus_message_unref(reply);
  const std::string prefix = "unix:path=";
  if (address.rfind(prefix, 0) != 0) return nullptr;  // none offered (or a kind not taken)
  const std::string path = address.substr(prefix.size());

  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path || path.find(',') != std::string::npos) {
    return nullptr;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // One bound for the whole probe: connecting, authentication and Ping.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(
                            callTimeoutMs_ < 0 ? kDirectProbeMs : std::min(callTimeoutMs_, kDirectProbeMs));
  const auto left = [&deadline] {
    return std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(
                                         deadline - std::chrono::steady_clock::now()).count());
  };
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  ucred peer{};
  socklen_t len = sizeof peer;
  // Only a server of this very user; anyone else's socket is refused.
  if (!ConnectBefore(fd, addr, left) ||
      ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || peer.uid != ::geteuid()) {
    ::close(fd);
    return nullptr;
  }
  sd_bus* bus = nullptr;
  r = sd_bus_new(&bus);
  if (r < 0) {
    ::close(fd);
    return nullptr;
  }
  r = sd_bus_set_fd(bus, fd, fd);
  if (r < 0) ::close(fd);
  if (r >= 0) r = sd_bus_start(bus);
  if (r < 0) {
    sd_bus_unref(bus);
    return nullptr;
  }
  // Closed without flushing: a peer that stopped reading must not hold us.
  BusPtr direct(bus, [](sd_bus* b) { sd_bus_close_unref(b); });
  // sd-bus would wait 90 s for a silent peer's authentication.
  while ((r = sd_bus_is_ready(bus)) == 0) {
    if (left() == 0) return nullptr;
    r = sd_bus_process(bus, nullptr);
    if (r < 0) return nullptr;
    if (r == 0 && sd_bus_wait(bus, static_cast<std::uint64_t>(left())) < 0) return nullptr;
  }
  const std::int64_t pingUsec = left();  // 0 would be sd-bus's default
  if (r < 0 || pingUsec == 0) return nullptr;
  sd_bus_message* ping = nullptr;
  r = sd_bus_message_new_method_call(bus, &ping, nullptr, kObjectPath, "org.freedesktop.DBus.Peer", "Ping");
  sd_bus_message* pong = nullptr;
  if (r >= 0) r = sd_bus_call(bus, ping, static_cast<std::uint64_t>(pingUsec), nullptr, &pong);
  sd_bus_message_unref(ping);
  sd_bus_message_unref(pong);
  if (r < 0) return nullptr;
  return direct;
}

}  // namespace hostlink::dbus
