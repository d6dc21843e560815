#include "refhost/editor/host_service.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QList>
#include <QVariantMap>

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>

namespace refhost {
namespace {

const QString kInvalidArgs = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");
const QString kUnknownInterface = QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface");
const QString kUnknownProperty = QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kFailed = QStringLiteral("norvane.norvanex.Error.Failed");

// A call whose arguments do not fit the member: answered with InvalidArgs.
struct ArgumentError {
  QString text;
};

bool IsIntegerCode(char code) { return QByteArrayView("ynqiuxt").contains(code); }

// The arguments of `message`, checked against `pattern`: 'i' any integer
// (read as a 32-bit line or index), 'd' a real or an integer, 's' a string.
void CheckArguments(const QDBusMessage& message, const char* pattern, const char* usage) {
  const QString signature = message.signature();
  const QByteArrayView want(pattern);
  bool ok = signature.size() == want.size();
  for (qsizetype i = 0; ok && i < want.size(); ++i) {
    const char got = signature.at(i).toLatin1();
    switch (want[i]) {
      case 'i': ok = IsIntegerCode(got); break;
      case 'd': ok = got == 'd' || IsIntegerCode(got); break;
      default: ok = got == want[i]; break;
    }
  }
  if (!ok) {
    throw ArgumentError{QStringLiteral("%1 takes %2; it was called with (%3)")
                            .arg(message.member(), QLatin1String(usage), signature)};
  }
}

std::int32_t Int32Argument(const QDBusMessage& message, int at, const char* what) {
  const QVariant v = message.arguments().at(at);
  bool ok = false;
  if (v.metaType().id() == QMetaType::ULongLong) {
    const qulonglong u = v.toULongLong(&ok);
    if (ok && u <= static_cast<qulonglong>(std::numeric_limits<std::int32_t>::max())) {
      return static_cast<std::int32_t>(u);
    }
  } else {
    const qlonglong n = v.toLongLong(&ok);
    if (ok && n >= std::numeric_limits<std::int32_t>::min() &&
        n <= std::numeric_limits<std::int32_t>::max()) {
      return static_cast<std::int32_t>(n);
    }
  }
  throw ArgumentError{QStringLiteral("%1: the %2 %3 is outside the 32-bit range")
                          .arg(message.member(), QLatin1String(what), v.toString())};
}

double DoubleArgument(const QDBusMessage& message, int at) {
  return message.arguments().at(at).toDouble();
}

QDBusMessage Reply(const QDBusMessage& message, const QVariant& value = QVariant()) {
  return value.isValid() ? message.createReply(value) : message.createReply();
}

QDBusMessage BadCall(const QDBusMessage& message, const QString& text) {
  return message.createErrorReply(QString::fromLatin1(kBadCallError), text);
}

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

}  // namespace

HostService::HostService(EditorSession& session, int idle_ms, QObject* parent)
    : QDBusVirtualObject(parent), session_(session) {
  idle_.setSingleShot(true);
  idle_.setInterval(idle_ms);
  connect(&idle_, &QTimer::timeout, this, [this] { session_.EndPass(); });
}

bool HostService::Publish(QDBusConnection connection, QString& error) {
  if (!connection.isConnected()) {
    error = QStringLiteral("cannot reach the session bus: %1").arg(connection.lastError().message());
    return false;
  }
  if (!connection.registerVirtualObject(QString::fromLatin1(kObjectPath), this)) {
    error = QStringLiteral("cannot register the object %1 on the bus").arg(QLatin1String(kObjectPath));
    return false;
  }
  QDBusConnectionInterface* bus = connection.interface();
  const auto reply = bus->registerService(QString::fromLatin1(kBusName),
                                          QDBusConnectionInterface::DontQueueService,
                                          QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
    connection.unregisterObject(QString::fromLatin1(kObjectPath));
    error = reply.isValid()
                ? QStringLiteral("the bus name %1 is already owned by another program").arg(QLatin1String(kBusName))
                : QStringLiteral("cannot claim the bus name %1: %2").arg(QLatin1String(kBusName), reply.error().message());
    return false;
  }
  return true;
}

QString HostService::introspect(const QString&) const {
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
      "<method name=\"Quit\"/>"
      "</interface>");
}

