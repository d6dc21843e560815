// The line view offscreen: mouse and keyboard selection reach
// StartSelection/EndSelection; the inline editor edits one line.
#include "refhost/editor/line_view.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

#include "refhost/editor/main_window.h"

namespace refhost {
namespace {

class LineViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string text;
    for (int i = 1; i <= 200; ++i) text += "G1 X" + std::to_string(i) + " Y0\n";
    session_.document().Load(text);
    view_ = std::make_unique<LineView>(session_);
    view_->resize(500, 300);
    view_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view_.get()));
  }
  QPoint Row(int row) const { return QPoint(view_->GutterWidth() + 20, row * view_->LineHeight() + 2); }
  int Start() { return session_.automation().StartSelection(); }
  int End() { return session_.automation().EndSelection(); }

  EditorSession session_;
  std::unique_ptr<LineView> view_;
};

TEST_F(LineViewTest, MouseSelectsWholeLines) {
  QWidget* vp = view_->viewport();
  QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, Row(2));
  EXPECT_EQ(Start(), 3);
  EXPECT_EQ(End(), 3);
  QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, Row(6));
  EXPECT_EQ(Start(), 3);
  EXPECT_EQ(End(), 7);
  QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, Row(0));
  EXPECT_EQ(Start(), 1);
  EXPECT_EQ(End(), 3);

  // Dragging extends from the pressed line.
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, Row(4));
  QMouseEvent move(QEvent::MouseMove, Row(8), vp->mapToGlobal(Row(8)), Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(vp, &move);
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, Row(8));
  EXPECT_EQ(Start(), 5);
  EXPECT_EQ(End(), 9);
}

TEST_F(LineViewTest, KeyboardMovesAndExtends) {
  view_->setFocus();
  struct Step {
    Qt::Key key;
    Qt::KeyboardModifiers mods;
    int start, end;
  } steps[] = {
      {Qt::Key_Down, Qt::NoModifier, 2, 2},
      {Qt::Key_Down, Qt::ShiftModifier, 2, 3},
      {Qt::Key_Down, Qt::ShiftModifier, 2, 4},
      {Qt::Key_Up, Qt::NoModifier, 3, 3},
      {Qt::Key_Up, Qt::ShiftModifier, 2, 3},
      {Qt::Key_End, Qt::ControlModifier | Qt::ShiftModifier, 3, 200},
      {Qt::Key_Home, Qt::ControlModifier, 1, 1},
      {Qt::Key_Up, Qt::NoModifier, 1, 1},
  };
  for (const auto& s : steps) {
    QTest::keyClick(view_.get(), s.key, s.mods);
    EXPECT_EQ(Start(), s.start) << s.key;
    EXPECT_EQ(End(), s.end) << s.key;
  }
  // The cursor's line stays in view.
  QTest::keyClick(view_.get(), Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(view_->LineAt(view_->viewport()->height() - view_->LineHeight()), 200);
}

TEST_F(LineViewTest, InlineEditorReplacesOneLineAsOneStep) {
  session_.MoveCursor(5, false);
  view_->setFocus();
  QTest::keyClick(view_.get(), Qt::Key_F2);
  auto* editor = view_->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->isVisible());
  EXPECT_EQ(editor->text(), "G1 X5 Y0");
  editor->setText("G1 X5 Y7");
  QTest::keyClick(editor, Qt::Key_Return);
  EXPECT_EQ(session_.document().Line(5), "G1 X5 Y7");
  EXPECT_EQ(Start(), 6) << "Return moves on to the next line";
  EXPECT_FALSE(editor->isVisible());

  // Escape drops an edit.
  QTest::keyClick(view_.get(), Qt::Key_F2);
  editor->setText("junk");
  QTest::keyClick(editor, Qt::Key_Escape);
  EXPECT_EQ(session_.document().Line(6), "G1 X6 Y0");

  session_.Undo();
  EXPECT_EQ(session_.document().Line(5), "G1 X5 Y0");
  EXPECT_FALSE(session_.document().CanUndo());

  // Lines renumbered under an open edit: the edit is dropped, not stored on
  // whatever line now has its number.
  QTest::keyClick(view_.get(), Qt::Key_F2);
  editor->setText("stale");
  session_.document().InsertLines(1, {"(new first line)"});
  view_->CommitEdit();
  EXPECT_EQ(session_.document().Line(7), "G1 X6 Y0");
  EXPECT_EQ(session_.document().Line(6), "G1 X5 Y0");
}

TEST_F(LineViewTest, InsertAndDeleteLines) {
  session_.Select(10, 12);
  view_->DeleteSelectedLines();
  EXPECT_EQ(session_.document().LineCount(), 197);
  EXPECT_EQ(session_.document().Line(10), "G1 X13 Y0");
  view_->InsertLineBelow();
  view_->CommitEdit();
  EXPECT_EQ(session_.document().LineCount(), 198);
  EXPECT_EQ(session_.document().Line(11), "");
  EXPECT_EQ(Start(), 11);
}

TEST(MainWindowTest, TitleShowsModifiedMarker) {
  EditorSession session;
  session.document().Load("G0 X0\n");
  MainWindow window(session, false);
  EXPECT_FALSE(window.isWindowModified());
  session.ReplaceLine(1, "G0 X1");
  EXPECT_TRUE(window.isWindowModified());
  EXPECT_TRUE(window.windowTitle().contains("[*]"));
  session.Undo();
  EXPECT_FALSE(window.isWindowModified());
}

}  // namespace
}  // namespace refhost

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
