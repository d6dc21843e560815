// The window against brevand-batch: the real brevand under X with the
// editor headless, fields typed and "Only on 45 Deg." unticked through
// xdotool, Adjust, Save over the bus; the saved file must be what
// brevand-batch --all-directions writes.
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <string>

#include "batch/tests/generated_programs.h"
#include "hostlink/testing/xdo.h"
#include "refhost/core/document.h"
#include "refhost/editor/tests/editor_bus.h"

namespace batch {
namespace {

using hostlink::testing::ClickAt;
using hostlink::testing::XDo;
using testing::ReadAll;

void TypeInto(const QString& window, int x, int y, const QString& text) {
  ClickAt(window, x, y);
  XDo({"type", "--delay", "30", text});
}

TEST(BatchWindowTest, TheWindowsPassSavedIsTheBatchsFile) {
  if (const QString reason = hostlink::testing::XDoUnavailableReason(); !reason.isEmpty()) {
    GTEST_SKIP() << reason.toStdString();
  }
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string source = std::string(BREVAND_NGC_DIR) + "/lathe_pawn.ngc";
  const std::string program = ReadAll(source);
  ASSERT_FALSE(program.empty());
  const std::string by_window = dir.path().toStdString() + "/window.ngc";
  const std::string by_batch = dir.path().toStdString() + "/batch.ngc";
  testing::WriteAll(by_window, program);

  const auto run_batch = [&](QStringList more) {
    QProcess batch;
    batch.start(QStringLiteral(BREVAND_BATCH_PATH),
                QStringList{"-q", "--line-length", "2", "--line-feed", "30", "--arc-radius", "3",
                            "--arc-feed", "20", "-o", QString::fromStdString(by_batch),
                            QString::fromStdString(source)} + more);
    EXPECT_TRUE(batch.waitForFinished(30000));
    EXPECT_EQ(batch.exitCode(), 0);
    return ReadAll(by_batch);
  };
  const std::string expected = run_batch({"--all-directions"});
  // The tick matters here: the program has short moves off the diagonals.
  ASSERT_TRUE(expected != run_batch({}) && expected != program);

  hostlink::testing::PrivateBus bus;
  QString error;
  ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
  refhost::Document doc;
  doc.Load(program);
  QProcess* editor = refhost::testing::StartEditor(
      bus, {"--select", QStringLiteral("1:%1").arg(doc.LineCount()), QString::fromStdString(by_window)});
  ASSERT_NE(editor, nullptr);

  QProcess brevand;
  QProcessEnvironment env = bus.Environment();
  env.insert("XDG_RUNTIME_DIR", dir.path());  // its own instance registry
  env.remove("QT_QPA_PLATFORM");
  brevand.setProcessEnvironment(env);
  brevand.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  brevand.start(QStringLiteral(BREVAND_PATH), {});
  ASSERT_TRUE(brevand.waitForStarted(5000));
  const QString window = hostlink::testing::WaitForWindow(brevand.processId(), "Norvane Brevand", 10000);
  ASSERT_FALSE(window.isEmpty()) << "brevand showed no window";
  XDo({"windowfocus", "--sync", window});

  // "2. Lines" at 8,43 holds edt1, edt3 and chk1; "3. Arcs" at 8,123 edt2 and edt4.
  TypeInto(window, 8 + 160 + 28, 43 + 24 + 10, "2");
  TypeInto(window, 8 + 351 + 24, 43 + 24 + 10, "30");
  TypeInto(window, 8 + 160 + 28, 123 + 24 + 10, "3");
  TypeInto(window, 8 + 351 + 24, 123 + 24 + 10, "20");
  ClickAt(window, 8 + 244 + 8, 43 + 49 + 8);  // chk1 off
  ClickAt(window, 52 + 37, 201 + 12);          // Adjust

  // The pass is done when the editor's text is the batch's (or never).
  std::string text;
  QDeadlineTimer deadline(90000);
  while (!deadline.hasExpired()) {
    text = refhost::testing::Value(refhost::testing::Editor(bus, "Text")).toString().toStdString();
    if (text == expected) break;
    QThread::msleep(500);
  }
  EXPECT_TRUE(text == expected) << "the window's pass did not give the batch's program";
  ASSERT_EQ(refhost::testing::Editor(bus, "Save").type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(ReadAll(by_window) == expected) << "the saved file differs from the batch's";

  XDo({"windowfocus", "--sync", window});
  XDo({"key", "Escape"});
  EXPECT_TRUE(brevand.waitForFinished(10000)) << "brevand did not end after Escape";
  if (brevand.state() != QProcess::NotRunning) brevand.kill(), brevand.waitForFinished(3000);
}

}  // namespace
}  // namespace batch
