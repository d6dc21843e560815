#include "refhost/editor/host_service.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

namespace refhost {
namespace {

constexpr char kInvalidArgs[] = "org.freedesktop.DBus.Error.InvalidArgs";
constexpr char kUnknownMethod[] = "org.freedesktop.DBus.Error.UnknownMethod";
constexpr char kUnknownInterface[] = "org.freedesktop.DBus.Error.UnknownInterface";
constexpr char kUnknownProperty[] = "org.freedesktop.DBus.Error.UnknownProperty";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kFailed[] = "norvane.norvanex.Error.Failed";

// A call that cannot be answered as asked: the error name and its text.
struct CallError {
  const char* name;
  std::string text;
};

bool IsIntegerCode(char code) { return code && std::strchr("ynqiuxt", code) != nullptr; }

// One basic argument of a call.
struct Arg {
  char type = 0;
  std::int64_t i = 0;   // signed integer types
  std::uint64_t u = 0;  // unsigned integer types
  double d = 0;
  std::string s;
};

// The arguments of `message`, checked against `pattern`: 'i' any integer
// (read as a 32-bit line or index), 'd' a real or an integer, 's' a string.
std::vector<Arg> Arguments(sd_bus_message* message, const char* pattern, const char* usage) {
  const char* signature = sd_bus_message_get_signature(message, true);
  if (!signature) signature = "";
  const std::size_t n = std::strlen(pattern);
  bool ok = std::strlen(signature) == n;
  for (std::size_t k = 0; ok && k < n; ++k) {
    const char got = signature[k];
    switch (pattern[k]) {
      case 'i': ok = IsIntegerCode(got); break;
      case 'd': ok = got == 'd' || IsIntegerCode(got); break;
      default: ok = got == pattern[k]; break;
    }
  }
  if (!ok) {
    throw CallError{kInvalidArgs, std::string(sd_bus_message_get_member(message)) + " takes " + usage +
                                      "; it was called with (" + signature + ")"};
  }
  std::vector<Arg> args(n);
  for (std::size_t k = 0; k < n; ++k) {
    Arg& a = args[k];
    a.type = signature[k];
    union {
      std::uint8_t y; std::int16_t n; std::uint16_t q; std::int32_t i; std::uint32_t u;
      std::int64_t x; std::uint64_t t; double d; const char* s;
    } v{};
    if (sd_bus_message_read_basic(message, a.type, &v) < 0) {
      throw CallError{kInvalidArgs, std::string("cannot read the arguments of ") +
                                        sd_bus_message_get_member(message)};
    }
    switch (a.type) {
      case 'y': a.u = v.y; break;
      case 'n': a.i = v.n; break;
      case 'q': a.u = v.q; break;
      case 'i': a.i = v.i; break;
      case 'u': a.u = v.u; break;
      case 'x': a.i = v.x; break;
      case 't': a.u = v.t; break;
      case 'd': a.d = v.d; break;
      case 's': a.s = v.s ? v.s : ""; break;
    }
  }
  return args;
}

bool IsUnsigned(char type) { return type == 'y' || type == 'q' || type == 'u' || type == 't'; }

std::string ArgText(const Arg& a) {
  if (a.type == 'd') return std::to_string(a.d);
  return IsUnsigned(a.type) ? std::to_string(a.u) : std::to_string(a.i);
}

std::int32_t Int32Argument(sd_bus_message* message, const Arg& a, const char* what) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
  if (IsUnsigned(a.type)) {
    if (a.u <= static_cast<std::uint64_t>(kMax)) return static_cast<std::int32_t>(a.u);
  } else if (a.i >= kMin && a.i <= kMax) {
    return static_cast<std::int32_t>(a.i);
  }
  throw CallError{kInvalidArgs, std::string(sd_bus_message_get_member(message)) + ": the " + what + " " +
                                    ArgText(a) + " is outside the 32-bit range"};
}

double DoubleArgument(const Arg& a) {
  if (a.type == 'd') return a.d;
  return IsUnsigned(a.type) ? static_cast<double>(a.u) : static_cast<double>(a.i);
}

int Reply(sd_bus_message* m) { return sd_bus_reply_method_return(m, nullptr); }

int Fail(sd_bus_message* m, const char* name, const std::string& text) {
  sd_bus_error e = SD_BUS_ERROR_NULL;
  sd_bus_error_set(&e, name, text.c_str());
  const int r = sd_bus_reply_method_error(m, &e);
  sd_bus_error_free(&e);
  return r;
}

int BadCall(sd_bus_message* m, const std::string& text) { return Fail(m, kBadCallError, text); }

// The session bus, or the one that started the editor by activation.
sd_bus* OpenSessionBus(std::string* error) {
  sd_bus* bus = nullptr;
  int r;
  const char* starter = std::getenv("DBUS_STARTER_ADDRESS");
  const char* starterType = std::getenv("DBUS_STARTER_BUS_TYPE");
  const char* session = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* address = (starter && *starter && (!starterType || std::strcmp(starterType, "session") == 0))
                            ? starter
                            : session;
  if (address && *address) {
    r = sd_bus_new(&bus);
    if (r >= 0) r = sd_bus_set_address(bus, address);
    if (r >= 0) r = sd_bus_set_bus_client(bus, 1);
    if (r >= 0) r = sd_bus_start(bus);
  } else {
    r = sd_bus_open_user(&bus);
  }
  if (r < 0) {
    sd_bus_unref(bus);
    *error = std::strerror(-r);
    return nullptr;
  }
  return bus;
}

}  // namespace

