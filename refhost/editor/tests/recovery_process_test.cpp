// The editor program keeps unsaved changes across signals and kills, and
// offers them back: real processes on a private bus, headless.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "refhost/editor/recovery.h"
#include "refhost/editor/tests/editor_bus.h"

namespace refhost::testing {
namespace {

namespace fs = std::filesystem;
using hostlink::testing::PrivateBus;

const char kProgram[] =
    "%\n"
    "G21 G90 G17\n"
    "G0 X0 Y0 Z5\n"
    "G1 Z-1 F100\n"
    "G1 X10 Y10 F200\n"
    "G1 X12 Y12\n"
    "G0 Z5\n"
    "M30\n"
    "%\n";

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RecoveryProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QString error;
    ASSERT_TRUE(bus_.Start(&error)) << error.toStdString();
    char pattern[] = "/tmp/editor-recover-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    file_ = dir_ / "part.ngc";
    std::ofstream(file_, std::ios::binary) << kProgram;
    state_ = dir_ / "state";
    folder_ = (state_ / "norvane-editor").string();
    recovery_ = folder_ + "/" + RecoveryFileName(CanonicalDocumentPath(file_.string()), 0);
  }
  void TearDown() override {
    for (auto& p : editors_) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(5000);
      }
    }
    editors_.clear();
    bus_.Stop();
    fs::remove_all(dir_);
  }
  // The editor on `file_` (headless, or with its window offscreen), its
  // stderr kept, its state in `state_`.
  QProcess* Start(const QStringList& extra = {}, bool window = false) {
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = bus_.Environment();
    env.insert("XDG_STATE_HOME", QString::fromStdString(state_.string()));
    if (window) env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    p->start(EditorPath(), QStringList{window ? "--system-type=mill" : "--headless"} + extra
                               << QString::fromStdString(file_.string()));
    editors_.push_back(std::move(p));
    QProcess* editor = editors_.back().get();
    if (!editor->waitForStarted(5000) || bus_.WaitForOwner("norvane.norvanex", 10000).isEmpty()) {
      ADD_FAILURE() << "the editor did not come up: " << editor->readAllStandardError().toStdString();
      return nullptr;
    }
    return editor;
  }
  // Ends `editor` with `how` (a signal number, or 0 for Quit over the bus);
  // returns its stderr.
  std::string End(QProcess* editor, int how) {
    if (how == 0) {
      EXPECT_EQ(Editor(bus_, "Quit").type(), QDBusMessage::ReplyMessage);
    } else {
      ::kill(pid_t(editor->processId()), how);
    }
    EXPECT_TRUE(editor->waitForFinished(10000)) << "the editor must end";
    EXPECT_TRUE(bus_.WaitForNoOwner("norvane.norvanex", 10000));
    return editor->readAllStandardError().toStdString();
  }
  void SetFeed(int line, int feed) {
    for (const QDBusMessage& r : {Host(bus_, "selectline", {line}), Host(bus_, "add", {QString("F"), double(feed)})}) {
      ASSERT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
    }
  }
  // The text the recovery file holds, or "" when it cannot be read.
  std::string Recovered() {
    std::string bytes, error;
    if (!ReadRecoveryFile(recovery_, CanonicalDocumentPath(file_.string()), bytes, error)) return std::string();
    return bytes;
  }
  // Leaves a recovery file with line 6 at F`feed`, as a killed editor would.
  void LeaveRecovery(int feed) {
    QProcess* editor = Start();
    ASSERT_TRUE(editor);
    SetFeed(6, feed);
    End(editor, SIGTERM);
    ASSERT_NE(Recovered().find("G1 X12 Y12 F" + std::to_string(feed)), std::string::npos);
  }
  QString Text() { return Value(Editor(bus_, "Text")).toString(); }
  bool Modified() { return Value(Editor(bus_, "Modified")).toBool(); }

  PrivateBus bus_;
  fs::path dir_, file_, state_;
  std::string folder_, recovery_;
  std::vector<std::unique_ptr<QProcess>> editors_;
};

