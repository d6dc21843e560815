#include "hostlink/dbus/dbus_connector.h"

#include <QDBusMessage>

#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_error.h"

namespace hostlink::dbus {
namespace {

QDBusMessage BusCall(const QString& member, const QVariantList& args) {
  QDBusMessage m = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), member);
  m.setArguments(args);
  return m;
}

}  // namespace

DbusConnector::DbusConnector(QDBusConnection bus, int callTimeoutMs)
    : bus_(std::move(bus)), callTimeoutMs_(callTimeoutMs) {}

DbusConnector DbusConnector::SessionBus() { return DbusConnector(QDBusConnection::sessionBus()); }

QString DbusConnector::NameOwner() {
  if (!bus_.isConnected()) throw HostError("No session bus");
  const QDBusMessage reply = bus_.call(
      BusCall(QStringLiteral("GetNameOwner"), {QString::fromLatin1(kServiceName)}), QDBus::Block);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    throw HostError(ErrorText(reply, "GetNameOwner"));
  }
  return reply.arguments().first().toString();
}

std::unique_ptr<Transport> DbusConnector::GetRunning() {
  const QString owner = NameOwner();
  const QDBusMessage ping = QDBusMessage::createMethodCall(
      owner, QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Peer"),
      QStringLiteral("Ping"));
  const QDBusMessage reply = bus_.call(ping, QDBus::Block);
  if (reply.type() != QDBusMessage::ReplyMessage) throw HostError(ErrorText(reply, "Ping"));
  return std::make_unique<DbusTransport>(bus_, owner, callTimeoutMs_);
}

std::unique_ptr<Transport> DbusConnector::Create() {
  if (!bus_.isConnected()) throw HostError("No session bus");
  const QDBusMessage reply = bus_.call(
      BusCall(QStringLiteral("StartServiceByName"),
              {QString::fromLatin1(kServiceName), QVariant::fromValue<uint>(0)}),
      QDBus::Block);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    throw HostError(ErrorText(reply, "StartServiceByName"));
  }
  return std::make_unique<DbusTransport>(bus_, NameOwner(), callTimeoutMs_);
}

}  // namespace hostlink::dbus
