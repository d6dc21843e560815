// The link's direct connection to the editor: used when offered, the bus
// when the offer fails, no way back to the bus once a pass runs on it.
#include <QDBusMetaType>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "feed/pass.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_editor.h"
#include "hostlink/host_error.h"
#include "refhost/editor/tests/editor_bus.h"

namespace refhost::testing {
namespace {

namespace fs = std::filesystem;
using hostlink::testing::PrivateBus;

// Short diagonal moves: every line is written.
std::string Program(int lines) {
  std::string text = "G21 G90 G17\nG0 X0 Y0 Z1\n";
  for (int i = 0; i < lines; ++i) {
    text += "G1 X" + std::to_string(i + 1) + " Y" + std::to_string(i + 1) + " F500\n";
  }
  return text;
}

class DirectLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    ASSERT_TRUE(bus_.Start(&error)) << error.toStdString();
    ASSERT_TRUE(dir_.isValid());
    file_ = dir_.filePath("part.ngc").toStdString();
  }
  QProcess* Editor(int lines) {
    std::ofstream(file_, std::ios::binary) << Program(lines);
    return StartEditor(bus_, {"--select", QStringLiteral("3:%1").arg(lines + 2), QString::fromStdString(file_)});
  }
  // GetRunning of a connector on the private bus, as its transport.
  std::unique_ptr<hostlink::dbus::DbusTransport> Attach() {
    hostlink::dbus::DbusConnector connector(bus_.Address().toStdString(), 5000);
    auto t = connector.GetRunning();
    return std::unique_ptr<hostlink::dbus::DbusTransport>(
        dynamic_cast<hostlink::dbus::DbusTransport*>(t.release()));
  }
  QList<qlonglong> Marks() { return qdbus_cast<QList<qlonglong>>(Value(refhost::testing::Editor(bus_, "MarkedLines"))); }

  PrivateBus bus_;
  QTemporaryDir dir_;
  std::string file_;
};

TEST_F(DirectLinkTest, OfferedAndUsed) {
  ASSERT_NE(Editor(50), nullptr);
  const QString address = Value(refhost::testing::Editor(bus_, "DirectAddress")).toString();
  ASSERT_TRUE(address.startsWith("unix:path=" + bus_.RuntimeDir())) << address.toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(address.mid(10).toUtf8().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  auto transport = Attach();
  ASSERT_TRUE(transport);
  EXPECT_TRUE(transport->Direct());
  hostlink::HostEditor editor;
  editor.Link(std::move(transport));
  feed::RunPass(editor, {"5", "200", "0", "0", false}, [](const std::string&) {});
  EXPECT_EQ(Marks().size(), 50);
}

TEST_F(DirectLinkTest, RefusedOffersFallBackToTheBus) {
  struct Case {
    const char* name;
    QString address;
  } cases[] = {
      {"no such socket", "unix:path=/nonexistent/editor.sock"},
      {"not a D-Bus server", ""},  // a plain socket that accepts and says nothing
      {"another kind of address", "tcp:host=localhost,port=1"},
  };
  // A listener that never speaks D-Bus.
  const QString silent = dir_.filePath("silent.sock");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, silent.toUtf8().constData());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  cases[1].address = "unix:path=" + silent;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QProcess* host = bus_.StartProcess(hostlink::testing::TestHostPath(),
                                       {"--demo", "-e", "direct " + c.address});
    ASSERT_FALSE(bus_.WaitForOwner("norvane.norvanex").isEmpty());
    hostlink::dbus::DbusConnector connector(bus_.Address().toStdString(), 500);
    auto t = connector.GetRunning();
    auto* transport = dynamic_cast<hostlink::dbus::DbusTransport*>(t.get());
    ASSERT_NE(transport, nullptr);
    EXPECT_FALSE(transport->Direct());
    hostlink::HostEditor editor;
    editor.Link(std::move(t));
    EXPECT_EQ(editor.EndSelection(), 20);
    host->kill();
    host->waitForFinished(2000);
    ASSERT_TRUE(bus_.WaitForNoOwner("norvane.norvanex"));
  }
  ::close(fd);
}

