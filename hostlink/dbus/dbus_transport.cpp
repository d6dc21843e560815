#include "hostlink/dbus/dbus_transport.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusSignature>
#include <QDBusVariant>
#include <QLocale>

#include "hostlink/host_error.h"

namespace hostlink::dbus {
namespace {

const QString kUnknownMethod = QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod");

// Arrays (and dicts) count as Null when empty; everything else is Unknown.
HostValue FromArgument(const QDBusArgument& arg) {
  switch (arg.currentType()) {
    case QDBusArgument::VariantType: {
      QDBusVariant inner;
      arg >> inner;
      return ToHostValue(inner.variant());
    }
    case QDBusArgument::ArrayType: {
      arg.beginArray();
      const bool empty = arg.atEnd();
      return empty ? HostValue::Null() : HostValue::Unknown();
    }
    case QDBusArgument::MapType: {
      arg.beginMap();
      const bool empty = arg.atEnd();
      return empty ? HostValue::Null() : HostValue::Unknown();
    }
    default:
      return HostValue::Unknown();
  }
}

}  // namespace

HostValue ToHostValue(const QVariant& value) {
  QVariant v = value;
  while (v.metaType() == QMetaType::fromType<QDBusVariant>()) {
    v = qvariant_cast<QDBusVariant>(v).variant();
  }
  if (!v.isValid()) return HostValue::Empty();
  const QMetaType type = v.metaType();
  if (type == QMetaType::fromType<QDBusArgument>()) {
    return FromArgument(qvariant_cast<QDBusArgument>(v));
  }
  if (type == QMetaType::fromType<QDBusObjectPath>()) {
    return HostValue::Text(qvariant_cast<QDBusObjectPath>(v).path().toStdString());
  }
  if (type == QMetaType::fromType<QDBusSignature>()) {
    return HostValue::Text(qvariant_cast<QDBusSignature>(v).signature().toStdString());
  }
  switch (type.id()) {
    case QMetaType::UChar: return HostValue::Unsigned(ValueKind::Byte, v.value<uchar>());
    case QMetaType::Short: return HostValue::Signed(ValueKind::SmallInt, v.value<short>());
    case QMetaType::UShort: return HostValue::Unsigned(ValueKind::Word, v.value<ushort>());
    case QMetaType::Int: return HostValue::Signed(ValueKind::Integer, v.value<int>());
    case QMetaType::UInt: return HostValue::Unsigned(ValueKind::LongWord, v.value<uint>());
    case QMetaType::LongLong: return HostValue::Signed(ValueKind::Int64, v.value<qlonglong>());
    case QMetaType::ULongLong:
      return HostValue::Unsigned(ValueKind::UInt64, v.value<qulonglong>());
    case QMetaType::Double: return HostValue::Real(v.value<double>());
    case QMetaType::Bool: return HostValue::Boolean(v.value<bool>());
    case QMetaType::QString: return HostValue::Text(v.value<QString>().toStdString());
    // Arrays Qt reads by itself ("ay", "as").
    case QMetaType::QByteArray:
      return v.value<QByteArray>().isEmpty() ? HostValue::Null() : HostValue::Unknown();
    case QMetaType::QStringList:
      return v.value<QStringList>().isEmpty() ? HostValue::Null() : HostValue::Unknown();
    default: return HostValue::Unknown();
  }
}

std::string ErrorText(const QDBusMessage& reply, const std::string& member) {
  const QString name = reply.errorName();
  if (name == kUnknownMethod || name == "org.freedesktop.DBus.Error.UnknownInterface" ||
      name == "org.freedesktop.DBus.Error.UnknownObject") {
    return "Method '" + member + "' not supported by automation object";
  }
  // The host's description and the bus's own texts alike lose trailing
  // blanks, control characters and periods; with nothing left, the name.
  std::string text = TrimHostText(reply.errorMessage().toStdString());
  if (text.empty()) text = TrimHostText(name.toStdString());
  if (text.empty()) text = "Unknown D-Bus error";
  return text;
}

DbusTransport::DbusTransport(QDBusConnection bus, QString owner, int timeoutMs)
    : bus_(std::move(bus)), owner_(std::move(owner)), timeoutMs_(timeoutMs) {
  const QLocale locale;
  format_.decimal = locale.decimalPoint().toStdString();
  format_.group = locale.groupSeparator().toStdString();
}

QDBusMessage DbusTransport::Send(const QString& interface, const QString& member,
                                 const QVariantList& args) {
  QDBusMessage call =
      QDBusMessage::createMethodCall(owner_, QString::fromLatin1(kObjectPath), interface, member);
  call.setArguments(args);
  return bus_.call(call, QDBus::Block, timeoutMs_);
}

HostValue DbusTransport::Query(const std::string& member) {
  const QString name = QString::fromStdString(member);
  QDBusMessage reply = Send(QString::fromLatin1(kInterface), name, {});
  if (reply.type() == QDBusMessage::ErrorMessage && reply.errorName() == kUnknownMethod) {
    reply = Send(QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QString::fromLatin1(kInterface), name});
    if (reply.type() == QDBusMessage::ErrorMessage &&
        (reply.errorName() == "org.freedesktop.DBus.Error.UnknownProperty" ||
         reply.errorName() == "org.freedesktop.DBus.Error.InvalidArgs")) {
      throw HostError("Method '" + member + "' not supported by automation object");
    }
  }
  if (reply.type() != QDBusMessage::ReplyMessage) throw HostError(ErrorText(reply, member));
  const QVariantList out = reply.arguments();
  return out.isEmpty() ? HostValue::Empty() : ToHostValue(out.first());
}

void DbusTransport::Call(const std::string& member, const std::vector<Argument>& args) {
  QVariantList list;
  for (const Argument& a : args) {
    // D-Bus has only by-value arguments: both forms send the value.
    switch (a.type) {
      case Argument::Type::Int32: list << QVariant::fromValue<int>(a.int32); break;
      case Argument::Type::Real: list << QVariant::fromValue<double>(a.real); break;
      case Argument::Type::Text: list << QString::fromStdString(a.text); break;
    }
  }
  const QDBusMessage reply = Send(QString::fromLatin1(kInterface), QString::fromStdString(member), list);
  if (reply.type() != QDBusMessage::ReplyMessage) throw HostError(ErrorText(reply, member));
}

HostValue DbusTransport::GetIndexed(const std::string& member, std::int32_t index) {
  const QDBusMessage reply = Send(QString::fromLatin1(kInterface), QString::fromStdString(member),
                                  {QVariant::fromValue<int>(index)});
  if (reply.type() != QDBusMessage::ReplyMessage) throw HostError(ErrorText(reply, member));
  const QVariantList out = reply.arguments();
  return out.isEmpty() ? HostValue::Empty() : ToHostValue(out.first());
}

}  // namespace hostlink::dbus
