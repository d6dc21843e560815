// The feed pass over the D-Bus link: a faulty host ends the pass with an
// error at the faulty call, and nothing is sent after it.
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

struct Case {
  const char* name;
  QStringList directives;
  std::string error;       // what the pass ends with ("" = completes)
  const char* lastRecord;  // the last call the host received
};

TEST(PassOverBusTest, FaultyHostsEndThePassAtTheFaultyCall) {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing::PrivateBus bus;
    ASSERT_TRUE(bus.Start());
    QTemporaryDir dir;
    const QString record = dir.filePath("record.txt");
    QStringList args{"--record", record};
    for (const QString& d : c.directives) args << "-e" << d;
    bus.StartProcess(testing::TestHostPath(), args);
    ASSERT_FALSE(bus.WaitForOwner(dbus::kServiceName).isEmpty());

    HostEditor editor;
    dbus::DbusConnector connector(bus.Connection(), /*callTimeoutMs=*/500);
    ASSERT_TRUE(AttachSequence(editor, connector, [](const std::string&) {}));

    std::string error;
    QElapsedTimer clock;
    clock.start();
    try {
      feed::RunPass(editor, {"1", "400", "1", "300", true}, [](const std::string&) {});
    } catch (const std::exception& e) {
      error = e.what();
    }
    EXPECT_LT(clock.elapsed(), 10000);
    if (std::string(c.error).rfind(noReply, 0) == 0) {
      EXPECT_EQ(error.rfind(noReply, 0), 0u) << error;
    } else {
      EXPECT_EQ(error, c.error);
    }

    QThread::msleep(150);  // the host flushes its record every 50 ms
    QFile f(record);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList calls = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(calls.isEmpty());
    if (c.lastRecord) {
      EXPECT_EQ(calls.last().toStdString(), c.lastRecord);
    } else if (c.error.empty()) {
      EXPECT_TRUE(calls.contains("add F 400")) << calls.join(" | ").toStdString();
      EXPECT_TRUE(calls.contains("add F 300")) << calls.join(" | ").toStdString();
    }
  }
}

}  // namespace
}  // namespace hostlink