HostService::HostService(EditorSession& session, int idle_ms, QObject* parent)
    : QObject(parent), session_(session), idle_ms_(idle_ms) {
  idle_.setSingleShot(true);
  connect(&idle_, &QTimer::timeout, this, [this] { IdleCheck(); });
}

HostService::~HostService() {
  direct_.reset();
  sd_bus_slot_unref(object_);
}

bool HostService::Publish(QString& error) {
  std::string why;
  sd_bus* bus = OpenSessionBus(&why);
  if (!bus) {
    error = QStringLiteral("cannot reach the session bus: %1").arg(QString::fromStdString(why));
    return false;
  }
  pump_ = std::make_unique<SdBusPump>(bus, this);
  sd_bus_unref(bus);  // the pump holds it
  connect(pump_.get(), &SdBusPump::lost, this, &HostService::busLost);
  if (sd_bus_add_object(pump_->bus(), &object_, kObjectPath, &HostService::OnMessage, this) < 0) {
    error = QStringLiteral("cannot register the object %1 on the bus").arg(QLatin1String(kObjectPath));
    return false;
  }
  // Not queued, not replaceable: a second editor learns at once.
  const int r = sd_bus_request_name(pump_->bus(), kBusName, 0);
  if (r < 0) {
    sd_bus_slot_unref(object_);
    object_ = nullptr;
    error = r == -EEXIST
                ? QStringLiteral("the bus name %1 is already owned by another program").arg(QLatin1String(kBusName))
                : QStringLiteral("cannot claim the bus name %1: %2")
                      .arg(QLatin1String(kBusName), QString::fromUtf8(std::strerror(-r)));
    return false;
  }
  pump_->Pump();
  // The same object on a private socket, for a link that wants the shorter way.
  direct_ = std::make_unique<DirectListener>(
      [this](sd_bus* peer, sd_bus_slot** slot) {
        return sd_bus_add_object(peer, slot, kObjectPath, &HostService::OnMessage, this) >= 0;
      },
      this);
  std::string why_not;
  if (!direct_->Listen(&why_not)) direct_.reset();
  return true;
}

std::string HostService::DirectAddress() const { return direct_ ? direct_->Address() : std::string(); }

bool HostService::Connected() const { return pump_ && pump_->Open(); }

