#include "hostlink/dbus/dbus_transport.h"

#include <QLocale>

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <utility>

#include "hostlink/host_error.h"

namespace hostlink::dbus {
namespace {

constexpr char kUnknownMethod[] = "org.freedesktop.DBus.Error.UnknownMethod";
constexpr char kNoReply[] = "org.freedesktop.DBus.Error.NoReply";
// What sd-bus says when it gives up waiting for an asynchronous reply.
constexpr char kSdBusTimedOut[] = "Method call timed out";

// An array of any element type (dict included) is Null when empty; anything
// else that is no plain value is Unknown.
HostValue ReadValue(sd_bus_message* m) {
  char type = 0;
  const char* contents = nullptr;
  int r = sd_bus_message_peek_type(m, &type, &contents);
  if (r == 0) return HostValue::Empty();
  if (r < 0) return HostValue::Unknown();
  union {
    std::uint8_t y;
    std::int16_t n;
    std::uint16_t q;
    std::int32_t i;
    std::uint32_t u;
    std::int64_t x;
    std::uint64_t t;
    double d;
    int b;
    const char* s;
  } v{};
  switch (type) {
    case 'v':
      if (sd_bus_message_enter_container(m, 'v', contents) < 0) return HostValue::Unknown();
      return ReadValue(m);
    case 'a':
      if (sd_bus_message_enter_container(m, 'a', contents) < 0) return HostValue::Unknown();
      return sd_bus_message_at_end(m, false) > 0 ? HostValue::Null() : HostValue::Unknown();
    case 'y': case 'n': case 'q': case 'i': case 'u': case 'x': case 't':
    case 'd': case 'b': case 's': case 'o': case 'g':
      if (sd_bus_message_read_basic(m, type, &v) < 0) return HostValue::Unknown();
      break;
    default:
      return HostValue::Unknown();
  }
  switch (type) {
    case 'y': return HostValue::Unsigned(ValueKind::Byte, v.y);
    case 'n': return HostValue::Signed(ValueKind::SmallInt, v.n);
    case 'q': return HostValue::Unsigned(ValueKind::Word, v.q);
    case 'i': return HostValue::Signed(ValueKind::Integer, v.i);
    case 'u': return HostValue::Unsigned(ValueKind::LongWord, v.u);
    case 'x': return HostValue::Signed(ValueKind::Int64, v.x);
    case 't': return HostValue::Unsigned(ValueKind::UInt64, v.t);
    case 'd': return HostValue::Real(v.d);
    case 'b': return HostValue::Boolean(v.b != 0);
    default: return HostValue::Text(v.s ? v.s : "");
  }
}

WaitHook g_waitHook = nullptr;
std::uint64_t g_waitHookUsec = 100000;

struct MessageRef {
  sd_bus_message* m;
  ~MessageRef() { sd_bus_message_unref(m); }
};

std::string SystemText(int r) {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_error_set_errno(&e, r);
  std::string text = e.message ? e.message : "D-Bus failure";
  sd_bus_error_free(&e);
  return text;
}

}  // namespace

void SetWaitHook(WaitHook hook, int intervalMs) {
  g_waitHook = hook;
  g_waitHookUsec = static_cast<std::uint64_t>(std::max(intervalMs, 1)) * 1000;
}

HostValue ReadHostValue(sd_bus_message* reply) { return ReadValue(reply); }

std::string ErrorText(const std::string& name, const std::string& text, const std::string& member) {
  if (name == kUnknownMethod || name == "org.freedesktop.DBus.Error.UnknownInterface" ||
      name == "org.freedesktop.DBus.Error.UnknownObject") {
    return UnknownMemberText(member);
  }
  // The host's description and the bus's own texts alike lose trailing
  // blanks, control characters and periods; with nothing left, the name.
  std::string out = TrimHostText(text);
  if (out.empty()) out = TrimHostText(name);
  if (out.empty()) out = "Unknown D-Bus error";
  return out;
}

void FailureOf(int r, const sd_bus_error& error, std::string* name, std::string* text) {
  if (r == -ETIMEDOUT) {
    *name = kNoReply;
    *text = kNoReplyText;
  } else if (error.name) {
    *name = error.name;
    *text = error.message ? error.message : "";
    if (*name == kNoReply && *text == kSdBusTimedOut) *text = kNoReplyText;
  } else {
    *name = "org.freedesktop.DBus.Error.Failed";
    *text = SystemText(r);
  }
}

DbusTransport::DbusTransport(BusPtr bus, std::string owner, int timeoutMs, BusPtr keep)
    : bus_(std::move(bus)),
      keep_(std::move(keep)),
      owner_(std::move(owner)),
      timeoutUsec_(timeoutMs < 0 ? 0 : static_cast<std::uint64_t>(timeoutMs) * 1000) {
  const QLocale locale;
  format_.decimal = locale.decimalPoint().toStdString();
  format_.group = locale.groupSeparator().toStdString();
}

DbusTransport::~DbusTransport() { Abandon(); }

sd_bus_message* DbusTransport::NewCall(const char* interface, const std::string& member,
                                       const std::vector<Argument>& args) {
  sd_bus_message* m = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &m, owner_.empty() ? nullptr : owner_.c_str(),
                                         kObjectPath, interface,
                                         member.c_str());
  for (const Argument& a : args) {
    if (r < 0) break;
    // D-Bus has only by-value arguments: both forms send the value.
    switch (a.type) {
      case Argument::Type::Int32: r = sd_bus_message_append_basic(m, 'i', &a.int32); break;
      case Argument::Type::Real: r = sd_bus_message_append_basic(m, 'd', &a.real); break;
      case Argument::Type::Text: r = sd_bus_message_append_basic(m, 's', a.text.c_str()); break;
    }
  }
  if (r < 0) {
    sd_bus_message_unref(m);
    throw HostError(SystemText(r));
  }
  return m;
}

