// The feed pass over the D-Bus link, batched, against the same pass made one
// call at a time: the host records the same calls, and a faulty host ends
// both with the same error at the same call. After a failure only what was
// already on its way may follow it.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <exception>
#include <string>

#include "feed/pass.h"
#include "hostlink/attach.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_editor.h"
#include "hostlink/testing/private_bus.h"

namespace hostlink {
namespace {

// The eight members only: the batch forms fall back to plain calls.
class OneByOne : public HostOperations {
 public:
  explicit OneByOne(HostOperations& in) : in_(in) {}
  std::int32_t SystemType() override { return in_.SystemType(); }
  std::int32_t StartSelection() override { return in_.StartSelection(); }
  std::int32_t EndSelection() override { return in_.EndSelection(); }
  void selectline(std::int32_t l, ArgForm f) override { in_.selectline(l, f); }
  void markline(std::int32_t l, std::int32_t m, ArgForm f) override { in_.markline(l, m, f); }
  void step() override { in_.step(); }
  double CurrentBlock(std::int32_t i) override { return in_.CurrentBlock(i); }
  void add(const std::string& letter, double v) override { in_.add(letter, v); }

 private:
  HostOperations& in_;
};

struct PassRun {
  std::string error;    // "" when the pass completes
  QStringList calls;    // as the host recorded them
};

PassRun PassOnTestHost(const QStringList& directives, bool batched) {
  PassRun run;
  testing::PrivateBus bus;
  QString why;
  if (!bus.Start(&why)) {
    ADD_FAILURE() << why.toStdString();
    return run;
  }
  QTemporaryDir dir;
  const QString record = dir.filePath("record.txt");
  QStringList args{"--record", record};
  for (const QString& d : directives) args << "-e" << d;
  bus.StartProcess(testing::TestHostPath(), args);
  if (bus.WaitForOwner(dbus::kServiceName).isEmpty()) {
    ADD_FAILURE() << "no test host";
    return run;
  }
  HostEditor editor;
  dbus::DbusConnector connector(bus.Address().toStdString(), /*callTimeoutMs=*/500);
  if (!AttachSequence(editor, connector, [](const std::string&) {})) {
    ADD_FAILURE() << "not attached";
    return run;
  }
  OneByOne plain(editor);
  QElapsedTimer clock;
  clock.start();
  try {
    feed::RunPass(batched ? static_cast<HostOperations&>(editor) : plain,
                  {"1", "400", "1", "300", true}, [](const std::string&) {});
  } catch (const std::exception& e) {
    run.error = e.what();
  }
  EXPECT_LT(clock.elapsed(), 10000);
  // The host flushes its record every 50 ms and at its end.
  QThread::msleep(150);
  QFile f(record);
  if (f.open(QIODevice::ReadOnly)) {
    run.calls = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
  }
  return run;
}

struct Case {
  const char* name;
  QStringList directives;
  std::string error;      // what the pass ends with ("" = completes)
  const char* lastCall;   // the failing call, the last one of the plain pass
};

TEST(PassOverBusTest, BatchedPassMakesTheSameCallsAsThePlainOne) {
  const std::string noReply = "Did not receive a reply";
  const Case cases[] = {
      {"clean demo", {"demo"}, "", nullptr},
      {"nan coordinate", {"demo", "value CurrentBlock:7@20 d nan"},
       "Invalid floating point operation", "CurrentBlock 7"},
      {"infinite feed", {"demo", "value CurrentBlock:19@15 d inf"},
       "Invalid floating point operation", "CurrentBlock 19"},
      {"text coordinate", {"demo", "value CurrentBlock:4@9 s abc"},
       "Could not convert variant of type (OleStr) into type (Double)", "CurrentBlock 4"},
      {"null system type", {"demo", "value SystemType null"},
       "Could not convert variant of type (Null) into type (Integer)", "SystemType"},
      {"selection beyond the program", {"demo", "selection 1 1000000"},
       "Step beyond the end of the program", "step"},
      {"host never answers", {"demo", "hang CurrentBlock@30"}, noReply, "CurrentBlock 9"},
      {"failing step", {"demo", "error step@4 my.Error Step refused."}, "Step refused", "step"},
      {"failing fifth read", {"demo", "error CurrentBlock@13 my.Error Read refused"},
       "Read refused", "CurrentBlock 8"},
      {"failing mark travelling with the next reads", {"demo", "error markline@3 my.Error No mark"},
       "No mark", "markline 4 1"},
      {"failing selection after a write", {"demo", "error selectline@4 my.Error No line"},
       "No line", "selectline 4"},
      {"failing add", {"demo", "error add@2 my.Error No word"}, "No word", "add F 600"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PassRun plain = PassOnTestHost(c.directives, false);
    const PassRun batched = PassOnTestHost(c.directives, true);
    for (const PassRun* run : {&plain, &batched}) {
      if (c.error.rfind(noReply, 0) == 0) {
        EXPECT_EQ(run->error.rfind(noReply, 0), 0u) << run->error;
      } else {
        EXPECT_EQ(run->error, c.error);
      }
    }
    ASSERT_FALSE(plain.calls.isEmpty());
    if (c.error.empty()) {
      EXPECT_EQ(batched.calls, plain.calls);
      EXPECT_TRUE(plain.calls.contains("add F 400")) << plain.calls.join(" | ").toStdString();
      EXPECT_TRUE(plain.calls.contains("add F 300")) << plain.calls.join(" | ").toStdString();
      continue;
    }
    EXPECT_EQ(plain.calls.last().toStdString(), c.lastCall);
    ASSERT_GE(batched.calls.size(), plain.calls.size());
    EXPECT_EQ(batched.calls.mid(0, plain.calls.size()), plain.calls);
    const QStringList tail = batched.calls.mid(plain.calls.size());
    EXPECT_LE(tail.size(), 10) << tail.join(" | ").toStdString();
    for (const QString& call : tail) {
      EXPECT_TRUE(call == "step" || call.startsWith("CurrentBlock ") ||
                  call.startsWith("selectline ") ||
                  (call.startsWith("markline ") && call.endsWith(" 1")))
          << call.toStdString();
    }
  }
}

}  // namespace
}  // namespace hostlink
