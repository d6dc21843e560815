// The recovery keeper in process, with short delays, and the question the
// window asks when a program opens with a recovery file.
#include "refhost/editor/recovery_keeper.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "refhost/editor/main_window.h"
#include "refhost/editor/recovery_prompt.h"

namespace refhost {
namespace {

namespace fs = std::filesystem;

constexpr char kProgram[] = "G0 X0\nG1 X1 F100\nG1 X2\n";
constexpr int kQuietMs = 100;
constexpr int kMaxDelayMs = 400;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RecoveryKeeperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/editor-keeper-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    folder_ = (dir_ / "state").string();
    doc_ = (dir_ / "part.ngc").string();
    std::ofstream(doc_, std::ios::binary) << kProgram;
    std::string error;
    ASSERT_TRUE(session_.Open(doc_, error)) << error;
    keeper_ = std::make_unique<RecoveryKeeper>(session_, folder_, kQuietMs, kMaxDelayMs);
  }
  void TearDown() override {
    keeper_.reset();
    fs::remove_all(dir_);
  }
  std::string File() const { return keeper_->CurrentFile(); }
  // The text held by the recovery file ("" when there is none).
  std::string Held() {
    std::string bytes, error;
    if (!fs::exists(File())) return std::string();
    EXPECT_TRUE(ReadRecoveryFile(File(), CanonicalDocumentPath(doc_), bytes, error)) << error;
    return bytes;
  }
  // A recovery file left by an earlier run, newer than the document.
  void LeaveEarlierRecovery(const std::string& text) {
    std::string error;
    ASSERT_TRUE(PrepareRecoveryFolder(folder_, error)) << error;
    ASSERT_TRUE(WriteRecoveryFile(File(), CanonicalDocumentPath(doc_), text, error)) << error;
    const timespec old[2] = {{::time(nullptr) - 60, 0}, {::time(nullptr) - 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, doc_.c_str(), old, 0), 0);
  }

  fs::path dir_;
  std::string folder_, doc_;
  EditorSession session_;
  std::unique_ptr<RecoveryKeeper> keeper_;
};

TEST_F(RecoveryKeeperTest, WritesAfterAQuietMomentAndRemovesOnSave) {
  QElapsedTimer clock;
  clock.start();
  session_.ReplaceLine(2, "G1 X1 F250");
  EXPECT_FALSE(fs::exists(File())) << "not at once: a burst of typing is one write";
  QTest::qWait(kQuietMs / 3);
  session_.ReplaceLine(3, "G1 X3");
  if (clock.elapsed() < kQuietMs) {  // unless this machine stalled
    EXPECT_FALSE(fs::exists(File()));
  }
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(File()); }, 5000));
  EXPECT_EQ(Held(), session_.FileText());
  EXPECT_EQ(Slurp(doc_), kProgram) << "the document itself is only written by a save";
  struct stat st {};
  ASSERT_EQ(::stat(folder_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(File().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  std::string error;
  ASSERT_TRUE(session_.Save(error)) << error;
  EXPECT_FALSE(fs::exists(File())) << "saved: nothing left to recover";
  QTest::qWait(kMaxDelayMs + kQuietMs);
  EXPECT_FALSE(fs::exists(File()));
}

// A steady stream of changes (a long pass over the bus) is still kept.
TEST_F(RecoveryKeeperTest, SteadyChangesAreWrittenWithinTheLongestDelay) {
  QElapsedTimer clock;
  clock.start();
  int value = 0;
  qint64 last = 0, longest_gap = 0;
  while (!fs::exists(File()) && clock.elapsed() < 5000) {
    session_.ReplaceLine(2, "G1 X1 F" + std::to_string(++value));
    longest_gap = std::max(longest_gap, clock.elapsed() - last);
    last = clock.elapsed();
    QTest::qWait(kQuietMs / 4);
  }
  ASSERT_TRUE(fs::exists(File())) << "never written during the stream";
  // Written for the longest delay, not for a quiet moment (unless this
  // machine stalled long enough to make one).
  if (longest_gap < kQuietMs) {
    EXPECT_GE(clock.elapsed(), kMaxDelayMs - 50);
  }
  EXPECT_NE(Held().find("F" + std::to_string(value)), std::string::npos) << "a recent state is kept";
}

TEST_F(RecoveryKeeperTest, UndoToTheFileAndDiscardRemoveIt) {
  session_.ReplaceLine(1, "G0 X5");
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(File()); }, 5000));
  session_.Undo();
  EXPECT_FALSE(fs::exists(File())) << "back to what the file holds";

  session_.Redo();
  ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(File()); }, 5000));
  keeper_->Discard();
  EXPECT_FALSE(fs::exists(File()));
  EXPECT_TRUE(keeper_->Discarded());
  std::string error;
  EXPECT_TRUE(keeper_->Flush(error));
  QTest::qWait(kMaxDelayMs + kQuietMs);
  EXPECT_FALSE(fs::exists(File())) << "discarded changes are not written again";

  session_.ReplaceLine(1, "G0 X6");  // a new change counts again
  EXPECT_FALSE(keeper_->Discarded());
  ASSERT_TRUE(keeper_->Flush(error)) << error;
  EXPECT_NE(Held().find("G0 X6"), std::string::npos);
}

