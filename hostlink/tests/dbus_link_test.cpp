// The link against a real private bus and the test host.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QThread>

#include <signal.h>

#include <functional>
#include <string>
#include <vector>

#include "hostlink/attach.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_editor.h"
#include "hostlink/host_error.h"
#include "hostlink/testing/private_bus.h"

namespace hostlink {
namespace {

using testing::PrivateBus;
using testing::TestHostPath;

class DbusLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    ASSERT_TRUE(bus_.Start(&error)) << error.toStdString();
    QLocale::setDefault(QLocale::c());
  }

  // Starts a test host with `directives`; returns its unique name.
  QString StartHost(const QStringList& directives, const QString& record = {}) {
    QStringList args;
    for (const QString& d : directives) args << "-e" << d;
    if (!record.isEmpty()) args << "--record" << record;
    QProcess* p = bus_.StartProcess(TestHostPath(), args);
    processes_.push_back(p);
    return bus_.WaitForOwner(dbus::kServiceName);
  }

  // Attaches `editor`; returns the messages shown.
  std::vector<std::string> Attach(HostEditor& editor, int timeoutMs = -1) {
    dbus::DbusConnector connector(bus_.Address().toStdString(), timeoutMs);
    std::vector<std::string> shown;
    AttachSequence(editor, connector, [&](const std::string& m) { shown.push_back(m); });
    return shown;
  }

  static std::string Outcome(const std::function<std::string()>& call) {
    try {
      return call();
    } catch (const HostError& e) {
      return std::string("error: ") + e.what();
    }
  }

  QString RecordPath() const { return dir_.filePath("record.txt"); }
  QStringList Record(const QString& path) {
    QThread::msleep(150);  // the host flushes its record every 50 ms
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }

  PrivateBus bus_;
  QTemporaryDir dir_;
  std::vector<QProcess*> processes_;
};

TEST_F(DbusLinkTest, AttachesToTheRunningHostByItsUniqueName) {
  const QString owner = StartHost({"system 304", "demo"}, RecordPath());
  ASSERT_FALSE(owner.isEmpty());
  HostEditor editor;
  EXPECT_TRUE(Attach(editor).empty());
  ASSERT_TRUE(editor.Linked());
  EXPECT_EQ(editor.SystemType(), 0);  // demo sets system type 0 after "system 304"
  EXPECT_EQ(editor.StartSelection(), 1);
  EXPECT_EQ(editor.EndSelection(), 20);
  editor.selectline(3, ArgForm::ByReference);
  editor.step();
  EXPECT_EQ(editor.CurrentBlock(19), 600);
  editor.markline(3, 1, ArgForm::ByValue);
  editor.add("F", 212.5);
  EXPECT_EQ(Record(RecordPath()),
            (QStringList{"SystemType", "StartSelection", "EndSelection", "selectline 3", "step",
                         "CurrentBlock 19", "markline 3 1", "add F 212.5"}));
}

TEST_F(DbusLinkTest, AttachesByActivation) {
  ASSERT_TRUE(bus_.InstallService(dbus::kServiceName, TestHostPath(),
                                  {"-e", "system 304", "--record", RecordPath()}));
  HostEditor editor;
  EXPECT_TRUE(Attach(editor).empty());
  ASSERT_TRUE(editor.Linked());
  EXPECT_EQ(editor.SystemType(), 304);
  EXPECT_EQ(Record(RecordPath()), QStringList{"SystemType"});
}

TEST_F(DbusLinkTest, NothingInstalledShowsBothMessagesInOrder) {
  const std::vector<std::string> both = {kNotInstalledText, kUnableToLinkText};
  HostEditor editor;
  EXPECT_EQ(Attach(editor), both);
  EXPECT_FALSE(editor.Linked());
  EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }),
            "error: Invalid variant operation");

  // No bus at all counts as not installed.
  HostEditor noBus;
  dbus::DbusConnector connector("unix:path=/nonexistent/no-such-bus");
  std::vector<std::string> shown;
  EXPECT_FALSE(AttachSequence(noBus, connector, [&](const std::string& m) { shown.push_back(m); }));
  EXPECT_EQ(shown, both);
}