sd_bus_message* DbusTransport::Send(sd_bus_message* call, std::string* errorName,
                                    std::string* errorText) {
  MessageRef owned{call};
  if (!posted_.empty()) throw std::logic_error("a blocking call behind posted calls");
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  ++stats_.calls;
  ++stats_.waits;
  if (g_waitHook != nullptr) return SendHooked(call, errorName, errorText);
  const int r = sd_bus_call(bus_.get(), call, timeoutUsec_, &error, &reply);
  if (r < 0) {
    FailureOf(r, error, errorName, errorText);
    sd_bus_error_free(&error);
    return nullptr;
  }
  return reply;
}

HostValue DbusTransport::Query(const std::string& member) {
  std::string name, text;
  sd_bus_message* reply = Send(NewCall(kInterface, member, {}), &name, &text);
  if (!reply && name == kUnknownMethod) {
    reply = Send(NewCall("org.freedesktop.DBus.Properties", "Get",
                         {Argument::Text(kInterface), Argument::Text(member)}),
                 &name, &text);
    if (!reply && (name == "org.freedesktop.DBus.Error.UnknownProperty" ||
                   name == "org.freedesktop.DBus.Error.InvalidArgs")) {
      throw HostError(UnknownMemberText(member));
    }
  }
  if (!reply) throw HostError(ErrorText(name, text, member));
  MessageRef owned{reply};
  return ReadValue(reply);
}

void DbusTransport::Call(const std::string& member, const std::vector<Argument>& args) {
  std::string name, text;
  sd_bus_message* reply = Send(NewCall(kInterface, member, args), &name, &text);
  if (!reply) throw HostError(ErrorText(name, text, member));
  sd_bus_message_unref(reply);
}

HostValue DbusTransport::GetIndexed(const std::string& member, std::int32_t index) {
  std::string name, text;
  sd_bus_message* reply = Send(NewCall(kInterface, member, {Argument::Int(index)}), &name, &text);
  if (!reply) throw HostError(ErrorText(name, text, member));
  MessageRef owned{reply};
  return ReadValue(reply);
}

namespace {

std::uint64_t MonotonicUsec() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::uint64_t(now.tv_sec) * 1000000 + std::uint64_t(now.tv_nsec) / 1000;
}

}  // namespace

int DbusTransport::OnReply(sd_bus_message* reply, void* entry, sd_bus_error*) {
  static_cast<Posted*>(entry)->reply = sd_bus_message_ref(reply);
  return 0;
}

void DbusTransport::Post(const std::string& member, const std::vector<Argument>& args) {
  // A direct peer that answered and then closed fails this write, and
  // sd-bus reads nothing after that: take in what it said first.
  if (Direct() && !posted_.empty()) {
    pollfd in{sd_bus_get_fd(bus_.get()), POLLIN, 0};
    if (::poll(&in, 1, 0) > 0) {
      while (sd_bus_process(bus_.get(), nullptr) > 0) {
      }
    }
  }
  MessageRef call{NewCall(kInterface, member, args)};
  std::uint64_t timeout = timeoutUsec_;
  if (timeout == 0 && sd_bus_get_method_call_timeout(bus_.get(), &timeout) < 0) timeout = 25000000;
  posted_.push_back(Posted{member, MonotonicUsec() + timeout});
  Posted& p = posted_.back();  // a deque keeps its elements in place
  const int r = sd_bus_call_async(bus_.get(), &p.slot, call.m, OnReply, &p, timeoutUsec_);
  if (r < 0) {
    posted_.pop_back();
    throw HostError(SystemText(r));
  }
  ++stats_.calls;
  postedSinceWait_ = true;
}

