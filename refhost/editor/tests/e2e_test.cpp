// The editor headless with the mill sample, the real brevand under X with its
// fields typed and Adjust clicked through xdotool, then Save over the bus:
// the saved file must be the expected program, and one undo takes it back.
// And the editor's window on SIGTERM keeps a line still being typed.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMetaType>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <signal.h>

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

// A line typed in the window and not yet stored (the inline editor still
// open) is in the recovery file after SIGTERM; the program file is not
// touched.
TEST(EditorEndToEnd, SignalKeepsTheLineBeingTyped) {
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
  const fs::path state = fs::path(dir.path().toStdString()) / "state";

  QProcess editor;
  QProcessEnvironment env = bus.Environment();
  env.insert("XDG_STATE_HOME", QString::fromStdString(state.string()));
  env.remove("QT_QPA_PLATFORM");
  editor.setProcessEnvironment(env);
  editor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  editor.start(EditorPath(), {"--select", "3:3", QString::fromStdString(program.string())});
  ASSERT_TRUE(editor.waitForStarted(5000));
  const QString window = WaitForWindow(editor.processId(), "mill.ngc - Norvane Editor", 10000);
  ASSERT_FALSE(window.isEmpty()) << "the editor showed no window";
  XDo({"windowfocus", "--sync", window});
  XDo({"key", "F2"});
  XDo({"key", "End"});
  XDo({"type", "--delay", "30", " (typed)"});
  QThread::msleep(300);

  ::kill(pid_t(editor.processId()), SIGTERM);
  ASSERT_TRUE(editor.waitForFinished(10000)) << "the window must end on SIGTERM without asking";
  EXPECT_EQ(editor.exitCode(), 0);
  EXPECT_EQ(Slurp(program), Slurp(kSamples / "mill.ngc"));
  std::string kept;
  std::error_code none;
  for (const auto& entry : fs::directory_iterator(state / "norvane-editor", none)) kept += Slurp(entry.path());
  EXPECT_NE(kept.find("\n(POCKET CORNERS WITH SHORT DIAGONALS AND SMALL ARCS) (typed)\n"), std::string::npos)
      << kept;
}

}  // namespace
}  // namespace refhost::testing