bool HostService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  const QString interface = message.interface();
  QDBusMessage reply;
  try {
    if (interface == QLatin1String(kEditorInterface)) {
      reply = HandleEditor(message);
    } else if (interface == kPropertiesInterface) {
      reply = HandleProperties(message);
    } else if (interface == QLatin1String("org.freedesktop.DBus.Introspectable")) {
      CheckArguments(message, "", "no arguments");
      reply = message.createReply(QStringLiteral(
          "<!DOCTYPE node PUBLIC \"-//freedesktop//DTD D-BUS Object Introspection 1.0//EN\"\n"
          " \"http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd\">\n<node>"
          "<interface name=\"org.freedesktop.DBus.Introspectable\">"
          "<method name=\"Introspect\"><arg direction=\"out\" type=\"s\"/></method></interface>"
          "<interface name=\"org.freedesktop.DBus.Properties\">"
          "<method name=\"Get\"><arg direction=\"in\" type=\"s\"/><arg direction=\"in\" type=\"s\"/>"
          "<arg direction=\"out\" type=\"v\"/></method>"
          "<method name=\"GetAll\"><arg direction=\"in\" type=\"s\"/>"
          "<arg direction=\"out\" type=\"a{sv}\"/></method></interface>") +
          introspect(message.path()) + QStringLiteral("</node>"));
    } else if (interface.isEmpty() || interface == QLatin1String(kHostInterface)) {
      reply = HandleHost(message);
    } else {
      reply = message.createErrorReply(kUnknownInterface,
                                       QStringLiteral("No interface %1 at %2").arg(interface, message.path()));
    }
  } catch (const ArgumentError& e) {
    reply = message.createErrorReply(kInvalidArgs, e.text);
  } catch (const AutomationError& e) {
    reply = BadCall(message, QString::fromUtf8(e.what()));
  } catch (const std::exception& e) {
    reply = message.createErrorReply(kFailed, QString::fromUtf8(e.what()));
  }
  if (message.isReplyRequired()) connection.send(reply);
  return true;
}

QDBusMessage HostService::HandleHost(const QDBusMessage& message) {
  const QString member = message.member();
  Automation& host = session_.automation();
  if (member == QLatin1String("SystemType")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, host.SystemType());
  }
  if (member == QLatin1String("StartSelection")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, host.StartSelection());
  }
  if (member == QLatin1String("EndSelection")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, host.EndSelection());
  }
  // The members a pass drives: each call keeps its undo group open a while.
  if (member == QLatin1String("selectline")) {
    CheckArguments(message, "i", "(line: int32)");
    idle_.start();
    host.selectline(Int32Argument(message, 0, "line"));
  } else if (member == QLatin1String("markline")) {
    CheckArguments(message, "ii", "(line: int32, mark: int32)");
    idle_.start();
    host.markline(Int32Argument(message, 0, "line"), Int32Argument(message, 1, "mark"));
  } else if (member == QLatin1String("step")) {
    CheckArguments(message, "", "no arguments");
    idle_.start();
    host.step();
  } else if (member == QLatin1String("CurrentBlock")) {
    CheckArguments(message, "i", "(index: int32)");
    idle_.start();
    return Reply(message, host.CurrentBlock(Int32Argument(message, 0, "index")));
  } else if (member == QLatin1String("add")) {
    CheckArguments(message, "sd", "(letter: string, value: double)");
    idle_.start();
    host.add(message.arguments().at(0).toString().toStdString(), DoubleArgument(message, 1));
  } else {
    return message.createErrorReply(kUnknownMethod,
                                    QStringLiteral("No member %1 in %2").arg(member, QLatin1String(kHostInterface)));
  }
  return Reply(message);
}