void DbusTransport::Ping() {
  sd_bus_message* call = nullptr;
  int r = sd_bus_message_new_method_call(bus_.get(), &call, owner_.empty() ? nullptr : owner_.c_str(),
                                         kObjectPath, "org.freedesktop.DBus.Peer", "Ping");
  if (r < 0) throw HostError(SystemText(r));
  std::string name, text;
  sd_bus_message* reply = Send(call, &name, &text);
  --stats_.calls;  // not a member call
  --stats_.waits;
  if (!reply) throw HostError(ErrorText(name, text, "Ping"));
  sd_bus_message_unref(reply);
}

sd_bus_message* DbusTransport::SendHooked(sd_bus_message* call, std::string* errorName,
                                          std::string* errorText) {
  const sd_bus_error none{};
  std::uint64_t timeout = timeoutUsec_;
  if (timeout == 0 && sd_bus_get_method_call_timeout(bus_.get(), &timeout) < 0) timeout = 25000000;
  Posted p{"", MonotonicUsec() + timeout};
  const int r = sd_bus_call_async(bus_.get(), &p.slot, call, OnReply, &p, timeoutUsec_);
  if (r < 0) {
    FailureOf(r, none, errorName, errorText);
    return nullptr;
  }
  struct SlotRef {
    Posted& p;
    ~SlotRef() { sd_bus_slot_unref(p.slot); }
  } slot{p};
  // This call's round trip is counted already.
  const bool postedBefore = std::exchange(postedSinceWait_, false);
  const bool answered = WaitFor(p);
  postedSinceWait_ = postedBefore;
  if (!answered) {
    FailureOf(-ETIMEDOUT, none, errorName, errorText);
    return nullptr;
  }
  if (sd_bus_message_is_method_error(p.reply, nullptr)) {
    FailureOf(-EIO, *sd_bus_message_get_error(p.reply), errorName, errorText);
    sd_bus_message_unref(p.reply);
    return nullptr;
  }
  return p.reply;
}

bool DbusTransport::WaitFor(const Posted& posted) {
  bool blocked = false;
  std::uint64_t hookAt = 0;  // when the wait hook runs next
  while (!posted.reply) {
    int r = sd_bus_process(bus_.get(), nullptr);
    if (r > 0) continue;
    if (r == 0) {
      // The call's own deadline bounds the wait, whatever the bus keeps.
      std::uint64_t now = MonotonicUsec();
      if (now >= posted.deadline) return false;
      if (g_waitHook != nullptr) {
        if (hookAt != 0 && now >= hookAt) {
          g_waitHook();
          now = MonotonicUsec();
          hookAt = 0;
        }
        if (hookAt == 0) hookAt = now + g_waitHookUsec;
      }
      std::uint64_t wait = posted.deadline - now, until = 0;
      if (hookAt != 0) wait = std::min(wait, hookAt > now ? hookAt - now : 0);
      if (sd_bus_get_timeout(bus_.get(), &until) > 0 && until != UINT64_MAX) {
        wait = std::min(wait, until > now ? until - now : 0);
      }
      // One round trip for everything posted since the last wait.
      if (!blocked && postedSinceWait_) ++stats_.waits;
      postedSinceWait_ = false;
      blocked = true;
      r = sd_bus_wait(bus_.get(), wait);
    }
    if (r < 0 && r != -EINTR) throw HostError(SystemText(r));
  }
  return true;
}

HostValue DbusTransport::Next() {
  if (posted_.empty()) throw std::logic_error("no call posted");
  const bool answered = WaitFor(posted_.front());
  Posted p = std::move(posted_.front());
  posted_.pop_front();
  sd_bus_slot_unref(p.slot);
  if (!answered) throw HostError(TrimHostText(kNoReplyText));
  MessageRef reply{p.reply};
  if (sd_bus_message_is_method_error(reply.m, nullptr)) {
    const sd_bus_error* e = sd_bus_message_get_error(reply.m);
    std::string name, text;
    FailureOf(-EIO, *e, &name, &text);
    throw HostError(ErrorText(name, text, p.member));
  }
  return ReadValue(reply.m);
}

void DbusTransport::Abandon() {
  // Answers still on their way are dropped by the bus when they arrive.
  for (Posted& p : posted_) {
    sd_bus_slot_unref(p.slot);
    sd_bus_message_unref(p.reply);
  }
  posted_.clear();
}

}  // namespace hostlink::dbus
