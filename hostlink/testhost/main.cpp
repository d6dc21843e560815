// brevand_testhost: a scriptable host serving norvane.norvanex on D-Bus.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTimer>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "hostlink/testhost/host_script.h"

namespace {

const char kName[] = "norvane.norvanex";
const char kPath[] = "/norvanex";
const char kInterface[] = "norvane.norvanex";
const char kProperties[] = "org.freedesktop.DBus.Properties";

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

std::string Num(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// Builds the answer a Value rule asks for; false when it is "none".
bool MakeValue(const std::string& type, const std::string& text, QVariant* out) {
  std::size_t wraps = 0;
  while (wraps < type.size() && type[wraps] == 'v') ++wraps;
  const std::string t = type.substr(wraps);
  const QString s = QString::fromStdString(text);
  QVariant v;
  if (t == "none") return false;
  if (t == "y") v = QVariant::fromValue<uchar>(static_cast<uchar>(s.toUInt()));
  else if (t == "n") v = QVariant::fromValue<short>(s.toShort());
  else if (t == "q") v = QVariant::fromValue<ushort>(s.toUShort());
  else if (t == "i") v = QVariant::fromValue<int>(s.toInt());
  else if (t == "u") v = QVariant::fromValue<uint>(s.toUInt());
  else if (t == "x") v = QVariant::fromValue<qlonglong>(s.toLongLong());
  else if (t == "t") v = QVariant::fromValue<qulonglong>(s.toULongLong());
  else if (t == "d") v = QVariant::fromValue<double>(std::strtod(text.c_str(), nullptr));
  else if (t == "b") v = QVariant::fromValue<bool>(s == "true" || s == "1");
  else if (t == "s") v = QVariant::fromValue(s);
  else if (t == "o") v = QVariant::fromValue(QDBusObjectPath(s));
  else if (t == "g") v = QVariant::fromValue(QDBusSignature(s));
  else if (t == "null") v = QVariant::fromValue(QList<int>());
  else if (t == "array") v = QVariant::fromValue(QList<int>{1, 2});
  else if (t == "map") v = QVariantMap{{"a", 1}};
  else if (t == "h") v = QVariant::fromValue(QDBusUnixFileDescriptor(0));
  else if (t == "struct") {
    QDBusArgument arg;
    arg.beginStructure();
    arg << 1 << 2.0;
    arg.endStructure();
    v = QVariant::fromValue(arg);
  } else {
    v = QVariant::fromValue(s);
  }
  for (std::size_t i = 0; i < wraps; ++i) v = QVariant::fromValue(QDBusVariant(v));
  *out = v;
  return true;
}

class TestHost : public QDBusVirtualObject {
 public:
  TestHost(testhost::HostScript script, QCoreApplication* app)
      : script_(std::move(script)), app_(app) {
    if (!script_.recordPath.empty()) {
      record_ = std::fopen(script_.recordPath.c_str(), "w");
      if (!record_) std::cerr << "brevand_testhost: cannot write " << script_.recordPath << "\n";
    }
    // The record is buffered and flushed while idle, never once per call.
    flusher_.setInterval(50);
    QObject::connect(&flusher_, &QTimer::timeout, [this] { Flush(); });
    flusher_.start();
  }
  ~TestHost() override {
    Flush();
    if (record_) std::fclose(record_);
  }

  void Flush() {
    if (record_ && dirty_) {
      std::fflush(record_);
      dirty_ = false;
    }
  }

  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"norvane.norvanex\">"
        "<method name=\"SystemType\"><arg type=\"i\" direction=\"out\"/></method>"
        "<method name=\"StartSelection\"><arg type=\"i\" direction=\"out\"/></method>"
        "<method name=\"EndSelection\"><arg type=\"i\" direction=\"out\"/></method>"
        "<method name=\"selectline\"><arg type=\"i\" direction=\"in\"/></method>"
        "<method name=\"markline\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"i\" direction=\"in\"/></method>"
        "<method name=\"step\"/>"
        "<method name=\"CurrentBlock\"><arg type=\"i\" direction=\"in\"/>"
        "<arg type=\"d\" direction=\"out\"/></method>"
        "<method name=\"add\"><arg type=\"s\" direction=\"in\"/>"
        "<arg type=\"d\" direction=\"in\"/></method>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& msg, const QDBusConnection& bus) override {
    const QString iface = msg.interface();
    const std::string member = msg.member().toStdString();
    const QVariantList args = msg.arguments();

    if (iface == kProperties) {
      if (member == "Get" && args.size() == 2) {
        const std::string name = args[1].toString().toStdString();
        Record("get " + name);
        if (script_.queryProperties && IsQuery(name) && args[0].toString() == kInterface) {
          Answer(msg, bus, name, std::nullopt, QueryValue(name), /*asProperty=*/true);
        } else {
          bus.send(msg.createErrorReply("org.freedesktop.DBus.Error.UnknownProperty",
                                        QString("No such property '%1'").arg(args[1].toString())));
        }
        return true;
      }
      bus.send(msg.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod",
                                    "Only Get is served"));
      return true;
    }
    if (iface == QLatin1String("norvane.norvanex.Editor") && member == "DirectAddress" &&
        script_.directAddress) {
      bus.send(msg.createReply(QString::fromStdString(*script_.directAddress)));
      return true;
    }
    if (!iface.isEmpty() && iface != kInterface) {
      bus.send(msg.createErrorReply("org.freedesktop.DBus.Error.UnknownInterface",
                                    "No such interface '" + iface + "'"));
      return true;
    }

    if (record_) {
      std::string line = member;
      for (const QVariant& a : args) {
        line += ' ';
        if (a.metaType().id() == QMetaType::Double) line += Num(a.toDouble());
        else line += a.toString().toStdString();
      }
      Record(line);
    }

    auto sig = [&](const char* want) { return msg.signature() == QLatin1String(want); };
    if (IsQuery(member) && sig("")) {
      if (!script_.queryMethods) {
        bus.send(msg.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod",
                                      "No such method '" + msg.member() + "'"));
        return true;
      }
      Answer(msg, bus, member, std::nullopt, QueryValue(member), false);
    } else if (member == "selectline" && sig("i")) {
      next_ = args[0].toInt();
      Answer(msg, bus, member, std::nullopt, {}, false);
    } else if (member == "markline" && sig("ii")) {
      Answer(msg, bus, member, std::nullopt, {}, false);
    } else if (member == "add" && sig("sd")) {
      Answer(msg, bus, member, std::nullopt, {}, false);
    } else if (member == "step" && sig("")) {
      const bool inside = next_ >= 1 && next_ <= static_cast<std::int64_t>(script_.lines.size());
      if (!inside && script_.beyondIsError && !Fault(member, std::nullopt)) {
        Count(member);
        bus.send(msg.createErrorReply("norvane.norvanex.Error.EndOfProgram",
                                      "Step beyond the end of the program."));
        Served();
        return true;
      }
      current_ = next_++;
      Answer(msg, bus, member, std::nullopt, {}, false);
    } else if (member == "CurrentBlock" && sig("i")) {
      const int index = args[0].toInt();
      Answer(msg, bus, member, index, QVariant::fromValue(Block(index)), false);
    } else if (member == "Ping" || member == "Quit") {
      // Not host members: a trivial round trip, and a way to end the host.
      bus.send(msg.createReply());
      if (member == "Quit") QTimer::singleShot(0, app_, &QCoreApplication::quit);
    } else {
      bus.send(msg.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod",
                                    "No such method '" + msg.member() + "' with signature '" +
                                        msg.signature() + "'"));
    }
    return true;
  }

 private:
  static bool IsQuery(const std::string& m) {
    return m == "SystemType" || m == "StartSelection" || m == "EndSelection";
  }

  QVariant QueryValue(const std::string& m) const {
    if (m == "SystemType") return script_.systemType;
    if (m == "StartSelection") return script_.StartSelection();
    return script_.EndSelection();
  }

  double Block(int index) const {
    if (current_ < 1 || current_ > static_cast<std::int64_t>(script_.lines.size())) return 0;
    const testhost::Line& l = script_.lines[current_ - 1];
    switch (index) {
      case 1: return l.motion;
      case 4: case 5: case 6: return l.p1[index - 4];
      case 7: case 8: case 9: return l.p2[index - 7];
      case 19: return l.feed;
      case 23: return l.radius;
      default: return 0;
    }
  }

  void Count(const std::string& member) { ++calls_[member]; }

  // The rule that applies to this call of `member` (already counted), if any.
  const testhost::Rule* Fault(const std::string& member, std::optional<int> index) const {
    auto it = calls_.find(member);
    const std::int64_t nth = (it == calls_.end() ? 0 : it->second) + 1;
    const testhost::Rule* found = nullptr;
    for (const testhost::Rule& r : script_.rules) {
      if (r.member != member) continue;
      if (r.index && (!index || *r.index != *index)) continue;
      if (r.nth && *r.nth != nth) continue;
      found = &r;
    }
    return found;
  }

  // Replies with `value` (none when invalid) unless a rule says otherwise.
  void Answer(const QDBusMessage& msg, const QDBusConnection& bus, const std::string& member,
              std::optional<int> index, QVariant value, bool asProperty) {
    const testhost::Rule* rule = Fault(member, index);
    Count(member);
    if (rule && rule->kind == testhost::Rule::Kind::Hang) {
      Served();
      return;  // never answers
    }
    if (rule && rule->kind == testhost::Rule::Kind::Error) {
      bus.send(msg.createErrorReply(QString::fromStdString(rule->errorName),
                                    QString::fromStdString(rule->value)));
      Served();
      return;
    }
    if (rule && rule->kind == testhost::Rule::Kind::Value) {
      if (!MakeValue(rule->type, rule->value, &value)) value = QVariant();
    }
    QDBusMessage reply = msg.createReply();
    if (value.isValid()) {
      reply << (asProperty ? QVariant::fromValue(QDBusVariant(value)) : value);
    } else if (asProperty) {
      // A property always has a value; "none" sends an empty string array.
      reply << QVariant::fromValue(QDBusVariant(QVariant::fromValue(QStringList())));
    }
    bus.send(reply);
    Served();
  }

  void Served() {
    ++served_;
    if (script_.quitAfter && served_ >= *script_.quitAfter) {
      QTimer::singleShot(50, app_, &QCoreApplication::quit);
    }
  }

  void Record(const std::string& line) {
    if (!record_) return;
    std::fputs(line.c_str(), record_);
    std::fputc('\n', record_);
    dirty_ = true;
  }

  testhost::HostScript script_;
  QCoreApplication* app_;
  std::FILE* record_ = nullptr;
  bool dirty_ = false;
  QTimer flusher_;
  std::int64_t next_ = 0;     // the line the next step interprets
  std::int64_t current_ = 0;  // the line the last step interpreted
  std::int64_t served_ = 0;
  std::map<std::string, std::int64_t> calls_;
};

