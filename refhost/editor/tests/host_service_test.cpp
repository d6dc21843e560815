// The editor program's bus interface, over a private bus.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "refhost/editor/tests/editor_bus.h"

namespace refhost::testing {
namespace {

namespace fs = std::filesystem;
using hostlink::testing::PrivateBus;

const char kProgram[] =
    "%\n"
    "(bus test)\n"
    "G21 G90 G17\n"
    "G0 X0 Y0 Z5\n"
    "G1 Z-1 F100\n"
    "G1 X10 Y10 F200\n"
    "G1 X12 Y12\n"
    "G2 X14 Y12 R1\n"
    "G0 Z5\n"
    "M30\n"
    "%\n";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Alive and not a zombie waiting for a parent to reap it.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_text, name, state;
  if (!(stat >> pid_text >> name >> state)) return false;
  return state != "Z" && state != "X";
}

class EditorBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    ASSERT_TRUE(bus_.Start(&error)) << error.toStdString();
    char pattern[] = "/tmp/editor-bus-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "part.ngc";
    std::ofstream(file_, std::ios::binary) << kProgram;
  }
  void TearDown() override {
    bus_.Stop();
    fs::remove_all(dir_);
  }
  QProcess* Start(QStringList extra = {}) {
    QProcess* editor = StartEditor(bus_, extra << QString::fromStdString(file_.string()));
    EXPECT_NE(editor, nullptr) << "the editor did not come up on the bus";
    return editor;
  }
  QString Text() { return Value(Editor(bus_, "Text")).toString(); }
  QList<qlonglong> Marks() {
    return qdbus_cast<QList<qlonglong>>(Value(Editor(bus_, "MarkedLines")));
  }
  QString LineOf(int line) { return Text().split('\n').value(line - 1); }
  void FeedWrite(int line, double value) {
    for (const QDBusMessage& r : {Host(bus_, "selectline", {line}), Host(bus_, "add", {QString("F"), value}),
                                  Host(bus_, "markline", {line, 1}), Host(bus_, "selectline", {line + 1})}) {
      ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    }
  }

  PrivateBus bus_;
  fs::path dir_, file_;
};

