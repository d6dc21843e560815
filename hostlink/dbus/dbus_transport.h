// Member calls encoded on D-Bus (sd-bus): every call goes to the host's
// unique bus name, object /norvanex, interface norvane.norvanex.
#ifndef HOSTLINK_DBUS_DBUS_TRANSPORT_H_
#define HOSTLINK_DBUS_DBUS_TRANSPORT_H_

#include <systemd/sd-bus.h>

#include <cstdint>
#include <deque>
#include <string>

#include "hostlink/dbus/sd_bus_ptr.h"
#include "hostlink/transport.h"

namespace hostlink::dbus {

inline constexpr char kServiceName[] = "norvane.norvanex";
inline constexpr char kObjectPath[] = "/norvanex";
inline constexpr char kInterface[] = "norvane.norvanex";

// libdbus's text for a call that timed out, which hosts and users know.
inline constexpr char kNoReplyText[] =
    "Did not receive a reply. Possible causes include: the remote application did not send "
    "a reply, the message bus security policy blocked the reply, the reply timeout expired, "
    "or the network connection was broken.";

// Called on the waiting thread about every `intervalMs` while a call waits
// for its answer (a blocking call, or the answer of a posted one), so that a
// window can paint; null (the default): waits are not interrupted. The hook
// must not call the link. One for the process; set it before any call.
using WaitHook = void (*)();
void SetWaitHook(WaitHook hook, int intervalMs = 100);

// Each waited call blocks on this thread (nothing else is dispatched, no
// user input is handled; only the wait hook runs) until its reply or
// `timeoutMs` (-1: the bus's default of 25 s). Posted calls carry the same
// timeout, counted from their sending. Text results are read in the user's
// locale (QLocale()).
class DbusTransport : public Transport {
 public:
  // `owner` empty: `bus` is a direct, peer-to-peer connection to the host;
  // `keep` is held for the life of the transport (the session bus then).
  DbusTransport(BusPtr bus, std::string owner, int timeoutMs = -1, BusPtr keep = nullptr);
  ~DbusTransport() override;
  DbusTransport(const DbusTransport&) = delete;
  DbusTransport& operator=(const DbusTransport&) = delete;

  // The unique name (":1.42") every call is addressed to; empty on a
  // direct connection.
  const std::string& Owner() const { return owner_; }
  bool Direct() const { return owner_.empty(); }

  // The method; where the host answers UnknownMethod, the property through
  // org.freedesktop.DBus.Properties.Get.
  HostValue Query(const std::string& member) override;
  void Call(const std::string& member, const std::vector<Argument>& args) override;
  // The method `member` with the index as its one `i` argument.
  HostValue GetIndexed(const std::string& member, std::int32_t index) override;
  NumberFormat Format() const override { return format_; }

  // Calls made, and the round trips waited for since the transport was
  // made: each blocking call, and each first wait for answers to calls
  // posted since the last wait.
  struct Stats {
    std::uint64_t calls = 0;
    std::uint64_t waits = 0;
  };
  const Stats& Counts() const { return stats_; }
  // One blocking Peer.Ping over the connection the calls use.
  void Ping();

  bool CanPost() const override { return true; }
  void Post(const std::string& member, const std::vector<Argument>& args) override;
  HostValue Next() override;
  void Abandon() override;

 private:
  struct Posted {
    std::string member;
    std::uint64_t deadline = 0;  // CLOCK_MONOTONIC, microseconds
    sd_bus_slot* slot = nullptr;
    sd_bus_message* reply = nullptr;  // set by the reply handler
  };
  static int OnReply(sd_bus_message* reply, void* entry, sd_bus_error* error);

  sd_bus_message* NewCall(const char* interface, const std::string& member,
                          const std::vector<Argument>& args);
  // A blocking call; the reply (caller unrefs) or the error reply's name and
  // text in `errorName`, `errorText` (null returned).
  sd_bus_message* Send(sd_bus_message* call, std::string* errorName, std::string* errorText);
  HostValue Result(sd_bus_message* reply);
  // Send() through the reply wait of posted calls, which runs the wait hook.
  sd_bus_message* SendHooked(sd_bus_message* call, std::string* errorName, std::string* errorText);
  // False when the call's deadline passed without an answer.
  bool WaitFor(const Posted& posted);

  BusPtr bus_;
  BusPtr keep_;
  std::string owner_;
  std::uint64_t timeoutUsec_;  // 0: the bus's default
  NumberFormat format_;
  std::deque<Posted> posted_;
  Stats stats_;
  bool postedSinceWait_ = false;
};

// The reply's first argument as a host value: variants unwrapped, typed by
// D-Bus type; no argument is Empty. Reads the message from its current place.
HostValue ReadHostValue(sd_bus_message* reply);

// The HostError text for the error `name` with message `text` answering a
// call of `member`.
std::string ErrorText(const std::string& name, const std::string& text, const std::string& member);

// The text and name of a failed sd-bus call: a timeout reads as the bus's
// NoReply text.
void FailureOf(int r, const sd_bus_error& error, std::string* name, std::string* text);

}  // namespace hostlink::dbus

#endif  // HOSTLINK_DBUS_DBUS_TRANSPORT_H_