QDBusMessage HostService::HandleEditor(const QDBusMessage& message) {
  const QString member = message.member();
  std::string error;
  if (member == QLatin1String("Save") || member == QLatin1String("SaveAs")) {
    bool saved;
    if (member == QLatin1String("Save")) {
      CheckArguments(message, "", "no arguments");
      saved = session_.Save(error);
    } else {
      CheckArguments(message, "s", "(path: string)");
      const QString path = message.arguments().at(0).toString();
      if (path.isEmpty()) return BadCall(message, QStringLiteral("SaveAs needs a file name"));
      saved = session_.SaveAs(path.toStdString(), error);
    }
    if (!saved) return message.createErrorReply(QString::fromLatin1(kSaveError), Utf8(error));
    return Reply(message);
  }
  if (member == QLatin1String("SetSelection")) {
    CheckArguments(message, "ii", "(first: int32, last: int32)");
    const std::int64_t count = session_.document().LineCount();
    const std::int32_t first = Int32Argument(message, 0, "first line");
    const std::int32_t last = Int32Argument(message, 1, "last line");
    for (const std::int32_t line : {first, last}) {
      if (line < 1 || line > count) {
        return BadCall(message, QStringLiteral("Line %1 is outside the program (lines 1 to %2)").arg(line).arg(count));
      }
    }
    // The cursor ends on `last`, the anchor on `first`.
    session_.Select(first, last);
    return Reply(message);
  }
  if (member == QLatin1String("SetSystemType")) {
    CheckArguments(message, "i", "(code: int32)");
    const std::int32_t code = Int32Argument(message, 0, "code");
    if (code != kSystemTypeLathe && code != kSystemTypeMill) {
      return BadCall(message, QStringLiteral("Unknown system type %1 (lathe %2, mill %3)")
                                  .arg(code).arg(kSystemTypeLathe).arg(kSystemTypeMill));
    }
    session_.SetSystemType(code);
    return Reply(message);
  }
  if (member == QLatin1String("Undo") || member == QLatin1String("Redo")) {
    CheckArguments(message, "", "no arguments");
    member == QLatin1String("Undo") ? session_.Undo() : session_.Redo();
    return Reply(message);
  }
  if (member == QLatin1String("Text")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, Utf8(session_.FileText()));
  }
  if (member == QLatin1String("Path")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, Utf8(session_.path()));
  }
  if (member == QLatin1String("Modified")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, session_.document().Modified());
  }
  if (member == QLatin1String("LineCount")) {
    CheckArguments(message, "", "no arguments");
    return Reply(message, qlonglong(session_.document().LineCount()));
  }
  if (member == QLatin1String("MarkedLines")) {
    CheckArguments(message, "", "no arguments");
    QList<qlonglong> lines;
    for (const std::int64_t line : session_.document().MarkedLines()) lines.push_back(line);
    return Reply(message, QVariant::fromValue(lines));
  }
  if (member == QLatin1String("Quit")) {
    CheckArguments(message, "", "no arguments");
    QTimer::singleShot(0, this, [this] { emit quitRequested(); });
    return Reply(message);
  }
  return message.createErrorReply(kUnknownMethod,
                                  QStringLiteral("No member %1 in %2").arg(member, QLatin1String(kEditorInterface)));
}

QDBusMessage HostService::HandleProperties(const QDBusMessage& message) {
  const QString member = message.member();
  Automation& host = session_.automation();
  const auto value_of = [&](const QString& name) -> QVariant {
    if (name == QLatin1String("SystemType")) return host.SystemType();
    if (name == QLatin1String("StartSelection")) return host.StartSelection();
    if (name == QLatin1String("EndSelection")) return host.EndSelection();
    return QVariant();
  };
  if (member == QLatin1String("Get")) {
    CheckArguments(message, "ss", "(interface: string, property: string)");
    const QString name = message.arguments().at(1).toString();
    const QVariant value = value_of(name);
    if (!value.isValid()) {
      return message.createErrorReply(kUnknownProperty, QStringLiteral("No property %1").arg(name));
    }
    return Reply(message, QVariant::fromValue(QDBusVariant(value)));
  }
  if (member == QLatin1String("GetAll")) {
    CheckArguments(message, "s", "(interface: string)");
    QVariantMap all;
    if (message.arguments().at(0).toString() == QLatin1String(kHostInterface)) {
      for (const char* name : {"SystemType", "StartSelection", "EndSelection"}) {
        all.insert(QLatin1String(name), value_of(QLatin1String(name)));
      }
    }
    return Reply(message, all);
  }
  if (member == QLatin1String("Set")) {
    return message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                    QStringLiteral("The properties of %1 are read-only").arg(QLatin1String(kHostInterface)));
  }
  return message.createErrorReply(kUnknownMethod, QStringLiteral("No member %1 in %2").arg(member, kPropertiesInterface));
}

}  // namespace refhost
