// The editor on the session bus: the host automation members (interface
// norvane.norvanex) and the editor's own scripting calls (interface
// norvane.norvanex.Editor), both at /norvanex. Served with sd-bus from the
// Qt event loop.
#ifndef REFHOST_EDITOR_HOST_SERVICE_H_
#define REFHOST_EDITOR_HOST_SERVICE_H_

#include <systemd/sd-bus.h>

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>
#include <string>

#include "refhost/editor/direct_listener.h"
#include "refhost/editor/sd_bus_pump.h"
#include "refhost/editor/session.h"

namespace refhost {

inline constexpr char kBusName[] = "norvane.norvanex";
inline constexpr char kObjectPath[] = "/norvanex";
inline constexpr char kHostInterface[] = "norvane.norvanex";
inline constexpr char kEditorInterface[] = "norvane.norvanex.Editor";
// Error names: a bad member call, and a save that failed.
inline constexpr char kBadCallError[] = "norvane.norvanex.Error.BadCall";
inline constexpr char kSaveError[] = "norvane.norvanex.Error.SaveFailed";

class HostService : public QObject {
  Q_OBJECT

 public:
  // `idle_ms`: how long the bus stays quiet before a pass's undo group closes
  // (long enough that a pass slowed by a busy machine stays one step).
  explicit HostService(EditorSession& session, int idle_ms = 2000, QObject* parent = nullptr);
  ~HostService() override;

  // Connects to the session bus (the bus that activated the editor, when
  // one did), registers the object, then claims the bus name. False with
  // `error` set when there is no bus, the name is owned already or the bus
  // refuses.
  bool Publish(QString& error);
  // False once the bus connection has closed.
  bool Connected() const;
  // The private socket's address, which the Editor member DirectAddress
  // names; empty when the editor offers none.
  std::string DirectAddress() const;

  // The interfaces and members, as Introspect reports them.
  static QString Introspection();

 signals:
  // Quit() was called over the bus (after its reply went out).
  void quitRequested();
  // The bus connection closed.
  void busLost();

 private:
  static int OnMessage(sd_bus_message* message, void* self, sd_bus_error* error);
  int Handle(sd_bus_message* message);
  int HandleHost(sd_bus_message* message, const char* member);
  int HandleEditor(sd_bus_message* message, const char* member);
  int HandleProperties(sd_bus_message* message, const char* member);
  void Touch();  // a pass member arrived: the undo group stays open
  void IdleCheck();

  EditorSession& session_;
  std::unique_ptr<SdBusPump> pump_;
  sd_bus_slot* object_ = nullptr;
  std::unique_ptr<DirectListener> direct_;
  QTimer idle_;
  int idle_ms_;
  std::chrono::steady_clock::time_point last_call_;
};

}  // namespace refhost

#endif  // REFHOST_EDITOR_HOST_SERVICE_H_