int Usage() {
  std::cerr << "usage: brevand_testhost [--demo] [--script FILE] [--record FILE]\n"
               "                        [--address BUS-ADDRESS] [-e DIRECTIVE]...\n"
               "Directives are described in hostlink/testhost/README.md.\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testhost::HostScript script;
  QString address;
  auto apply = [&](const std::string& directive, const std::string& where) {
    std::string error = testhost::ApplyDirective(directive, &script);
    if (!error.empty()) {
      std::cerr << "brevand_testhost: " << where << ": " << error << "\n";
      std::exit(2);
    }
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--demo") {
      apply("demo", a);
    } else if (a == "--script" && hasValue) {
      std::ifstream in(argv[++i]);
      if (!in) {
        std::cerr << "brevand_testhost: cannot read " << argv[i] << "\n";
        return 2;
      }
      int n = 0;
      for (std::string line; std::getline(in, line);) {
        apply(line, std::string(argv[i]) + ":" + std::to_string(++n));
      }
    } else if (a == "--record" && hasValue) {
      apply(std::string("record ") + argv[++i], a);
    } else if (a == "-e" && hasValue) {
      apply(argv[++i], a);
    } else if (a == "--address" && hasValue) {
      address = argv[++i];
    } else {
      return Usage();
    }
  }

  // Activated by a bus, serve that bus; else the given one; else the session bus.
  if (address.isEmpty()) address = qEnvironmentVariable("DBUS_STARTER_ADDRESS");
  QDBusConnection bus = address.isEmpty()
                            ? QDBusConnection::sessionBus()
                            : QDBusConnection::connectToBus(address, "brevand_testhost");
  if (!bus.isConnected()) {
    std::cerr << "brevand_testhost: no bus: " << bus.lastError().message().toStdString() << "\n";
    return 1;
  }
  TestHost host(std::move(script), &app);
  if (!bus.registerVirtualObject(kPath, &host, QDBusConnection::SingleNode)) {
    std::cerr << "brevand_testhost: cannot register " << kPath << "\n";
    return 1;
  }
  if (!bus.registerService(kName)) {
    std::cerr << "brevand_testhost: cannot own " << kName << ": "
              << bus.lastError().message().toStdString() << "\n";
    return 1;
  }

  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  QTimer watch;  // ends the host on a signal or when its bus is gone
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (g_stop || !bus.isConnected()) app.quit();
  });
  watch.start(100);
  const int rc = app.exec();
  bus.unregisterObject(kPath);
  return rc;
}
