#include "refhost/editor/tests/editor_bus.h"

#include <QDBusConnection>

namespace refhost::testing {

QProcess* StartEditor(hostlink::testing::PrivateBus& bus, const QStringList& args) {
  QProcess* editor = bus.StartProcess(EditorPath(), QStringList{QStringLiteral("--headless")} + args);
  if (editor->state() != QProcess::Running) return nullptr;
  if (bus.WaitForOwner(QStringLiteral("norvane.norvanex")).isEmpty()) return nullptr;
  return editor;
}

QDBusMessage Call(hostlink::testing::PrivateBus& bus, const QString& interface, const QString& member,
                  const QVariantList& args) {
  QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("norvane.norvanex"),
                                                     QStringLiteral("/norvanex"), interface, member);
  call.setArguments(args);
  return bus.Connection().call(call, QDBus::Block, 5000);
}

QVariant Value(const QDBusMessage& reply) {
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return QVariant();
  return reply.arguments().first();
}

}  // namespace refhost::testing