TEST_F(DbusLinkTest, RunningHostThatDoesNotAnswerIsNotLinked) {
  // The owner holds the name but answers nothing, not even Peer.Ping; the
  // bus then says the name already runs when creation is tried.
  ASSERT_TRUE(bus_.InstallService(dbus::kServiceName, TestHostPath(), {"--demo"}));
  ASSERT_FALSE(StartHost({"demo"}).isEmpty());
  const auto pid = static_cast<pid_t>(processes_.front()->processId());
  ASSERT_EQ(::kill(pid, SIGSTOP), 0);
  HostEditor editor;
  QElapsedTimer clock;
  clock.start();
  const std::vector<std::string> both = {kNotInstalledText, kUnableToLinkText};
  EXPECT_EQ(Attach(editor, /*timeoutMs=*/300), both);
  EXPECT_FALSE(editor.Linked());
  EXPECT_LT(clock.elapsed(), 5000);
  ::kill(pid, SIGCONT);
}

TEST_F(DbusLinkTest, HostThatWentAwayIsNeverRelinked) {
  const QString record2 = dir_.filePath("second.txt");
  const QString first = StartHost({"demo", "quit-after 1"});
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  ASSERT_EQ(editor.SystemType(), 0);  // the host leaves after this call
  ASSERT_TRUE(processes_.front()->waitForFinished(5000));
  ASSERT_TRUE(bus_.WaitForNoOwner(dbus::kServiceName));

  // Another host under the same name, and one that could be activated.
  ASSERT_TRUE(bus_.InstallService(dbus::kServiceName, TestHostPath(), {"--record", record2}));
  const QString second = StartHost({"demo"}, record2);
  ASSERT_NE(second, first);

  const std::string outcome = Outcome([&] { return std::to_string(editor.SystemType()); });
  EXPECT_EQ(outcome, "error: The name " + first.toStdString() +
                         " was not provided by any .service files");
  EXPECT_TRUE(editor.Linked());
  EXPECT_TRUE(Record(record2).isEmpty());
}

TEST_F(DbusLinkTest, QueriesFallBackToProperties) {
  StartHost({"queries properties", "system 304", "selection 7 9"}, RecordPath());
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  EXPECT_EQ(editor.SystemType(), 304);
  EXPECT_EQ(editor.StartSelection(), 7);
  EXPECT_EQ(editor.EndSelection(), 9);
  EXPECT_EQ(Record(RecordPath()).mid(0, 2), (QStringList{"SystemType", "get SystemType"}));
}

TEST_F(DbusLinkTest, UnknownMembersAreNotSupported) {
  StartHost({"queries methods",
             "error EndSelection org.freedesktop.DBus.Error.UnknownMethod gone"});
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  // Neither method nor property.
  EXPECT_EQ(Outcome([&] { return std::to_string(editor.EndSelection()); }),
            "error: Method 'EndSelection' not supported by automation object");
  dbus::DbusTransport raw(dbus::OpenBus(bus_.Address().toStdString(), nullptr),
                         bus_.WaitForOwner(dbus::kServiceName).toStdString());
  EXPECT_EQ(Outcome([&] { raw.Call("rewind", {}); return std::string(); }),
            "error: Method 'rewind' not supported by automation object");
  // A known member with arguments the host does not take.
  EXPECT_EQ(Outcome([&] { raw.Call("step", {Argument::Int(1)}); return std::string(); }),
            "error: Method 'step' not supported by automation object");
}

TEST_F(DbusLinkTest, HostErrorsLoseTrailingBlanksAndPeriods) {
  StartHost({"demo",
             "error step@1 norvane.Error.Line Line 3 is broken. . \\t\\n",
             "error step@2 norvane.Error.Dots ...",
             "error step@3 norvane.Error.Bracket ends (here)",
             "selection 1 100000"});
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  const std::string expected[] = {
      "error: Line 3 is broken",
      "error: norvane.Error.Dots",
      "error: ends (here)",
  };
  for (const std::string& e : expected) {
    EXPECT_EQ(Outcome([&] { editor.step(); return std::string(); }), e);
  }
  // A selection far beyond the program ends at the host's error.
  editor.selectline(21, ArgForm::ByValue);
  EXPECT_EQ(Outcome([&] { editor.step(); return std::string(); }),
            "error: Step beyond the end of the program");
}

