// A private D-Bus message bus for tests: its own dbus-daemon, configuration
// and service directory, gone when the object is.
#ifndef HOSTLINK_TESTING_PRIVATE_BUS_H_
#define HOSTLINK_TESTING_PRIVATE_BUS_H_

#include <QDBusConnection>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace hostlink::testing {

// Needs a QCoreApplication. Every wait is bounded; nothing outlives the
// object (the daemon and every process started through it are killed and
// reaped, and they die with the test process should it crash).
class PrivateBus {
 public:
  PrivateBus();
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  // Starts the daemon. Returns false and fills `error` when it cannot.
  bool Start(QString* error = nullptr);
  bool Running() const;

  // The bus address, e.g. "unix:path=/tmp/.../bus,guid=...".
  QString Address() const { return address_; }
  // A connection of this process to the bus (opened on first use).
  QDBusConnection Connection();
  // The folder the daemon looks for .service files in.
  QString ServiceDir() const;
  // The children's $XDG_RUNTIME_DIR (mode 0700).
  QString RuntimeDir() const;

  // Makes `name` activatable: writes `name`.service running `program` with
  // `args`, and has the daemon reread its configuration.
  bool InstallService(const QString& name, const QString& program,
                      const QStringList& args = {});

  // Environment for a child that should use this bus as its session bus.
  QProcessEnvironment Environment() const;

  // Starts `program` with this bus as its session bus. The process is owned
  // by the bus object and killed at teardown.
  QProcess* StartProcess(const QString& program, const QStringList& args);

  // Waits (at most `timeoutMs`) until `name` has an owner; returns it, or an
  // empty string.
  QString WaitForOwner(const QString& name, int timeoutMs = 5000);
  // Waits (at most `timeoutMs`) until `name` has no owner.
  bool WaitForNoOwner(const QString& name, int timeoutMs = 5000);

  // Stops every process started here and the daemon.
  void Stop();

 private:
  QString NameOwner(const QString& name);

  QTemporaryDir dir_;
  std::unique_ptr<QProcess> daemon_;
  std::vector<std::unique_ptr<QProcess>> children_;
  QString address_;
  QString connectionName_;
};

// The test host program built beside this fixture.
QString TestHostPath();

}  // namespace hostlink::testing

#endif  // HOSTLINK_TESTING_PRIVATE_BUS_H_