TEST_F(EditorBusTest, QueriesFollowSelectionAndSystemType) {
  ASSERT_TRUE(Start({"--select", "3:8"}));
  EXPECT_EQ(Value(Host(bus_, "SystemType")).toInt(), 301);
  EXPECT_EQ(Value(Host(bus_, "StartSelection")).toInt(), 3);
  EXPECT_EQ(Value(Host(bus_, "EndSelection")).toInt(), 8);

  ASSERT_EQ(Editor(bus_, "SetSelection", {9, 4}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(Value(Host(bus_, "StartSelection")).toInt(), 4);
  EXPECT_EQ(Value(Host(bus_, "EndSelection")).toInt(), 9);
  ASSERT_EQ(Editor(bus_, "SetSystemType", {304}).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(Value(Host(bus_, "SystemType")).toInt(), 304);

  // The queries as read-only properties too.
  QDBusMessage get = QDBusMessage::createMethodCall("norvane.norvanex", "/norvanex",
                                                    "org.freedesktop.DBus.Properties", "Get");
  get << QString("norvane.norvanex") << QString("EndSelection");
  const QVariant v = Value(bus_.Connection().call(get, QDBus::Block, 5000));
  EXPECT_EQ(v.value<QDBusVariant>().variant().toInt(), 9);
}

TEST_F(EditorBusTest, AnswersPingAndDescribesItself) {
  ASSERT_TRUE(Start());
  EXPECT_EQ(Call(bus_, "org.freedesktop.DBus.Peer", "Ping").type(), QDBusMessage::ReplyMessage);
  const QString xml = Value(Call(bus_, "org.freedesktop.DBus.Introspectable", "Introspect")).toString();
  for (const char* member : {"SystemType", "StartSelection", "EndSelection", "selectline", "markline",
                             "step", "CurrentBlock", "add", "SaveAs", "Quit"}) {
    EXPECT_TRUE(xml.contains(QStringLiteral("name=\"%1\"").arg(member))) << member;
  }
}

TEST_F(EditorBusTest, SystemTypeFromCommandLineAndProgram) {
  const std::string lathe = "G18 G21\nG0 X20 Z2\nG1 Z-10 F0.2\n";
  struct Case {
    std::string program;
    QStringList args;
    int code;
  } cases[] = {
      {kProgram, {"--system-type", "lathe"}, 304},
      {lathe, {}, 304},
      {lathe, {"--system-type=mill"}, 301},
  };
  for (const auto& c : cases) {
    std::ofstream(file_, std::ios::binary) << c.program;
    QProcess* editor = Start(c.args);
    ASSERT_TRUE(editor);
    EXPECT_EQ(Value(Host(bus_, "SystemType")).toInt(), c.code) << c.args.join(' ').toStdString();
    Editor(bus_, "Quit");
    ASSERT_TRUE(editor->waitForFinished(5000));
    ASSERT_TRUE(bus_.WaitForNoOwner("norvane.norvanex"));
  }
}

TEST_F(EditorBusTest, StepsAndReadsBlocks) {
  ASSERT_TRUE(Start());
  ASSERT_EQ(Host(bus_, "selectline", {6}).type(), QDBusMessage::ReplyMessage);
  struct Expect {
    double motion, x1, y1, z1, x2, y2, z2, feed;
  } lines[] = {
      {1, 0, 0, -1, 10, 10, -1, 200},
      {1, 10, 10, -1, 12, 12, -1, 200},
      {2, 12, 12, -1, 14, 12, -1, 200},
  };
  for (const auto& e : lines) {
    ASSERT_EQ(Host(bus_, "step").type(), QDBusMessage::ReplyMessage);
    const int index[] = {1, 4, 5, 6, 7, 8, 9, 19};
    const double want[] = {e.motion, e.x1, e.y1, e.z1, e.x2, e.y2, e.z2, e.feed};
    for (int i = 0; i < 8; ++i) {
      EXPECT_DOUBLE_EQ(Value(Host(bus_, "CurrentBlock", {index[i]})).toDouble(), want[i])
          << "index " << index[i];
    }
  }
  EXPECT_DOUBLE_EQ(Value(Host(bus_, "CurrentBlock", {23})).toDouble(), 1.0);
  EXPECT_EQ(Host(bus_, "CurrentBlock", {23}).signature(), "d");
}

TEST_F(EditorBusTest, FeedWritesChangeAndMarkLines) {
  ASSERT_TRUE(Start());
  ASSERT_EQ(Host(bus_, "markline", {0, 0}).type(), QDBusMessage::ReplyMessage);
  FeedWrite(7, 150);
  FeedWrite(8, 75.5);
  FeedWrite(8, 80);  // the later value stands
  EXPECT_EQ(LineOf(7), "G1 X12 Y12 F150");
  EXPECT_EQ(LineOf(8), "G2 X14 Y12 R1 F80");
  EXPECT_EQ(Marks(), (QList<qlonglong>{7, 8}));
  EXPECT_TRUE(Value(Editor(bus_, "Modified")).toBool());
}

// Every bad call answers an error with a message and leaves the document
// exactly as it was.
TEST_F(EditorBusTest, BadCallsAnswerErrorsAndChangeNothing) {
  ASSERT_TRUE(Start());
  const QString bad = "norvane.norvanex.Error.BadCall";
  const QString args = "org.freedesktop.DBus.Error.InvalidArgs";
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    QString interface, member;
    QVariantList args;
    QString error;
    int select_first = 0;  // selectline before the call (0: none)
  } cases[] = {
      {"norvane.norvanex", "selectline", {13}, bad},
      {"norvane.norvanex", "selectline", {0}, bad},
      {"norvane.norvanex", "selectline", {-5}, bad},
      {"norvane.norvanex", "markline", {12, 1}, bad},
      {"norvane.norvanex", "markline", {5, 2}, bad},
      {"norvane.norvanex", "CurrentBlock", {100}, bad},
      {"norvane.norvanex", "CurrentBlock", {-1}, bad},
      {"norvane.norvanex", "add", {QString("FF"), 100.0}, bad, 5},
      {"norvane.norvanex", "add", {QString("%"), 100.0}, bad, 5},
      {"norvane.norvanex", "add", {QString(""), 100.0}, bad, 5},
      {"norvane.norvanex", "add", {QString("F"), nan}, bad, 5},
      {"norvane.norvanex", "add", {QString("F"), inf}, bad, 5},
      {"norvane.norvanex", "add", {QString("F"), -inf}, bad, 5},
      {"norvane.norvanex", "add", {QString("F"), 1e300}, bad, 5},
      {"norvane.norvanex", "add", {QString("F"), 100.0}, bad, 1},  // the "%" line
      {"norvane.norvanex", "add", {QString("F"), 100.0}, bad, 12},  // past the end
      {"norvane.norvanex", "step", {}, bad, 12},
      {"norvane.norvanex", "selectline", {QString("6")}, args},
      {"norvane.norvanex", "markline", {6}, args},
      {"norvane.norvanex", "add", {100.0, QString("F")}, args},
      {"norvane.norvanex", "frobnicate", {}, "org.freedesktop.DBus.Error.UnknownMethod"},
      {"norvane.norvanex.Editor", "SetSelection", {0, 3}, bad},
      {"norvane.norvanex.Editor", "SetSelection", {1, 12}, bad},
      {"norvane.norvanex.Editor", "SetSystemType", {7}, bad},
      {"norvane.norvanex.Editor", "SaveAs", {QString("")}, bad},
  };
  for (const auto& c : cases) {
    if (c.select_first) {
      ASSERT_EQ(Host(bus_, "selectline", {c.select_first}).type(), QDBusMessage::ReplyMessage);
    }
    const QDBusMessage r = Call(bus_, c.interface, c.member, c.args);
    const std::string label = (c.member + " " + QVariant(c.args).toStringList().join(",")).toStdString();
    ASSERT_EQ(r.type(), QDBusMessage::ErrorMessage) << label;
    EXPECT_EQ(r.errorName(), c.error) << label << ": " << r.errorMessage().toStdString();
    EXPECT_GT(r.errorMessage().size(), 10) << label << " needs a clear message";
    std::printf("  %-40s -> %s\n", label.c_str(), r.errorMessage().toUtf8().constData());
  }
  EXPECT_EQ(Text().toStdString(), kProgram);
  EXPECT_FALSE(Value(Editor(bus_, "Modified")).toBool());
  EXPECT_TRUE(Marks().isEmpty());
  EXPECT_EQ(Value(Host(bus_, "StartSelection")).toInt(), 1);
}

TEST_F(EditorBusTest, EachPassIsOneUndoStep) {
  ASSERT_TRUE(Start());
  Host(bus_, "markline", {0, 0});
  FeedWrite(6, 150);
  FeedWrite(7, 150);
  const QString after_first = Text();
  Host(bus_, "markline", {0, 0});
  FeedWrite(8, 90);
  ASSERT_NE(Text(), after_first);

  Editor(bus_, "Undo");
  EXPECT_EQ(Text(), after_first) << "undo takes back the second pass only";
  EXPECT_EQ(Marks(), (QList<qlonglong>{6, 7}));
  Editor(bus_, "Undo");
  EXPECT_EQ(Text().toStdString(), kProgram);
  Editor(bus_, "Redo");
  EXPECT_EQ(Text(), after_first);
}

// Once the bus has been quiet for a while the pass is over: a later write
// is a step of its own.
TEST_F(EditorBusTest, IdleBusClosesThePass) {
  ASSERT_TRUE(Start());
  Host(bus_, "markline", {0, 0});
  FeedWrite(6, 150);
  const QString after_pass = Text();
  QThread::msleep(2600);
  QCoreApplication::processEvents();
  Host(bus_, "selectline", {7});
  Host(bus_, "add", {QString("F"), 99.0});
  Editor(bus_, "Undo");
  EXPECT_EQ(Text(), after_pass);
}

TEST_F(EditorBusTest, SaveOverBusKeepsBackupAndReportsFailure) {
  ASSERT_TRUE(Start());
  Host(bus_, "markline", {0, 0});
  FeedWrite(7, 150);
  ASSERT_EQ(Editor(bus_, "Save").type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(QString::fromStdString(Slurp(file_)), Text());
  EXPECT_EQ(Slurp(file_.string() + "~"), kProgram);
  EXPECT_FALSE(Value(Editor(bus_, "Modified")).toBool());

  const QDBusMessage r = Editor(bus_, "SaveAs", {QString::fromStdString((dir_ / "none" / "x.nc").string())});
  ASSERT_EQ(r.type(), QDBusMessage::ErrorMessage);
  EXPECT_EQ(r.errorName(), "norvane.norvanex.Error.SaveFailed");
  EXPECT_TRUE(r.errorMessage().contains("No such file")) << r.errorMessage().toStdString();
  EXPECT_EQ(Value(Editor(bus_, "Path")).toString().toStdString(), file_.string());
}

TEST_F(EditorBusTest, QuitAndSignalsEndCleanlyAndSaveOnExit) {
  for (const bool by_signal : {false, true}) {
    std::ofstream(file_, std::ios::binary) << kProgram;
    QProcess* editor = Start({"--save-on-exit"});
    ASSERT_TRUE(editor);
    Host(bus_, "markline", {0, 0});
    FeedWrite(9, 300);
    if (by_signal) {
      ::kill(pid_t(editor->processId()), SIGTERM);
    } else {
      ASSERT_EQ(Editor(bus_, "Quit").type(), QDBusMessage::ReplyMessage);
    }
    ASSERT_TRUE(editor->waitForFinished(5000)) << "the editor must end";
    EXPECT_EQ(editor->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(editor->exitCode(), 0);
    EXPECT_NE(Slurp(file_).find("G0 Z5 F300"), std::string::npos) << Slurp(file_);
    ASSERT_TRUE(bus_.WaitForNoOwner("norvane.norvanex"));
  }
}

TEST_F(EditorBusTest, SecondEditorFindsTheNameTaken) {
  ASSERT_TRUE(Start());
  QProcess second;
  second.setProcessEnvironment(bus_.Environment());
  second.start(EditorPath(), {"--headless", QString::fromStdString(file_.string())});
  ASSERT_TRUE(second.waitForFinished(5000));
  EXPECT_EQ(second.exitCode(), 1);
  EXPECT_TRUE(second.readAllStandardError().contains("already owned"));
  EXPECT_EQ(Value(Host(bus_, "SystemType")).toInt(), 301) << "the first one still serves";
}

TEST_F(EditorBusTest, BadCommandLinesEndWithAReason) {
  struct Case {
    QStringList args;
    int exit_code;
    QByteArray says;
  } cases[] = {
      {{"--headless", "/nonexistent/p.nc"}, 1, "Cannot open"},
      {{"--headless", "--select", "5:99", QString::fromStdString(file_.string())}, 2, "beyond"},
      {{"--headless", "--select", "5"}, 2, "FIRST:LAST"},
      {{"--system-type", "router"}, 2, "lathe or mill"},
  };
  for (const auto& c : cases) {
    QProcess editor;
    editor.setProcessEnvironment(bus_.Environment());
    editor.start(EditorPath(), c.args);
    ASSERT_TRUE(editor.waitForFinished(5000));
    EXPECT_EQ(editor.exitCode(), c.exit_code) << c.args.join(' ').toStdString();
    EXPECT_TRUE(editor.readAllStandardError().contains(c.says)) << c.args.join(' ').toStdString();
  }
}

// Activated by the bus with no display, the editor serves headless, and it
// ends when the bus goes away.
TEST_F(EditorBusTest, ActivatedWithoutDisplayServesAndEndsWithTheBus) {
  ASSERT_TRUE(bus_.InstallService("norvane.norvanex", "/usr/bin/env",
                                  {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", EditorPath()}));
  QDBusMessage start = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "StartServiceByName");
  start << QString("norvane.norvanex") << 0u;
  ASSERT_EQ(bus_.Connection().call(start, QDBus::Block, 10000).type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(Value(Host(bus_, "SystemType")).toInt(), 301);

  QDBusMessage pid_call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                         "org.freedesktop.DBus", "GetConnectionUnixProcessID");
  pid_call << QString("norvane.norvanex");
  const pid_t pid = pid_t(Value(bus_.Connection().call(pid_call, QDBus::Block, 5000)).toUInt());
  ASSERT_GT(pid, 0);
  bus_.Stop();
  QDeadlineTimer deadline(5000);
  while (Alive(pid) && !deadline.hasExpired()) QThread::msleep(50);
  EXPECT_FALSE(Alive(pid)) << "the activated editor outlived its bus";
  if (Alive(pid)) ::kill(pid, SIGKILL);
}

}  // namespace
}  // namespace refhost::testing
