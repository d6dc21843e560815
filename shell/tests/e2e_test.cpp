// The real brevand under X with a test host on a private bus: fields typed
// and Adjust clicked with xdotool, the host's calls checked.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <signal.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include "hostlink/testing/private_bus.h"
#include "hostlink/testing/xdo.h"

namespace {

using hostlink::testing::ClickAt;
using hostlink::testing::WaitForWindow;
using hostlink::testing::XDo;

QStringList ReadLines(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const QString reason = hostlink::testing::XDoUnavailableReason(); !reason.isEmpty()) {
      GTEST_SKIP() << reason.toStdString();
    }
    QString error;
    ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
    ASSERT_TRUE(runtime.isValid());
  }

  void TearDown() override {
    if (brevand.state() != QProcess::NotRunning) {
      brevand.kill();
      brevand.waitForFinished(3000);
    }
  }

  void StartBrevand() {
    QProcessEnvironment env = bus.Environment();
    env.insert("XDG_RUNTIME_DIR", runtime.path());
    env.remove("QT_QPA_PLATFORM");
    brevand.setProcessEnvironment(env);
    brevand.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    brevand.start(BREVAND_PATH, {});
    ASSERT_TRUE(brevand.waitForStarted(5000));
  }

  // A host serving `lines` short diagonal moves, and brevand with the line
  // fields filled in so that Adjust writes every line; the window's id.
  QString StartForLongPass(int lines, QProcess** host = nullptr) {
    record = runtime.filePath("calls.txt");
    QProcess* h = bus.StartProcess(hostlink::testing::TestHostPath(),
                                   {"--address", bus.Address(), "--record", record, "-e",
                                    QString("diagonal %1 0.1 500").arg(lines)});
    if (host != nullptr) *host = h;
    if (bus.WaitForOwner("norvane.norvanex").isEmpty()) return {};
    StartBrevand();
    const QString window = WaitForWindow(brevand.processId(), "Norvane Brevand", 10000);
    if (window.isEmpty()) return {};
    XDo({"windowfocus", "--sync", window});
    ClickAt(window, 8 + 160 + 28, 43 + 24 + 10);
    XDo({"type", "--delay", "30", "1"});
    ClickAt(window, 8 + 351 + 24, 43 + 24 + 10);
    XDo({"type", "--delay", "30", "200"});
    XDo({"mousemove", "--window", window, "2", "2"});
    return window;
  }

  // Clicks Adjust; false when the pass does not start within 10 s.
  bool StartPass(const QString& window) {
    ClickAt(window, 52 + 37, 201 + 12);
    QDeadlineTimer started(10000);
    while (!started.hasExpired() && !ReadLines(record).contains("markline 0 0")) QThread::msleep(50);
    return ReadLines(record).contains("markline 0 0");
  }

  // Input the pass must drop: Adjust clicked twice, Space and Enter on it.
  void InputDuringThePass(const QString& window) {
    ClickAt(window, 52 + 37, 201 + 12);
    ClickAt(window, 52 + 37, 201 + 12);
    XDo({"key", "space"});
    XDo({"key", "Return"});
  }

  // Waits (up to 2 min) for `steps` steps, then moves the pointer, which
  // would hand out input held back, and waits again.
  QStringList CallsAfterThePass(const QString& window, int steps) {
    QDeadlineTimer ended(120000);
    while (!ended.hasExpired() && ReadLines(record).count("step") < steps) QThread::msleep(200);
    QThread::msleep(500);
    XDo({"mousemove", "--window", window, "5", "5"});
    XDo({"mousemove", "--window", window, "2", "2"});
    QThread::msleep(1500);
    return ReadLines(record);
  }

  hostlink::testing::PrivateBus bus;
  QTemporaryDir runtime;
  QProcess brevand;
  QString record;
};

