// The editor program on a private bus, and calls to it, for tests.
#ifndef REFHOST_EDITOR_TESTS_EDITOR_BUS_H_
#define REFHOST_EDITOR_TESTS_EDITOR_BUS_H_

#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include "hostlink/testing/private_bus.h"

namespace refhost::testing {

inline QString EditorPath() { return QStringLiteral(NORVANE_EDITOR_PATH); }

// Starts norvane-editor headless with `args` on `bus` and waits (bounded) for
// it to own its name. Returns the process, or null when it did not come up.
QProcess* StartEditor(hostlink::testing::PrivateBus& bus, const QStringList& args);

// One blocking call (5 s at most) to /norvanex on `interface`.
QDBusMessage Call(hostlink::testing::PrivateBus& bus, const QString& interface,
                  const QString& member, const QVariantList& args = {});
inline QDBusMessage Host(hostlink::testing::PrivateBus& bus, const QString& member,
                         const QVariantList& args = {}) {
  return Call(bus, QStringLiteral("norvane.norvanex"), member, args);
}
inline QDBusMessage Editor(hostlink::testing::PrivateBus& bus, const QString& member,
                           const QVariantList& args = {}) {
  return Call(bus, QStringLiteral("norvane.norvanex.Editor"), member, args);
}

// The reply's first value, or an invalid QVariant for an error reply.
QVariant Value(const QDBusMessage& reply);

}  // namespace refhost::testing

#endif  // REFHOST_EDITOR_TESTS_EDITOR_BUS_H_
