// The same pass, two ways: through the D-Bus link against the editor (as
// the window runs it) and saved by the editor, and through brevand-batch.
// The files must be the same, byte for byte.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <exception>
#include <filesystem>
#include <string>

#include "batch/tests/generated_programs.h"
#include "feed/pass.h"
#include "hostlink/attach.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/host_editor.h"
#include "refhost/core/document.h"
#include "refhost/editor/tests/editor_bus.h"

namespace batch {
namespace {

namespace fs = std::filesystem;
using testing::ReadAll;
using testing::WriteAll;

struct Fields {
  const char* length;
  const char* feed;
  const char* radius;
  const char* arc;
};

// The pass over the bus against the editor holding `path`, every line
// selected, then the editor's Save. Returns the pass's error or message.
std::string ThroughEditor(const std::string& path, const Fields& f, bool diagonals) {
  refhost::Document doc;
  doc.Load(ReadAll(path));
  const QString all = QStringLiteral("1:%1").arg(doc.LineCount());
  hostlink::testing::PrivateBus bus;
  QString error;
  if (!bus.Start(&error)) return "no bus: " + error.toStdString();
  QProcess* editor = refhost::testing::StartEditor(
      bus, {"--select", all, QString::fromStdString(path)});
  if (!editor) return "the editor did not start";
  hostlink::HostEditor host;
  hostlink::dbus::DbusConnector connector(bus.Address().toStdString());
  if (!hostlink::AttachSequence(host, connector, [](const std::string&) {})) return "no link";
  std::string message;
  try {
    feed::RunPass(host, {f.length, f.feed, f.radius, f.arc, diagonals},
                  [&](const std::string& m) { message = m; });
  } catch (const std::exception& e) {
    message = e.what();
  }
  const QDBusMessage saved = refhost::testing::Editor(bus, "Save");
  if (saved.type() != QDBusMessage::ReplyMessage) return "not saved: " + saved.errorMessage().toStdString();
  return message;
}

int ThroughBatch(const std::string& in, const std::string& out, const Fields& f, bool diagonals) {
  QStringList args{"-q", "--line-length", f.length, "--line-feed", f.feed};
  if (*f.radius) args << "--arc-radius" << f.radius << "--arc-feed" << f.arc;
  if (!diagonals) args << "--all-directions";
  args << "-o" << QString::fromStdString(out) << QString::fromStdString(in);
  QProcess batch;
  batch.setProcessChannelMode(QProcess::ForwardedChannels);
  batch.start(QStringLiteral(BREVAND_BATCH_PATH), args);
  if (!batch.waitForFinished(60000)) return -1;
  return batch.exitCode();
}

TEST(BatchBusTest, SameProgramAsThePassOverTheBus) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string ngc = BREVAND_NGC_DIR;
  const struct {
    const char* name;
    std::string program;
    Fields fields;
  } programs[] = {
      {"3D_Chips.ngc", ReadAll(ngc + "/3D_Chips.ngc"), {"1", "150", "2", "120"}},
      {"arcspiral.ngc", ReadAll(ngc + "/arcspiral.ngc"), {"0.5", "30", "0.75", "25"}},
      {"lathe_pawn.ngc", ReadAll(ngc + "/lathe_pawn.ngc"), {"2", "30", "3", "20"}},
      {"mill.ngc", testing::MillProgram(800), {"0.5", "150", "2", "120"}},
      {"lathe.ngc", testing::LatheProgram(800), {"2", "0.1", "2", "0.08"}},
  };
  for (const auto& p : programs) {
    ASSERT_FALSE(p.program.empty()) << p.name << " missing";
    for (const bool diagonals : {true, false}) {
      SCOPED_TRACE(std::string(p.name) + (diagonals ? "" : " --all-directions"));
      const std::string base = dir.path().toStdString() + "/" + (diagonals ? "d-" : "a-") + p.name;
      WriteAll(base + ".editor", p.program);
      WriteAll(base, p.program);
      EXPECT_EQ(ThroughEditor(base + ".editor", p.fields, diagonals), "");
      EXPECT_EQ(ThroughBatch(base, base + ".batch", p.fields, diagonals), 0);
      const std::string by_editor = ReadAll(base + ".editor");
      // (3D_Chips has no short diagonal move to change.)
      if (!diagonals) {
        EXPECT_TRUE(by_editor != p.program) << "the pass changed nothing";
      }
      EXPECT_TRUE(by_editor == ReadAll(base + ".batch")) << "the batch's result differs";
    }
  }
}

}  // namespace
}  // namespace batch