TEST_F(EndToEnd, TypedFieldsAndAdjustReachTheHost) {
  const QString record = runtime.filePath("calls.txt");
  bus.StartProcess(hostlink::testing::TestHostPath(),
                   {"--address", bus.Address(), "--record", record, "-e", "diagonal 3 0.1 500",
                    "-e", "line 1 0 0 0 100 0 0 500"});
  ASSERT_FALSE(bus.WaitForOwner("norvane.norvanex").isEmpty());

  StartBrevand();
  const QString window = WaitForWindow(brevand.processId(), "Norvane Brevand", 10000);
  ASSERT_FALSE(window.isEmpty()) << "brevand showed no window";
  XDo({"windowfocus", "--sync", window});

  // The marker file is held with a shared lock while the program runs.
  const QByteArray marker = runtime.filePath("NorvaneBrevandMutex").toLocal8Bit();
  const int fd = ::open(marker.constData(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0) << "no NorvaneBrevandMutex in the runtime directory";
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);

  // edt1 (line length limit) and edt3 (line feedrate) in "2. Lines" at 8,43;
  // typed in lower case, as a person might.
  ClickAt(window, 8 + 160 + 28, 43 + 24 + 10);
  XDo({"type", "--delay", "30", "sqrt(0.25)"});
  ClickAt(window, 8 + 351 + 24, 43 + 24 + 10);
  XDo({"type", "--delay", "30", "200"});
  ClickAt(window, 52 + 37, 201 + 12);  // Adjust

  // Line 1 opens the run; lines 2 and 3 get the feed in force back before
  // their own; the long line 4 closes the run with the feed in force.
  const QStringList expected = {"markline 0 0", "add F 200", "markline 1 1",
                                "add F 500",    "markline 2 1", "add F 200", "markline 2 1",
                                "add F 500",    "markline 3 1", "add F 200", "markline 3 1",
                                "add F 500",    "markline 4 1"};
  QStringList writes;
  QDeadlineTimer deadline(10000);
  while (!deadline.hasExpired()) {
    writes.clear();
    for (const QString& line : ReadLines(record)) {
      if (line.startsWith("add ") || line.startsWith("markline ")) writes << line;
    }
    if (writes.size() >= expected.size()) break;
    QThread::msleep(100);
  }
  EXPECT_EQ(writes.join(" | ").toStdString(), expected.join(" | ").toStdString());
  const QStringList calls = ReadLines(record);
  ASSERT_FALSE(calls.isEmpty());
  EXPECT_TRUE(calls.first() == "SystemType" || calls.first() == "get SystemType")
      << calls.first().toStdString();

  // Escape closes the window and the program ends normally.
  XDo({"windowfocus", "--sync", window});
  XDo({"key", "Escape"});
  ASSERT_TRUE(brevand.waitForFinished(10000)) << "brevand did not end after Escape";
  EXPECT_EQ(brevand.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(brevand.exitCode(), 0);
}

TEST_F(EndToEnd, SecondStartIsRejectedAndTheFirstStays) {
  const QString record = runtime.filePath("calls.txt");
  bus.StartProcess(hostlink::testing::TestHostPath(),
                   {"--address", bus.Address(), "--record", record, "--demo"});
  ASSERT_FALSE(bus.WaitForOwner("norvane.norvanex").isEmpty());

  StartBrevand();
  const QString first = WaitForWindow(brevand.processId(), "Norvane Brevand", 10000);
  ASSERT_FALSE(first.isEmpty()) << "the first copy showed no window";

  // A second start of the same program file: only the message box, then exit 0.
  QProcess second;
  QProcessEnvironment env = bus.Environment();
  env.insert("XDG_RUNTIME_DIR", runtime.path());
  env.remove("QT_QPA_PLATFORM");
  second.setProcessEnvironment(env);
  second.start(BREVAND_PATH, {"one", "two"});
  ASSERT_TRUE(second.waitForStarted(5000));
  const QString box = WaitForWindow(second.processId(), "Pellmark", 10000);
  ASSERT_FALSE(box.isEmpty()) << "no \"Pellmark Already Running\" box";
  EXPECT_TRUE(XDo({"search", "--all", "--onlyvisible", "--pid", QString::number(second.processId()),
                   "--name", "^Norvane Brevand$"})
                  .isEmpty())
      << "the rejected copy showed its own window";
  XDo({"windowfocus", "--sync", box});
  XDo({"key", "Return"});
  ASSERT_TRUE(second.waitForFinished(10000)) << "the rejected copy did not end";
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);

  // The first copy runs on, and the rejected one never called the host.
  EXPECT_EQ(brevand.state(), QProcess::Running);
  EXPECT_FALSE(WaitForWindow(brevand.processId(), "Norvane Brevand", 2000).isEmpty());
  EXPECT_TRUE(ReadLines(record).isEmpty()) << ReadLines(record).join(", ").toStdString();
}

// The pixels of `window` as xwd captures them (32 bits a pixel), with its
// size; empty when xwd fails.
struct Shot {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
};
Shot Capture(const QString& window) {
  QProcess xwd;
  xwd.start("xwd", {"-silent", "-id", window});
  Shot shot;
  if (!xwd.waitForFinished(5000) || xwd.exitCode() != 0) return shot;
  const QByteArray data = xwd.readAllStandardOutput();
  auto u32 = [&](int at) {
    if (at + 4 > data.size()) return 0u;
    const auto* b = reinterpret_cast<const unsigned char*>(data.constData() + at);
    return (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | unsigned(b[3]);
  };
  const unsigned header = u32(0), width = u32(16), height = u32(20), bpp = u32(44), stride = u32(48),
                 colors = u32(76);
  const qsizetype start = qsizetype(header) + qsizetype(colors) * 12;
  if (bpp != 32 || data.size() < start + qsizetype(stride) * height) return shot;
  shot.width = int(width);
  shot.height = int(height);
  for (unsigned y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data.constData() + start + y * stride);
    shot.pixels.insert(shot.pixels.end(), row, row + width);
  }
  return shot;
}