QString HostService::Introspection() {
  return QStringLiteral(
      "<interface name=\"norvane.norvanex\">"
      "<method name=\"SystemType\"><arg direction=\"out\" type=\"i\"/></method>"
      "<method name=\"StartSelection\"><arg direction=\"out\" type=\"i\"/></method>"
      "<method name=\"EndSelection\"><arg direction=\"out\" type=\"i\"/></method>"
      "<method name=\"selectline\"><arg name=\"line\" direction=\"in\" type=\"i\"/></method>"
      "<method name=\"markline\"><arg name=\"line\" direction=\"in\" type=\"i\"/>"
      "<arg name=\"mark\" direction=\"in\" type=\"i\"/></method>"
      "<method name=\"step\"/>"
      "<method name=\"CurrentBlock\"><arg name=\"index\" direction=\"in\" type=\"i\"/>"
      "<arg direction=\"out\" type=\"d\"/></method>"
      "<method name=\"add\"><arg name=\"letter\" direction=\"in\" type=\"s\"/>"
      "<arg name=\"value\" direction=\"in\" type=\"d\"/></method>"
      "<property name=\"SystemType\" type=\"i\" access=\"read\"/>"
      "<property name=\"StartSelection\" type=\"i\" access=\"read\"/>"
      "<property name=\"EndSelection\" type=\"i\" access=\"read\"/>"
      "</interface>"
      "<interface name=\"norvane.norvanex.Editor\">"
      "<method name=\"Save\"/>"
      "<method name=\"SaveAs\"><arg name=\"path\" direction=\"in\" type=\"s\"/></method>"
      "<method name=\"SetSelection\"><arg name=\"first\" direction=\"in\" type=\"i\"/>"
      "<arg name=\"last\" direction=\"in\" type=\"i\"/></method>"
      "<method name=\"SetSystemType\"><arg name=\"code\" direction=\"in\" type=\"i\"/></method>"
      "<method name=\"Undo\"/><method name=\"Redo\"/>"
      "<method name=\"Text\"><arg direction=\"out\" type=\"s\"/></method>"
      "<method name=\"Path\"><arg direction=\"out\" type=\"s\"/></method>"
      "<method name=\"Modified\"><arg direction=\"out\" type=\"b\"/></method>"
      "<method name=\"LineCount\"><arg direction=\"out\" type=\"x\"/></method>"
      "<method name=\"MarkedLines\"><arg direction=\"out\" type=\"ax\"/></method>"
      "<method name=\"DirectAddress\"><arg direction=\"out\" type=\"s\"/></method>"
      "<method name=\"Quit\"/>"
      "</interface>");
}

int HostService::OnMessage(sd_bus_message* message, void* self, sd_bus_error*) {
  // Nothing may unwind through the bus library.
  try {
    return static_cast<HostService*>(self)->Handle(message);
  } catch (const CallError& e) {
    return Fail(message, e.name, e.text);
  } catch (const AutomationError& e) {
    return BadCall(message, e.what());
  } catch (const std::exception& e) {
    return Fail(message, kFailed, e.what());
  } catch (...) {
    return Fail(message, kFailed, "unexpected failure");
  }
}

int HostService::Handle(sd_bus_message* message) {
  if (!sd_bus_message_is_method_call(message, nullptr, nullptr)) return 0;
  const char* interface = sd_bus_message_get_interface(message);
  const char* member = sd_bus_message_get_member(message);
  if (!interface || std::strcmp(interface, kHostInterface) == 0) return HandleHost(message, member);
  if (std::strcmp(interface, kEditorInterface) == 0) return HandleEditor(message, member);
  if (std::strcmp(interface, kPropertiesInterface) == 0) return HandleProperties(message, member);
  if (std::strcmp(interface, "org.freedesktop.DBus.Introspectable") == 0 && std::strcmp(member, "Introspect") == 0) {
    Arguments(message, "", "no arguments");
    const QByteArray xml =
        (QStringLiteral(
             "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
             " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>"
             "<interface name=\"org.freedesktop.DBus.Introspectable\">"
             "<method name=\"Introspect\"><arg direction=\"out\" type=\"s\"/></method></interface>"
             "<interface name=\"org.freedesktop.DBus.Properties\">"
             "<method name=\"Get\"><arg direction=\"in\" type=\"s\"/><arg direction=\"in\" type=\"s\"/>"
             "<arg direction=\"out\" type=\"v\"/></method>"
             "<method name=\"GetAll\"><arg direction=\"in\" type=\"s\"/>"
             "<arg direction=\"out\" type=\"a{sv}\"/></method></interface>") +
         Introspection() + QStringLiteral("</node>"))
            .toUtf8();
    return sd_bus_reply_method_return(message, "s", xml.constData());
  }
  return Fail(message, kUnknownInterface,
              std::string("No interface ") + interface + " at " + kObjectPath);
}