TEST_F(RecoveryKeeperTest, FailuresAreReportedOnceAndTheEditorGoesOn) {
  fs::create_directories(folder_);
  fs::permissions(folder_, fs::perms::all);  // 0777: not safe
  int reports = 0;
  QObject::connect(keeper_.get(), &RecoveryKeeper::writeFailed, [&](const QString& why) {
    ++reports;
    EXPECT_TRUE(why.contains("written by others")) << why.toStdString();
  });
  session_.ReplaceLine(1, "G0 X5");
  std::string error;
  EXPECT_FALSE(keeper_->Flush(error));
  QTest::qWait(2 * kMaxDelayMs);
  session_.ReplaceLine(1, "G0 X6");
  QTest::qWait(2 * kMaxDelayMs);
  EXPECT_EQ(reports, 1);
  EXPECT_FALSE(fs::exists(File()));
  EXPECT_EQ(session_.document().Line(1), "G0 X6");
}

TEST_F(RecoveryKeeperTest, OfferActsOnTheAnswer) {
  const std::string recovered = "G0 X0\nG1 X1 F999\nG1 X2\nG1 X3\n";
  struct Case {
    RecoveryChoice choice;
    std::string text;    // the session's text after the offer
    bool file_remains;
  } cases[] = {
      {RecoveryChoice::kRecover, recovered, true},
      {RecoveryChoice::kDiscard, kProgram, false},
      {RecoveryChoice::kKeep, kProgram, true},
  };
  for (const auto& c : cases) {
    std::string error;
    ASSERT_TRUE(session_.Open(doc_, error)) << error;
    LeaveEarlierRecovery(recovered);
    int asked = 0;
    const RecoveryProbe probe = keeper_->OfferRecovery([&](const RecoveryProbe& p) {
      ++asked;
      EXPECT_EQ(p.bytes, recovered);
      return c.choice;
    });
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(probe.state, RecoveryProbe::State::kNewer);
    EXPECT_EQ(session_.FileText(), c.text);
    EXPECT_EQ(session_.document().Modified(), c.choice == RecoveryChoice::kRecover);
    EXPECT_EQ(fs::exists(File()), c.file_remains);
    if (c.choice == RecoveryChoice::kRecover) {
      session_.Undo();  // back to the file: the recovery is no longer needed
      EXPECT_EQ(session_.FileText(), kProgram);
      EXPECT_FALSE(fs::exists(File()));
    }
    fs::remove(File());
  }
}

// A recovery the user kept for later is not overwritten by new changes.
TEST_F(RecoveryKeeperTest, AKeptRecoveryIsSetAsideNotOverwritten) {
  LeaveEarlierRecovery("G1 X7 (kept)\n");
  keeper_->OfferRecovery([](const RecoveryProbe&) { return RecoveryChoice::kKeep; });
  session_.ReplaceLine(1, "G0 X8");
  std::string error;
  ASSERT_TRUE(keeper_->Flush(error)) << error;
  EXPECT_NE(Held().find("G0 X8"), std::string::npos);
  EXPECT_NE(Slurp(File() + "~").find("G1 X7 (kept)"), std::string::npos);
}

TEST_F(RecoveryKeeperTest, AnUnsafeRecoveryIsNotOffered) {
  LeaveEarlierRecovery("G1 X7\n");
  fs::rename(File(), File() + ".real");
  fs::create_symlink(File() + ".real", File());
  bool asked = false;
  const RecoveryProbe probe = keeper_->OfferRecovery([&](const RecoveryProbe&) {
    asked = true;
    return RecoveryChoice::kRecover;
  });
  EXPECT_FALSE(asked);
  EXPECT_EQ(probe.state, RecoveryProbe::State::kRefused);
  EXPECT_EQ(session_.FileText(), kProgram);
  EXPECT_TRUE(fs::is_symlink(File()));
}

// The window's close question: Discard removes the recovery, Cancel keeps
// both the window and the file.
TEST_F(RecoveryKeeperTest, ClosingWithDiscardRemovesIt) {
  MainWindow window(session_, false);
  window.SetRecoveryKeeper(keeper_.get());
  window.show();
  session_.ReplaceLine(1, "G0 X5");
  std::string error;
  ASSERT_TRUE(keeper_->Flush(error)) << error;
  for (const QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Discard}) {
    QTimer::singleShot(50, [answer] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      box->button(answer)->click();
    });
    window.close();
    EXPECT_EQ(window.isVisible(), answer == QMessageBox::Cancel);
    EXPECT_EQ(fs::exists(File()), answer == QMessageBox::Cancel);
  }
  EXPECT_EQ(Slurp(doc_), kProgram);
}

// The box's three buttons give the three answers; Escape keeps the file.
TEST(RecoveryPromptTest, ButtonsGiveTheAnswers) {
  RecoveryProbe probe;
  probe.state = RecoveryProbe::State::kNewer;
  probe.file = "/state/part.ngc-0123.recover";
  probe.written = 1700000000;
  struct Case {
    QString button;  // "" for Escape
    RecoveryChoice choice;
  } cases[] = {
      {"&Recover", RecoveryChoice::kRecover},
      {"&Discard Recovery", RecoveryChoice::kDiscard},
      {"&Keep for Later", RecoveryChoice::kKeep},
      {"", RecoveryChoice::kKeep},
  };
  for (const auto& c : cases) {
    QString text;
    QTimer::singleShot(50, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      text = box->text();
      if (c.button.isEmpty()) {
        QTest::keyClick(box, Qt::Key_Escape);
        return;
      }
      for (QAbstractButton* b : box->buttons()) {
        if (b->text() == c.button) b->click();
      }
    });
    EXPECT_EQ(AskAboutRecovery(nullptr, "/work/part.ngc", probe), c.choice) << c.button.toStdString();
    EXPECT_TRUE(text.contains("part.ngc")) << text.toStdString();
  }
}

}  // namespace
}  // namespace refhost