// Share of the pixels that differ between two captures of one window.
double Difference(const Shot& a, const Shot& b) {
  if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) return 1.0;
  std::size_t differ = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) differ += a.pixels[i] != b.pixels[i];
  return double(differ) / double(a.pixels.size());
}

// A long pass: the window, unmapped and mapped again mid-pass, paints itself
// again; Adjust clicked and pressed meanwhile starts no second pass, during
// or after it.
TEST_F(EndToEnd, LongPassKeepsPaintingAndDropsInput) {
  const QString window = StartForLongPass(6000);
  ASSERT_FALSE(window.isEmpty()) << "no host or no window";
  QThread::msleep(300);
  const Shot before = Capture(window);
  ASSERT_FALSE(before.pixels.empty()) << "xwd gave no picture";
  ASSERT_TRUE(StartPass(window)) << "the pass did not start";

  // Mid-pass: the window loses its picture and must paint it again.
  XDo({"windowunmap", "--sync", window});
  XDo({"windowmap", "--sync", window});
  InputDuringThePass(window);
  XDo({"mousemove", "--window", window, "2", "2"});
  QThread::msleep(600);
  const Shot during = Capture(window);
  const int stepsSoFar = int(ReadLines(record).count("step"));
  EXPECT_LT(stepsSoFar, 6000) << "the pass ended before the picture was taken; make it longer";
  EXPECT_LT(Difference(before, during), 0.05) << "the window did not paint itself mid-pass";

  const QStringList calls = CallsAfterThePass(window, 6000);
  EXPECT_EQ(calls.count("step"), 6000);
  EXPECT_EQ(calls.count("markline 0 0"), 1) << "input during the pass started another one";
}

// A host stopped in the middle of a call: the window still paints itself,
// input meanwhile is dropped, and the pass goes on when the host does.
TEST_F(EndToEnd, StalledCallKeepsPaintingAndDropsInput) {
  QProcess* host = nullptr;
  const QString window = StartForLongPass(3000, &host);
  ASSERT_FALSE(window.isEmpty()) << "no host or no window";
  QThread::msleep(300);
  const Shot before = Capture(window);
  ASSERT_FALSE(before.pixels.empty()) << "xwd gave no picture";
  ASSERT_TRUE(StartPass(window)) << "the pass did not start";

  ASSERT_EQ(::kill(pid_t(host->processId()), SIGSTOP), 0);
  QThread::msleep(300);
  const int stepsStopped = int(ReadLines(record).count("step"));
  XDo({"windowunmap", "--sync", window});
  XDo({"windowmap", "--sync", window});
  InputDuringThePass(window);
  XDo({"mousemove", "--window", window, "2", "2"});
  QThread::msleep(800);
  const Shot during = Capture(window);
  ::kill(pid_t(host->processId()), SIGCONT);
  EXPECT_LT(stepsStopped, 3000) << "the pass ended before the host was stopped; make it longer";
  EXPECT_LT(Difference(before, during), 0.05) << "the window did not paint itself while the host stood";

  const QStringList calls = CallsAfterThePass(window, 3000);
  EXPECT_EQ(calls.count("step"), 3000);
  EXPECT_EQ(calls.count("markline 0 0"), 1) << "input during the stall started another pass";
}

// A close request during a pass, from the window manager or the end of the
// session (SIGTERM), ends the program once the pass has ended, not before
// and not never.
TEST_F(EndToEnd, CloseRequestDuringAPassEndsTheProgramAfterIt) {
  for (const char* request : {"window manager", "SIGTERM"}) {
    SCOPED_TRACE(request);
    const QString window = StartForLongPass(3000);
    ASSERT_FALSE(window.isEmpty()) << "no host or no window";
    ASSERT_TRUE(StartPass(window)) << "the pass did not start";
    if (request[0] == 'S') {
      ASSERT_EQ(::kill(pid_t(brevand.processId()), SIGTERM), 0);
    } else {
      ASSERT_TRUE(hostlink::testing::RequestClose(window));
    }
    QThread::msleep(300);
    EXPECT_EQ(brevand.state(), QProcess::Running) << "the close request cut the pass short";
    EXPECT_LT(int(ReadLines(record).count("step")), 3000) << "the pass ended before the request; make it longer";

    ASSERT_TRUE(brevand.waitForFinished(120000)) << "brevand did not end after the pass";
    EXPECT_EQ(brevand.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(brevand.exitCode(), 0);
    QThread::msleep(300);
    const QStringList calls = ReadLines(record);
    EXPECT_EQ(calls.count("step"), 3000) << "the pass did not run to its end";
    EXPECT_EQ(calls.count("markline 0 0"), 1);
    bus.Stop();
    QString error;
    ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
  }
}

}  // namespace