void HostService::Touch() {
  last_call_ = std::chrono::steady_clock::now();
  if (!idle_.isActive()) idle_.start(idle_ms_);
}

void HostService::IdleCheck() {
  const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                         std::chrono::steady_clock::now() - last_call_).count();
  if (quiet >= idle_ms_) {
    session_.EndPass();
  } else {
    idle_.start(static_cast<int>(idle_ms_ - quiet));
  }
}

int HostService::HandleHost(sd_bus_message* message, const char* member) {
  Automation& host = session_.automation();
  const std::string_view m(member);
  if (m == "SystemType" || m == "StartSelection" || m == "EndSelection") {
    Arguments(message, "", "no arguments");
    const std::int32_t v = m == "SystemType" ? host.SystemType()
                           : m == "StartSelection" ? host.StartSelection()
                                                   : host.EndSelection();
    return sd_bus_reply_method_return(message, "i", v);
  }
  // The members a pass drives: each call keeps its undo group open a while.
  if (m == "selectline") {
    const auto args = Arguments(message, "i", "(line: int32)");
    Touch();
    host.selectline(Int32Argument(message, args[0], "line"));
  } else if (m == "markline") {
    const auto args = Arguments(message, "ii", "(line: int32, mark: int32)");
    Touch();
    host.markline(Int32Argument(message, args[0], "line"), Int32Argument(message, args[1], "mark"));
  } else if (m == "step") {
    Arguments(message, "", "no arguments");
    Touch();
    host.step();
  } else if (m == "CurrentBlock") {
    const auto args = Arguments(message, "i", "(index: int32)");
    Touch();
    return sd_bus_reply_method_return(message, "d", host.CurrentBlock(Int32Argument(message, args[0], "index")));
  } else if (m == "add") {
    const auto args = Arguments(message, "sd", "(letter: string, value: double)");
    Touch();
    host.add(args[0].s, DoubleArgument(args[1]));
  } else {
    return Fail(message, kUnknownMethod, std::string("No member ") + member + " in " + kHostInterface);
  }
  return Reply(message);
}

