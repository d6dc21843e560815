// The editor on the session bus: the host automation members (interface
// norvane.norvanex) and the editor's own scripting calls (interface
// norvane.norvanex.Editor), both at /norvanex.
#ifndef REFHOST_EDITOR_HOST_SERVICE_H_
#define REFHOST_EDITOR_HOST_SERVICE_H_

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include "refhost/editor/session.h"

namespace refhost {

inline constexpr char kBusName[] = "norvane.norvanex";
inline constexpr char kObjectPath[] = "/norvanex";
inline constexpr char kHostInterface[] = "norvane.norvanex";
inline constexpr char kEditorInterface[] = "norvane.norvanex.Editor";
// Error names: a bad member call, and a save that failed.
inline constexpr char kBadCallError[] = "norvane.norvanex.Error.BadCall";
inline constexpr char kSaveError[] = "norvane.norvanex.Error.SaveFailed";

class HostService : public QDBusVirtualObject {
  Q_OBJECT

 public:
  // `idle_ms`: how long the bus stays quiet before a pass's undo group closes
  // (long enough that a pass slowed by a busy machine stays one step).
  explicit HostService(EditorSession& session, int idle_ms = 2000, QObject* parent = nullptr);

  // Registers the object, then claims the bus name. False with `error` set
  // when the name is owned already or the bus refuses.
  bool Publish(QDBusConnection connection, QString& error);

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 signals:
  // Quit() was called over the bus (after its reply went out).
  void quitRequested();

 private:
  QDBusMessage HandleHost(const QDBusMessage& message);
  QDBusMessage HandleEditor(const QDBusMessage& message);
  QDBusMessage HandleProperties(const QDBusMessage& message);

  EditorSession& session_;
  QTimer idle_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_HOST_SERVICE_H_
