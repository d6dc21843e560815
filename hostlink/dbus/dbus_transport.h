// Member calls encoded on D-Bus: every call goes to the host's unique bus
// name, object /norvanex, interface norvane.norvanex.
#ifndef HOSTLINK_DBUS_DBUS_TRANSPORT_H_
#define HOSTLINK_DBUS_DBUS_TRANSPORT_H_

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>

#include "hostlink/transport.h"

namespace hostlink::dbus {

inline constexpr char kServiceName[] = "norvane.norvanex";
inline constexpr char kObjectPath[] = "/norvanex";
inline constexpr char kInterface[] = "norvane.norvanex";

// Each call blocks (QDBus::Block: no user input and no other event is handled
// while it waits) until the reply or `timeoutMs` (-1: the bus's default).
// Text results are read in the user's locale (QLocale()).
class DbusTransport : public Transport {
 public:
  DbusTransport(QDBusConnection bus, QString owner, int timeoutMs = -1);

  // The unique name (":1.42") every call is addressed to.
  const QString& Owner() const { return owner_; }

  // The method; where the host answers UnknownMethod, the property through
  // org.freedesktop.DBus.Properties.Get.
  HostValue Query(const std::string& member) override;
  void Call(const std::string& member, const std::vector<Argument>& args) override;
  // The method `member` with the index as its one `i` argument.
  HostValue GetIndexed(const std::string& member, std::int32_t index) override;
  NumberFormat Format() const override { return format_; }

 private:
  QDBusMessage Send(const QString& interface, const QString& member, const QVariantList& args);

  QDBusConnection bus_;
  QString owner_;
  int timeoutMs_;
  NumberFormat format_;
};

// A reply argument as a host value: variants unwrapped, typed by D-Bus type;
// an invalid QVariant (no argument) is Empty.
HostValue ToHostValue(const QVariant& value);

// The HostError text for an error reply to a call of `member`.
std::string ErrorText(const QDBusMessage& reply, const std::string& member);

}  // namespace hostlink::dbus

#endif  // HOSTLINK_DBUS_DBUS_TRANSPORT_H_