// SIGTERM, SIGINT, SIGHUP and Quit keep the changes in the recovery file at
// once (no waiting for the quiet moment), end with 0, and leave the program
// file as it was.
TEST_F(RecoveryProcessTest, SignalsAndQuitKeepTheChanges) {
  const struct {
    const char* name;
    int how;
  } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"Quit", 0}};
  int feed = 100;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QProcess* editor = Start();
    ASSERT_TRUE(editor);
    SetFeed(6, ++feed);
    const std::string said = End(editor, c.how);
    EXPECT_EQ(editor->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(editor->exitCode(), 0) << said;
    EXPECT_EQ(Slurp(file_), kProgram) << "only a save writes the program";
    EXPECT_NE(Recovered().find("G1 X12 Y12 F" + std::to_string(feed)), std::string::npos) << said;
    EXPECT_NE(said.find("kept in " + recovery_), std::string::npos) << said;
    struct stat st {};
    ASSERT_EQ(::stat(recovery_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
  }
}

// With a window: no question is asked, not even while one is on screen.
TEST_F(RecoveryProcessTest, WindowEndsOnSignalWithoutAsking) {
  QProcess* editor = Start({}, true);
  ASSERT_TRUE(editor);
  SetFeed(6, 250);
  const std::string said = End(editor, SIGTERM);
  EXPECT_EQ(editor->exitCode(), 0) << said;
  EXPECT_EQ(Slurp(file_), kProgram);
  EXPECT_NE(Recovered().find("G1 X12 Y12 F250"), std::string::npos) << said;

  // Started again, it asks about the recovery; a signal while the question
  // is up ends it and leaves the file.
  editor = Start({}, true);
  ASSERT_TRUE(editor);
  QThread::msleep(300);
  EXPECT_EQ(editor->state(), QProcess::Running);
  End(editor, SIGHUP);
  EXPECT_EQ(editor->exitCode(), 0);
  EXPECT_NE(Recovered().find("G1 X12 Y12 F250"), std::string::npos);
}

TEST_F(RecoveryProcessTest, SaveOnExitSavesAndLeavesNoRecovery) {
  QProcess* editor = Start({"--save-on-exit"});
  ASSERT_TRUE(editor);
  SetFeed(6, 333);
  QThread::msleep(1500);  // a recovery file is written meanwhile
  End(editor, SIGTERM);
  EXPECT_EQ(editor->exitCode(), 0);
  EXPECT_NE(Slurp(file_).find("G1 X12 Y12 F333"), std::string::npos);
  EXPECT_FALSE(fs::exists(recovery_));
}

// kill -9 in the middle of a stream of changes: the program file is
// untouched and the recovery holds one of the last few seconds' states.
TEST_F(RecoveryProcessTest, KillMidBurstLosesOnlyTheLastMoments) {
  QProcess* editor = Start();
  ASSERT_TRUE(editor);
  QElapsedTimer clock;
  clock.start();
  std::vector<qint64> changed_at;  // [feed - 1]: when that change was made
  while (clock.elapsed() < 6000) {
    SetFeed(6, int(changed_at.size()) + 1);
    changed_at.push_back(clock.elapsed());
    QThread::msleep(40);
  }
  const qint64 killed_at = clock.elapsed();
  ::kill(pid_t(editor->processId()), SIGKILL);
  ASSERT_TRUE(editor->waitForFinished(5000));

  EXPECT_EQ(Slurp(file_), kProgram);
  for (const auto& entry : fs::directory_iterator(dir_)) {
    EXPECT_TRUE(entry.path() == file_ || entry.path() == state_) << "left behind: " << entry.path();
  }
  const std::string kept = Recovered();
  ASSERT_FALSE(kept.empty()) << "nothing was kept during " << changed_at.size() << " changes";
  const auto at = kept.find("G1 X12 Y12 F");
  ASSERT_NE(at, std::string::npos) << kept;
  const int feed = std::stoi(kept.substr(at + 12));
  ASSERT_GE(feed, 1);
  ASSERT_LE(std::size_t(feed), changed_at.size());
  EXPECT_GE(changed_at[std::size_t(feed) - 1], killed_at - 4500)
      << "the kept state is older than the longest delay allows";
  EXPECT_EQ(kept, std::string(kProgram).replace(std::string(kProgram).find("G1 X12 Y12\n"), 11,
                                                  "G1 X12 Y12 F" + std::to_string(feed) + "\n"))
      << "a whole state, not a mix";
}

TEST_F(RecoveryProcessTest, HeadlessLeavesARecoveryUnlessTold) {
  LeaveRecovery(150);
  QProcess* editor = Start();
  ASSERT_TRUE(editor);
  EXPECT_EQ(Text().toStdString(), kProgram);
  EXPECT_FALSE(Modified());
  const std::string said = End(editor, 0);
  EXPECT_NE(said.find("exists: " + recovery_), std::string::npos) << said;
  EXPECT_NE(Recovered().find("F150"), std::string::npos) << "left as it was";
}

TEST_F(RecoveryProcessTest, RecoveryOfferedAndTaken) {
  LeaveRecovery(150);
  QProcess* editor = Start({"--recovery", "recover"});
  ASSERT_TRUE(editor);
  EXPECT_NE(Text().indexOf("G1 X12 Y12 F150\n"), -1) << Text().toStdString();
  EXPECT_TRUE(Modified()) << "recovered changes are not saved yet";
  ASSERT_EQ(Editor(bus_, "Save").type(), QDBusMessage::ReplyMessage);
  EXPECT_NE(Slurp(file_).find("G1 X12 Y12 F150\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(recovery_)) << "saved: the recovery is gone";
  End(editor, 0);
  EXPECT_FALSE(fs::exists(recovery_));
}

TEST_F(RecoveryProcessTest, RecoveryRefusedAndRemoved) {
  LeaveRecovery(150);
  QProcess* editor = Start({"--recovery=discard"});
  ASSERT_TRUE(editor);
  EXPECT_EQ(Text().toStdString(), kProgram);
  EXPECT_FALSE(Modified());
  EXPECT_FALSE(fs::exists(recovery_));
  End(editor, 0);
}

// A recovery file of another user, a link, or one in a folder others may
// write is never loaded: the editor says why and leaves it.
TEST_F(RecoveryProcessTest, UnsafeRecoveryIsRefused) {
  const passwd* nobody = ::getpwnam("nobody");
  const struct {
    const char* name;
    std::function<void()> spoil;
    const char* says;
    bool needs_root;
  } cases[] = {
      {"another user's file", [&] { ASSERT_EQ(::chown(recovery_.c_str(), nobody ? nobody->pw_uid : 65534, -1), 0); },
       "belongs to user", true},
      {"a symbolic link",
       [&] {
         fs::rename(recovery_, dir_ / "elsewhere");
         fs::create_symlink(dir_ / "elsewhere", recovery_);
       },
       "is a symbolic link", false},
      {"a folder others may write", [&] { fs::permissions(folder_, fs::perms::all); }, "written by others", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && ::geteuid() != 0) continue;  // only root can give a file away
    fs::remove_all(state_);
    fs::remove(dir_ / "elsewhere");
    LeaveRecovery(150);
    c.spoil();
    QProcess* editor = Start({"--recovery", "recover"});
    ASSERT_TRUE(editor);
    EXPECT_EQ(Text().toStdString(), kProgram) << "refused, not loaded";
    EXPECT_FALSE(Modified());
    const std::string said = End(editor, 0);
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
    EXPECT_TRUE(fs::exists(fs::symlink_status(recovery_))) << "left where it is";
  }
}

}  // namespace
}  // namespace refhost::testing
