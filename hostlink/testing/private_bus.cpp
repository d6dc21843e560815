#include "hostlink/testing/private_bus.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <QUuid>

#include <csignal>
#include <sys/prctl.h>

namespace hostlink::testing {
namespace {

// Children die with the test process, even when it crashes.
void DieWithParent() { ::prctl(PR_SET_PDEATHSIG, SIGKILL); }

void Stop(QProcess* p) {
  if (p->state() == QProcess::NotRunning) return;
  p->terminate();
  if (!p->waitForFinished(2000)) {
    p->kill();
    p->waitForFinished(2000);
  }
}

}  // namespace

QString TestHostPath() { return QStringLiteral(BREVAND_TESTHOST_PATH); }

PrivateBus::PrivateBus()
    : connectionName_("private-bus-" + QUuid::createUuid().toString(QUuid::WithoutBraces)) {}

PrivateBus::~PrivateBus() { Stop(); }

QString PrivateBus::ServiceDir() const { return dir_.filePath("services"); }
QString PrivateBus::RuntimeDir() const { return dir_.filePath("runtime"); }

bool PrivateBus::Start(QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    Stop();
    return false;
  };
  if (!dir_.isValid()) return fail("no temporary folder");
  QDir(dir_.path()).mkpath("services");
  QDir(dir_.path()).mkpath("runtime");
  QFile::setPermissions(RuntimeDir(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  const QString config = dir_.filePath("bus.conf");
  QFile f(config);
  if (!f.open(QIODevice::WriteOnly)) return fail("cannot write " + config);
  f.write(QStringLiteral(
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig>\n"
              "  <type>session</type>\n"
              "  <listen>unix:path=%1</listen>\n"
              "  <auth>EXTERNAL</auth>\n"
              "  <servicedir>%2</servicedir>\n"
              "  <policy context=\"default\">\n"
              "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
              "    <allow eavesdrop=\"true\"/>\n"
              "    <allow own=\"*\"/>\n"
              "  </policy>\n"
              "</busconfig>\n")
              .arg(dir_.filePath("bus"), ServiceDir())
              .toUtf8());
  f.close();

  daemon_ = std::make_unique<QProcess>();
  daemon_->setChildProcessModifier(DieWithParent);
  daemon_->setProcessChannelMode(QProcess::SeparateChannels);
  QProcessEnvironment daemon_env = QProcessEnvironment::systemEnvironment();
  daemon_env.insert("XDG_STATE_HOME", dir_.filePath("state"));  // for the services it starts
  daemon_->setProcessEnvironment(daemon_env);
  daemon_->start("dbus-daemon", {"--nofork", "--nopidfile", "--print-address=1",
                                 "--config-file=" + config});
  if (!daemon_->waitForStarted(5000)) return fail("cannot start dbus-daemon");
  QDeadlineTimer deadline(5000);
  QByteArray out;
  while (!out.contains('\n') && !deadline.hasExpired() &&
         daemon_->state() == QProcess::Running) {
    daemon_->waitForReadyRead(100);
    out += daemon_->readAllStandardOutput();
  }
  if (!out.contains('\n')) {
    return fail("dbus-daemon printed no address: " + QString::fromUtf8(daemon_->readAllStandardError()));
  }
  address_ = QString::fromUtf8(out.left(out.indexOf('\n'))).trimmed();
  return true;
}

bool PrivateBus::Running() const {
  return daemon_ && daemon_->state() == QProcess::Running;
}

QDBusConnection PrivateBus::Connection() {
  QDBusConnection c(connectionName_);
  if (c.isConnected()) return c;
  return QDBusConnection::connectToBus(address_, connectionName_);
}

bool PrivateBus::InstallService(const QString& name, const QString& program,
                                const QStringList& args) {
  QFile f(QDir(ServiceDir()).filePath(name + ".service"));
  if (!f.open(QIODevice::WriteOnly)) return false;
  QString exec = program;
  for (const QString& a : args) exec += " \"" + QString(a).replace('"', "\\\"") + "\"";
  f.write(QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2\n").arg(name, exec).toUtf8());
  f.close();
  QDBusMessage reload = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ReloadConfig");
  return Connection().call(reload, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

QProcessEnvironment PrivateBus::Environment() const {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("DBUS_SESSION_BUS_ADDRESS", address_);
  // A runtime directory of the session's own, as a login gives one.
  env.insert("XDG_RUNTIME_DIR", RuntimeDir());
  env.remove("DBUS_STARTER_ADDRESS");
  env.remove("DBUS_STARTER_BUS_TYPE");
  // State the programs keep (the editor's recovery files) stays in here.
  env.insert("XDG_STATE_HOME", dir_.filePath("state"));
  return env;
}

QProcess* PrivateBus::StartProcess(const QString& program, const QStringList& args) {
  auto p = std::make_unique<QProcess>();
  p->setChildProcessModifier(DieWithParent);
  p->setProcessEnvironment(Environment());
  p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p->start(program, args);
  p->waitForStarted(5000);
  children_.push_back(std::move(p));
  return children_.back().get();
}

QString PrivateBus::NameOwner(const QString& name) {
  QDBusMessage m = QDBusMessage::createMethodCall(
      "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner");
  m << name;
  QDBusMessage r = Connection().call(m, QDBus::Block, 2000);
  if (r.type() != QDBusMessage::ReplyMessage || r.arguments().isEmpty()) return {};
  return r.arguments().first().toString();
}

QString PrivateBus::WaitForOwner(const QString& name, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    QString owner = NameOwner(name);
    if (!owner.isEmpty() || deadline.hasExpired()) return owner;
    QThread::msleep(20);
  }
}

bool PrivateBus::WaitForNoOwner(const QString& name, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    if (NameOwner(name).isEmpty()) return true;
    if (deadline.hasExpired()) return false;
    QThread::msleep(20);
  }
}

void PrivateBus::Stop() {
  for (auto& child : children_) hostlink::testing::Stop(child.get());
  children_.clear();
  if (QDBusConnection(connectionName_).isConnected()) {
    QDBusConnection::disconnectFromBus(connectionName_);
  }
  if (daemon_) {
    // Activated hosts lose their bus and end on their own.
    hostlink::testing::Stop(daemon_.get());
    daemon_.reset();
  }
}

}  // namespace hostlink::testing