TEST_F(DirectLinkTest, SocketOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  QTemporaryDir open;
  ASSERT_TRUE(open.isValid());
  ::chmod(open.path().toUtf8().constData(), 0777);
  const std::string path = open.filePath("other.sock").toStdString();
  int ready[2], said[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(said), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    // Another user's listener (nobody), reachable by everyone.
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strcpy(a.sun_path, path.c_str());
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::chmod(path.c_str(), 0777) != 0 ||
        ::listen(s, 4) != 0) {
      ::_exit(1);
    }
    (void)!::write(ready[1], "x", 1);
    // Tells whether the link said anything (D) or hung up at once (E).
    const int c = ::accept(s, nullptr, nullptr);
    char got = 0;
    const char verdict = c >= 0 && ::read(c, &got, 1) > 0 ? 'D' : 'E';
    (void)!::write(said[1], &verdict, 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  bus_.StartProcess(hostlink::testing::TestHostPath(),
                    {"--demo", "-e", QString::fromStdString("direct unix:path=" + path)});
  ASSERT_FALSE(bus_.WaitForOwner("norvane.norvanex").isEmpty());
  auto transport = Attach();
  char verdict = 0;
  EXPECT_EQ(::read(said[0], &verdict, 1), 1);
  EXPECT_EQ(verdict, 'E') << "the link talked to another user's socket";
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], said[0], said[1]}) ::close(fd);
  ASSERT_TRUE(transport);
  EXPECT_FALSE(transport->Direct());
}

// A wrapper that kills the editor after `n` member calls.
class KillAfter : public hostlink::HostOperations {
 public:
  KillAfter(hostlink::HostOperations& in, QProcess* editor, int n) : in_(in), editor_(editor), left_(n) {}
  std::int32_t SystemType() override { return Tick(), in_.SystemType(); }
  std::int32_t StartSelection() override { return Tick(), in_.StartSelection(); }
  std::int32_t EndSelection() override { return Tick(), in_.EndSelection(); }
  void selectline(std::int32_t l, hostlink::ArgForm f) override { Tick(), in_.selectline(l, f); }
  void markline(std::int32_t l, std::int32_t m, hostlink::ArgForm f) override { Tick(), in_.markline(l, m, f); }
  void step() override { Tick(), in_.step(); }
  double CurrentBlock(std::int32_t i) override { return Tick(), in_.CurrentBlock(i); }
  void add(const std::string& letter, double v) override { Tick(), in_.add(letter, v); }
  void stepDeferred() override { Tick(), in_.stepDeferred(); }
  void selectlineDeferred(std::int32_t l, hostlink::ArgForm f) override { Tick(), in_.selectlineDeferred(l, f); }
  void marklineDeferred(std::int32_t l, std::int32_t m, hostlink::ArgForm f) override {
    Tick(), in_.marklineDeferred(l, m, f);
  }
  void AnnounceReads(const std::int32_t* i, std::size_t n) override { in_.AnnounceReads(i, n); }
  void Settle() override { in_.Settle(); }

 private:
  void Tick() {
    if (--left_ == 0) {
      editor_->kill();
      editor_->waitForFinished(5000);
    }
  }
  hostlink::HostOperations& in_;
  QProcess* editor_;
  int left_;
};

TEST_F(DirectLinkTest, LostMidPassFailsThePassWithoutFallingBack) {
  QProcess* first = Editor(200);
  ASSERT_NE(first, nullptr);
  auto transport = Attach();
  ASSERT_TRUE(transport && transport->Direct());
  hostlink::HostEditor editor;
  editor.Link(std::move(transport));

  // A second editor takes the name as soon as the first is gone.
  ASSERT_TRUE(bus_.InstallService("norvane.norvanex", EditorPath(),
                                  {"--headless", "--select", "3:202", QString::fromStdString(file_)}));
  KillAfter killing(editor, first, 300);
  std::string error;
  try {
    feed::RunPass(killing, {"5", "200", "0", "0", false}, [](const std::string&) {});
  } catch (const hostlink::HostError& e) {
    error = e.what();
  }
  EXPECT_FALSE(error.empty()) << "the pass went on after its host was gone";
  // Nothing was retried elsewhere: the next editor (activated by this
  // call) has no marks, and the link stays with the one that is gone.
  EXPECT_TRUE(Marks().isEmpty());
  EXPECT_FALSE(bus_.WaitForOwner("norvane.norvanex").isEmpty());
  EXPECT_THROW(editor.SystemType(), hostlink::HostError);
}

}  // namespace
}  // namespace refhost::testing