TEST_F(DbusLinkTest, ConversionOverTheWire) {
  struct Row {
    const char* type;
    const char* value;
    std::string integer;  // SystemType
    std::string real;     // CurrentBlock
  };
  const auto noConv = [](const char* from, const char* to) {
    return std::string("error: Could not convert variant of type (") + from + ") into type (" +
           to + ")";
  };
  const std::string invalid = "error: Invalid floating point operation";
  const Row rows[] = {
      {"none", "", "0", "0"},
      {"null", "", noConv("Null", "Integer"), noConv("Null", "Double")},
      {"d", "304.5", "304", "304.5"},
      {"d", "305.5", "306", "305.5"},
      {"vvd", "304.5", "304", "304.5"},
      {"x", "2147483648", "error: Overflow while converting variant of type (Int64) into type (Integer)", "2147483648"},
      {"d", "3e9", "error: Overflow while converting variant of type (Double) into type (Integer)", "3000000000"},
      {"d", "1e19", invalid, "1e+19"},
      {"d", "nan", invalid, invalid},
      {"d", "-inf", invalid, invalid},
      {"b", "true", "-1", "-1"},
      {"b", "false", "0", "0"},
      {"y", "200", "200", "200"},
      {"n", "-5", "-5", "-5"},
      {"q", "65535", "65535", "65535"},
      {"u", "4294967295", "error: Overflow while converting variant of type (LongWord) into type (Integer)", "4294967295"},
      {"t", "7", "7", "7"},
      {"s", " 42 ", "42", "42"},
      {"s", "12.5", noConv("OleStr", "Integer"), "12.5"},
      {"s", "abc", noConv("OleStr", "Integer"), noConv("OleStr", "Double")},
      {"o", "/x", noConv("OleStr", "Integer"), noConv("OleStr", "Double")},
      {"array", "", noConv("Unknown", "Integer"), noConv("Unknown", "Double")},
      {"map", "", noConv("Unknown", "Integer"), noConv("Unknown", "Double")},
      {"struct", "", noConv("Unknown", "Integer"), noConv("Unknown", "Double")},
  };
  QStringList directives = {"demo"};
  int n = 0;
  for (const Row& r : rows) {
    ++n;
    directives << QString("value SystemType@%1 %2 %3").arg(n).arg(r.type, r.value)
               << QString("value CurrentBlock@%1 %2 %3").arg(n).arg(r.type, r.value);
  }
  StartHost(directives);
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.type) + " " + r.value);
    EXPECT_EQ(Outcome([&] { return std::to_string(editor.SystemType()); }), r.integer);
    EXPECT_EQ(Outcome([&] {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.17g", editor.CurrentBlock(19));
                return std::string(buf);
              }),
              r.real);
  }
}

TEST_F(DbusLinkTest, TextResultsReadInTheUserLocale) {
  StartHost({"value CurrentBlock s 1.234,5", "value SystemType s 1.234"});
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  HostEditor editor;
  ASSERT_TRUE(Attach(editor).empty());
  EXPECT_EQ(editor.CurrentBlock(4), 1234.5);
  EXPECT_EQ(editor.SystemType(), 1234);
}

TEST_F(DbusLinkTest, HostThatNeverAnswersFailsAfterTheTimeout) {
  StartHost({"demo", "hang step"});
  HostEditor editor;
  ASSERT_TRUE(Attach(editor, /*timeoutMs=*/300).empty());
  QElapsedTimer clock;
  clock.start();
  const std::string outcome = Outcome([&] { editor.step(); return std::string(); });
  EXPECT_LT(clock.elapsed(), 5000);
  EXPECT_EQ(outcome.rfind("error: Did not receive a reply", 0), 0u) << outcome;
  EXPECT_NE(outcome.back(), '.');
  EXPECT_EQ(editor.SystemType(), 0);  // the link stays usable
}

// With a wait hook (the window paints through it), blocking calls wait as
// posted ones do: the same answers and failures, and the hook runs while a
// call waits.
TEST_F(DbusLinkTest, WaitHookRunsWhileACallWaitsAndChangesNoOutcome) {
  static int hooked = 0;
  hooked = 0;
  dbus::SetWaitHook([] { ++hooked; }, 20);
  struct Unhook {
    ~Unhook() { dbus::SetWaitHook(nullptr); }
  } unhook;
  StartHost({"demo", "queries properties", "system 304",
             "error selectline@1 norvane.Error.Line Line 3 is broken.", "hang step@2"});
  HostEditor editor;
  ASSERT_TRUE(Attach(editor, /*timeoutMs=*/500).empty());
  EXPECT_EQ(editor.SystemType(), 304);  // the method refused, then the property
  EXPECT_EQ(Outcome([&] { editor.selectline(3, ArgForm::ByValue); return std::string(); }),
            "error: Line 3 is broken");
  EXPECT_EQ(Outcome([&] { editor.step(); return std::string(); }), "");
  const int before = hooked;
  const std::string outcome = Outcome([&] { editor.step(); return std::string(); });
  EXPECT_EQ(outcome.rfind("error: Did not receive a reply", 0), 0u) << outcome;
  EXPECT_GE(hooked - before, 10) << "the hook did not run while the call waited 500 ms";
  EXPECT_EQ(editor.SystemType(), 304);  // the link stays usable
}

}  // namespace
}  // namespace hostlink