int HostService::HandleEditor(sd_bus_message* message, const char* member) {
  const std::string_view m(member);
  std::string error;
  if (m == "Save" || m == "SaveAs") {
    bool saved;
    if (m == "Save") {
      Arguments(message, "", "no arguments");
      saved = session_.Save(error);
    } else {
      const auto args = Arguments(message, "s", "(path: string)");
      if (args[0].s.empty()) return BadCall(message, "SaveAs needs a file name");
      saved = session_.SaveAs(args[0].s, error);
    }
    if (!saved) return Fail(message, kSaveError, error);
    return Reply(message);
  }
  if (m == "SetSelection") {
    const auto args = Arguments(message, "ii", "(first: int32, last: int32)");
    const std::int64_t count = session_.document().LineCount();
    const std::int32_t first = Int32Argument(message, args[0], "first line");
    const std::int32_t last = Int32Argument(message, args[1], "last line");
    for (const std::int32_t line : {first, last}) {
      if (line < 1 || line > count) {
        return BadCall(message, "Line " + std::to_string(line) + " is outside the program (lines 1 to " +
                                    std::to_string(count) + ")");
      }
    }
    // The cursor ends on `last`, the anchor on `first`.
    session_.Select(first, last);
    return Reply(message);
  }
  if (m == "SetSystemType") {
    const auto args = Arguments(message, "i", "(code: int32)");
    const std::int32_t code = Int32Argument(message, args[0], "code");
    if (code != kSystemTypeLathe && code != kSystemTypeMill) {
      return BadCall(message, "Unknown system type " + std::to_string(code) + " (lathe " +
                                  std::to_string(kSystemTypeLathe) + ", mill " + std::to_string(kSystemTypeMill) + ")");
    }
    session_.SetSystemType(code);
    return Reply(message);
  }
  if (m == "Undo" || m == "Redo") {
    Arguments(message, "", "no arguments");
    m == "Undo" ? session_.Undo() : session_.Redo();
    return Reply(message);
  }
  if (m == "Text") {
    Arguments(message, "", "no arguments");
    const std::string text = session_.FileText();
    const int r = sd_bus_reply_method_return(message, "s", text.c_str());
    SdBusPump::Queued(sd_bus_message_get_bus(message), kQueuedMessageBytes + text.size());
    return r;
  }
  if (m == "Path") {
    Arguments(message, "", "no arguments");
    return sd_bus_reply_method_return(message, "s", session_.path().c_str());
  }
  if (m == "Modified") {
    Arguments(message, "", "no arguments");
    return sd_bus_reply_method_return(message, "b", int(session_.document().Modified()));
  }
  if (m == "LineCount") {
    Arguments(message, "", "no arguments");
    return sd_bus_reply_method_return(message, "x", std::int64_t(session_.document().LineCount()));
  }
  if (m == "MarkedLines") {
    Arguments(message, "", "no arguments");
    const std::vector<std::int64_t> lines = session_.document().MarkedLines();
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(message, &reply);
    if (r >= 0) r = sd_bus_message_append_array(reply, 'x', lines.data(), lines.size() * sizeof(std::int64_t));
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    SdBusPump::Queued(sd_bus_message_get_bus(message), kQueuedMessageBytes + lines.size() * sizeof(std::int64_t));
    return r;
  }
  if (m == "DirectAddress") {
    Arguments(message, "", "no arguments");
    return sd_bus_reply_method_return(message, "s", DirectAddress().c_str());
  }
  if (m == "Quit") {
    Arguments(message, "", "no arguments");
    QTimer::singleShot(0, this, [this] { emit quitRequested(); });
    return Reply(message);
  }
  return Fail(message, kUnknownMethod, std::string("No member ") + member + " in " + kEditorInterface);
}

int HostService::HandleProperties(sd_bus_message* message, const char* member) {
  Automation& host = session_.automation();
  const auto value_of = [&](const std::string& name, std::int32_t* v) {
    if (name == "SystemType") *v = host.SystemType();
    else if (name == "StartSelection") *v = host.StartSelection();
    else if (name == "EndSelection") *v = host.EndSelection();
    else return false;
    return true;
  };
  const std::string_view m(member);
  if (m == "Get") {
    const auto args = Arguments(message, "ss", "(interface: string, property: string)");
    std::int32_t v = 0;
    if (!value_of(args[1].s, &v)) return Fail(message, kUnknownProperty, "No property " + args[1].s);
    return sd_bus_reply_method_return(message, "v", "i", v);
  }
  if (m == "GetAll") {
    const auto args = Arguments(message, "s", "(interface: string)");
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(message, &reply);
    if (r >= 0) r = sd_bus_message_open_container(reply, 'a', "{sv}");
    if (args[0].s == kHostInterface) {
      for (const char* name : {"SystemType", "StartSelection", "EndSelection"}) {
        std::int32_t v = 0;
        value_of(name, &v);
        if (r >= 0) r = sd_bus_message_append(reply, "{sv}", name, "i", v);
      }
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
  }
  if (m == "Set") {
    return Fail(message, "org.freedesktop.DBus.Error.PropertyReadOnly",
                std::string("The properties of ") + kHostInterface + " are read-only");
  }
  return Fail(message, kUnknownMethod, std::string("No member ") + member + " in " + kPropertiesInterface);
}

}  // namespace refhost
