// The link's direct connection to the editor: used when offered, the bus
// when the offer fails, no way back to the bus once a pass runs on it, and
// nothing on either side that a stalled peer can hold.
#include <QDBusMetaType>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <systemd/sd-bus.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>

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

// A Unix socket listening at `path`.
int ListenUnix(const std::string& path, int backlog) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A non-blocking connection to `path`; -1 when refused or the backlog is full.
int ConnectUnix(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strcpy(addr.sun_path, path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True when the other end of `fd` hung up within `ms`.
bool HungUp(int fd, int ms) {
  pollfd p{fd, POLLRDHUP, 0};
  return ::poll(&p, 1, ms) > 0 && (p.revents & (POLLHUP | POLLRDHUP));
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

// Refused and stalled offers alike leave the calls on the bus, the stalled
// ones within the probe's bound (timeout -1: the bus's own 25 s).
TEST_F(DirectLinkTest, RefusedOffersFallBackToTheBus) {
  struct Case {
    const char* name;
    std::string address;
    int timeoutMs;
  } cases[] = {
      {"no such socket", "unix:path=/nonexistent/editor.sock", 500},
      {"not a D-Bus server", "plain.sock", 500},  // accepts and says nothing
      {"another kind of address", "tcp:host=localhost,port=1", 500},
      {"a listener whose backlog is full", "full.sock", -1},
      {"a peer that authenticates and then says nothing", "mute.sock", -1},
  };
  // The plain, full and mute listeners of cases 1, 3 and 4.
  const int listening[] = {1, 3, 4};
  int listeners[3];
  for (int i = 0; i < 3; ++i) {
    std::string& address = cases[listening[i]].address;
    const std::string path = dir_.filePath(QString::fromStdString(address)).toStdString();
    address = "unix:path=" + path;
    listeners[i] = ListenUnix(path, i == 1 ? 0 : 4);
    ASSERT_GE(listeners[i], 0);
  }
  std::vector<int> queued;  // the full backlog
  for (int fd; queued.size() < 64 && (fd = ConnectUnix(cases[3].address.substr(10))) >= 0;) queued.push_back(fd);
  std::atomic<bool> stop{false};
  std::thread mute([&, listener = listeners[2]] {
    pollfd in{listener, POLLIN, 0};
    while (!stop && ::poll(&in, 1, 100) == 0) {
    }
    const int fd = stop ? -1 : ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    sd_bus* bus = nullptr;
    sd_id128_t id{};
    sd_id128_randomize(&id);
    sd_bus_new(&bus);
    sd_bus_set_fd(bus, fd, fd);
    sd_bus_set_server(bus, 1, id);
    sd_bus_start(bus);
    for (int r; !stop && (r = sd_bus_is_ready(bus)) == 0;) {
      if ((r = sd_bus_process(bus, nullptr)) < 0) break;
      if (r == 0) sd_bus_wait(bus, 100000);
    }
    while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sd_bus_close_unref(bus);
  });

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QProcess* host = bus_.StartProcess(hostlink::testing::TestHostPath(),
                                       {"--demo", "-e", QString::fromStdString("direct " + c.address)});
    ASSERT_FALSE(bus_.WaitForOwner("norvane.norvanex").isEmpty());
    hostlink::dbus::DbusConnector connector(bus_.Address().toStdString(), c.timeoutMs);
    const auto start = std::chrono::steady_clock::now();
    auto attach = std::async(std::launch::async, [&] { return connector.GetRunning(); });
    const bool ended = attach.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - start;
    if (!ended && listeners[1] >= 0) {
      ::close(listeners[1]);  // releases an attach stuck in connect()
      listeners[1] = -1;
    }
    auto t = attach.get();
    EXPECT_TRUE(ended) << "the attach waited without a bound";
    EXPECT_LT(took, std::chrono::milliseconds(7000));
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
  stop = true;
  mute.join();
  for (int fd : queued) ::close(fd);
  for (int fd : listeners) ::close(fd);
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

// A host that answered a deferred call with an error and then closed: the
// next post fails locally, and the host's own error is what is reported.
TEST_F(DirectLinkTest, FailureBeforeTheHostClosedIsTheOneReported) {
  QProcess* host = Editor(20);
  ASSERT_NE(host, nullptr);
  auto transport = Attach();
  ASSERT_TRUE(transport && transport->Direct());
  hostlink::HostEditor editor;
  editor.Link(std::move(transport));
  editor.marklineDeferred(999, 1, hostlink::ArgForm::ByValue);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // answered by now
  host->kill();
  ASSERT_TRUE(host->waitForFinished(5000));
  std::string error;
  try {
    editor.stepDeferred();
    editor.CurrentBlock(19);
  } catch (const hostlink::HostError& e) {
    error = e.what();
  }
  EXPECT_EQ(error.rfind("markline: line 999", 0), 0u) << error;
}

// A direct client that sends calls and never reads the answers: the editor
// still ends after Quit or SIGTERM, and drops the client once its answers
// outgrow the write queue's bound.
TEST_F(DirectLinkTest, ClientThatNeverReadsHoldsNothing) {
  struct Case {
    const char* name;
    int calls;
    int signal;  // 0: Quit over the bus; -1: no end, the client is dropped
  } cases[] = {
      {"Quit", 40, 0},
      {"SIGTERM", 40, SIGTERM},
      {"answers beyond the write queue's bound", 200, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QProcess* host = Editor(20000);  // about 400 KB a Text()
    ASSERT_NE(host, nullptr);
    const QString address = Value(refhost::testing::Editor(bus_, "DirectAddress")).toString();
    sd_bus* client = nullptr;
    ASSERT_GE(sd_bus_new(&client), 0);
    ASSERT_GE(sd_bus_set_address(client, address.toUtf8().constData()), 0);
    ASSERT_GE(sd_bus_start(client), 0);
    for (int i = 0; i < c.calls; ++i) {
      ASSERT_GE(sd_bus_call_method_async(client, nullptr, nullptr, "/norvanex", "norvane.norvanex.Editor", "Text",
                                         [](sd_bus_message*, void*, sd_bus_error*) { return 0; }, nullptr, ""),
                0);
    }
    sd_bus_flush(client);  // sends everything, reads nothing
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (c.signal < 0) {
      EXPECT_TRUE(HungUp(sd_bus_get_fd(client), 5000));
      EXPECT_EQ(Value(refhost::testing::Editor(bus_, "LineCount")).toLongLong(), 20002);
      host->kill();
    } else if (c.signal == 0) {
      refhost::testing::Editor(bus_, "Quit");
    } else {
      ::kill(pid_t(host->processId()), c.signal);
    }
    const bool ended = host->waitForFinished(5000);
    sd_bus_close_unref(client);  // lets an editor stuck in its flush go
    host->waitForFinished(5000);
    EXPECT_TRUE(ended) << "the editor stayed in its exit flush";
    ASSERT_TRUE(bus_.WaitForNoOwner("norvane.norvanex"));
  }
}

// Connections that never authenticate, with few descriptors: the listener
// does not spin, saving still works, and the silent connections are closed.
TEST_F(DirectLinkTest, ListenerHoldsNoMoreThanItsLimits) {
  struct Case {
    const char* name;
    int descriptors;
    bool saves;  // while the connections are held
  } cases[] = {
      {"more connections than it serves", 64, true},
      {"out of descriptors", 20, false},
  };
  std::ofstream(file_, std::ios::binary) << Program(20);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QProcess* host = bus_.StartProcess(
        "/bin/sh", {"-c", QStringLiteral("ulimit -n %1 && exec \"$0\" --headless \"$1\"").arg(c.descriptors),
                    EditorPath(), QString::fromStdString(file_)});
    ASSERT_FALSE(bus_.WaitForOwner("norvane.norvanex").isEmpty());
    const std::string path =
        Value(refhost::testing::Editor(bus_, "DirectAddress")).toString().mid(10).toStdString();
    ASSERT_FALSE(path.empty());
    std::vector<int> silent;
    for (int i = 0; i < 100; ++i) {
      const int fd = ConnectUnix(path);
      if (fd >= 0) silent.push_back(fd);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const auto cpu = [pid = host->processId()] {
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string field;
      long ticks = 0;
      for (int i = 1; i <= 15 && stat >> field; ++i) {
        if (i >= 14) ticks += std::stol(field);  // utime, stime
      }
      return double(ticks) / double(::sysconf(_SC_CLK_TCK));
    };
    const double before = cpu();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(cpu() - before, 0.15) << "the listener spins";
    const auto save = [&] {
      const QDBusMessage saved = refhost::testing::Editor(bus_, "SaveAs", {dir_.filePath("saved.ngc")});
      EXPECT_EQ(saved.type(), QDBusMessage::ReplyMessage) << saved.errorMessage().toStdString();
    };
    if (c.saves) save();
    std::size_t open = 0;
    for (int fd : silent) {
      open += !HungUp(fd, 7000);
      ::close(fd);
    }
    EXPECT_EQ(open, 0u) << "connections that never authenticated were kept";
    save();
    host->kill();
    host->waitForFinished(2000);
    ASSERT_TRUE(bus_.WaitForNoOwner("norvane.norvanex"));
  }
}

}  // namespace
}  // namespace refhost::testing
