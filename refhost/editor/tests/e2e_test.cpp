// The editor headless with the mill sample, the real brevand under X with its
// fields typed and Adjust clicked through xdotool, then Save over the bus:
// the saved file must be the expected program, and one undo takes it back.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "hostlink/testing/xdo.h"
#include "refhost/editor/tests/editor_bus.h"

namespace refhost::testing {
namespace {

namespace fs = std::filesystem;
const fs::path kSamples = NORVANE_SAMPLES_DIR;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

using hostlink::testing::ClickAt;
using hostlink::testing::WaitForWindow;
using hostlink::testing::XDo;

void TypeInto(const QString& window, int x, int y, const QString& text) {
  ClickAt(window, x, y);
  XDo({"type", "--delay", "30", text});
}

TEST(EditorEndToEnd, BrevandAdjustsTheSampleAndTheSaveKeepsIt) {
  if (const QString reason = hostlink::testing::XDoUnavailableReason(); !reason.isEmpty()) {
    GTEST_SKIP() << reason.toStdString();
  }

  hostlink::testing::PrivateBus bus;
  QString error;
  ASSERT_TRUE(bus.Start(&error)) << error.toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path program = fs::path(dir.path().toStdString()) / "mill.ngc";
  fs::copy_file(kSamples / "mill.ngc", program);
  QProcess* editor = StartEditor(bus, {"--select", "1:29", QString::fromStdString(program.string())});
  ASSERT_NE(editor, nullptr);

  QProcess brevand;
  QProcessEnvironment env = bus.Environment();
  env.insert("XDG_RUNTIME_DIR", dir.path());  // its own instance registry
  env.remove("QT_QPA_PLATFORM");
  brevand.setProcessEnvironment(env);
  brevand.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  brevand.start(QStringLiteral(BREVAND_PATH), {});
  ASSERT_TRUE(brevand.waitForStarted(5000));
  const QString window = WaitForWindow(brevand.processId(), "Norvane Brevand", 10000);
  ASSERT_FALSE(window.isEmpty()) << "brevand showed no window";
  XDo({"windowfocus", "--sync", window});

  // "2. Lines" at 8,43 holds edt1 and edt3; "3. Arcs" at 8,123 edt2 and edt4.
  TypeInto(window, 8 + 160 + 28, 43 + 24 + 10, "5");
  TypeInto(window, 8 + 351 + 24, 43 + 24 + 10, "200");
  TypeInto(window, 8 + 160 + 28, 123 + 24 + 10, "3");
  TypeInto(window, 8 + 351 + 24, 123 + 24 + 10, "150");
  ClickAt(window, 52 + 37, 201 + 12);  // Adjust

  // The pass is done when its last mark is there.
  QList<qlonglong> marks;
  QDeadlineTimer deadline(15000);
  while (!deadline.hasExpired()) {
    marks = qdbus_cast<QList<qlonglong>>(Value(Editor(bus, "MarkedLines")));
    if (!marks.isEmpty() && marks.last() == 26) break;
    QThread::msleep(100);
  }
  EXPECT_EQ(marks, (QList<qlonglong>{9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 24, 25, 26}));

  ASSERT_EQ(Editor(bus, "Save").type(), QDBusMessage::ReplyMessage);
  EXPECT_EQ(Slurp(program), Slurp(kSamples / "mill-expected.ngc"));
  EXPECT_EQ(Slurp(program.string() + "~"), Slurp(kSamples / "mill.ngc"));

  Editor(bus, "Undo");
  EXPECT_EQ(Value(Editor(bus, "Text")).toString().toStdString(), Slurp(kSamples / "mill.ngc"));

  XDo({"windowfocus", "--sync", window});
  XDo({"key", "Escape"});
  EXPECT_TRUE(brevand.waitForFinished(10000)) << "brevand did not end after Escape";
  if (brevand.state() != QProcess::NotRunning) brevand.kill(), brevand.waitForFinished(3000);
}

}  // namespace
}  // namespace refhost::testing
