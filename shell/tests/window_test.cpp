// The main window offscreen: its controls, focus, keys, snapping, messages
// and the handlers' wrapper.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <memory>
#include <stdexcept>
#include <vector>

#include "hostlink/attach.h"
#include "shell/BrevandUnit.h"
#include "shell/error_text.h"
#include "shell/messages.h"
#include "shell/startup.h"
#include "shell/window_font.h"

namespace {

// Records every box instead of showing it.
class MessageLog {
 public:
  MessageLog() {
    previous_ = shell::SetMessagePresenter(
        [this](const shell::ShownMessage& m) { shown.push_back(m); });
  }
  ~MessageLog() { shell::SetMessagePresenter(previous_); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& m : shown) texts.push_back(m.text);
    return texts;
  }
  std::vector<shell::ShownMessage> shown;

 private:
  shell::MessagePresenter previous_;
};

struct ExpectedControl {
  const char* name;
  const char* parent;
  QRect geometry;
  const char* text;
  int fontPixels;
};

// The control table as the window must show it at 96 dpi.
const ExpectedControl kControls[] = {
    {"lbl2", "Form4", {36, 8, 232, 18}, "Select lines in Norvane editor to Adjust", 15},
    {"lbl4", "Form4", {15, 8, 13, 18}, "1.", 15},
    {"lbl7", "Form4", {15, 205, 13, 18}, "4.", 15},
    {"lbl5", "Form4", {39, 236, 119, 13}, "Gutter will show changes", 11},
    {"btnRun", "Form4", {52, 201, 75, 25}, "Adjust", 11},
    {"btnExit", "Form4", {276, 201, 75, 25}, "Close", 11},
    {"grp1", "Form4", {8, 123, 413, 69}, "3. Arcs", 15},
    {"lbl3", "grp1", {28, 19, 124, 26}, "Change programmed Arcs\nwith Radius less than ", 11},
    {"lbl10", "grp1", {248, 27, 99, 13}, "Change feedrate to:", 11},
    {"edt2", "grp1", {160, 24, 57, 21}, "", 11},
    {"edt4", "grp1", {351, 24, 49, 21}, "", 11},
    {"grp2", "Form4", {8, 43, 413, 74}, "2. Lines", 15},
    {"lbl1", "grp2", {20, 23, 130, 26}, "Change programmed Lines \nwith length less than:", 11},
    {"lbl9", "grp2", {244, 28, 99, 13}, "Change feedrate to:", 11},
    {"edt1", "grp2", {160, 24, 57, 21}, "", 11},
    {"edt3", "grp2", {351, 24, 49, 21}, "", 11},
    {"chk1", "grp2", {244, 49, 97, 17}, "Only on 45 Deg.", 11},
};

QString TextOf(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  return "<no text>";
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { form = std::make_unique<TForm4>(); }
  void TearDown() override { form.reset(); }

  void ShowActive() {
    form->ShowFromMessageLoop();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get(), 5000));
  }

  std::unique_ptr<TForm4> form;
};

TEST_F(WindowTest, EveryControlAtItsPlaceAt96Dpi) {
  EXPECT_EQ(Form4, form.get());
  EXPECT_TRUE(form->Scale().identity());
  EXPECT_EQ(form->windowTitle(), "Norvane Brevand");
  EXPECT_EQ(form->size(), QSize(431, 266));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // fixed
  EXPECT_EQ(form->font().pixelSize(), 11);
  for (const ExpectedControl& c : kControls) {
    SCOPED_TRACE(c.name);
    auto* w = form->findChild<QWidget*>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->parentWidget()->objectName(), c.parent);
    if (qobject_cast<QLabel*>(w) != nullptr) {
      // A label sits at its place, at least its stored size, and shows all its text.
      EXPECT_EQ(w->pos(), c.geometry.topLeft());
      EXPECT_GE(w->width(), c.geometry.width());
      EXPECT_GE(w->height(), c.geometry.height());
      const QSize text = QFontMetrics(w->font()).size(0, QString::fromUtf8(c.text));
      EXPECT_GE(w->width(), text.width());
      EXPECT_LE(w->geometry().right(), w->parentWidget()->width());
      for (QWidget* sibling : w->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QLabel*>(sibling) == nullptr && qobject_cast<QGroupBox*>(sibling) == nullptr) {
          EXPECT_FALSE(w->geometry().intersects(sibling->geometry()))
              << "overlaps " << sibling->objectName().toStdString();
        }
      }
    } else {
      EXPECT_EQ(w->geometry(), c.geometry);
    }
    EXPECT_EQ(TextOf(w), QString::fromUtf8(c.text));
    EXPECT_EQ(w->font().pixelSize(), c.fontPixels);
    EXPECT_EQ(w->font().family(), shell::WindowFontFamily());
  }
  EXPECT_TRUE(form->chk1->isChecked());
  EXPECT_EQ(form->lbl2->palette().color(QPalette::WindowText), QColor(Qt::black));
  EXPECT_FALSE(form->btnExit->icon().isNull());
  EXPECT_TRUE(form->btnRun->icon().isNull());
}

TEST_F(WindowTest, TitleBarOffersMinimiseAndCloseButNoMaximiseAndStaysOnTop) {
  const Qt::WindowFlags flags = form->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
}

TEST(WindowFont, ZeroIsThirteenPixelsHighInTheDesignFont) {
  EXPECT_EQ(shell::ZeroTextHeight(shell::WindowFont(11)), 13);
}

TEST(WindowScaling, DoubleResolutionScalesEverythingByTheMeasuredHeight) {
  const int zero = shell::ZeroTextHeight(shell::WindowFont(22));
  ASSERT_GT(zero, 13);
  TForm4 form({}, 192);
  const shell::LayoutScale s = form.Scale();
  EXPECT_EQ(s.num, zero);
  EXPECT_EQ(s.den, 13);
  EXPECT_EQ(form.size(), QSize(s(431), s(266)));
  EXPECT_EQ(form.btnExit->geometry(), QRect(s(276), s(201), s(75), s(25)));
  EXPECT_EQ(form.edt4->geometry(), QRect(s(351), s(24), s(49), s(21)));
  EXPECT_EQ(form.grp2->font().pixelSize(), s(15));
  EXPECT_EQ(form.chk1->font().pixelSize(), s(11));
  if (shell::WindowFontFamily() == "Tahoma") {
    // Tahoma at 22 px: "0" is 27 px high, so 52 px become 108.
    EXPECT_EQ(form.btnRun->geometry(), QRect(108, 417, 156, 52));
  }
}

TEST(WindowScaling, WindowFontByResolutionControlsByZeroHeight) {
  // The window font scales with the resolution (11 px at 96 dpi); the
  // controls' own fonts by the new height of "0" against 13. The buttons
  // and lbl5 use the window font.
  const struct {
    int dpi;
    int windowFont;
  } cases[] = {{120, 14}, {144, 17}, {192, 22}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dpi);
    TForm4 form({}, c.dpi);
    const shell::LayoutScale s = form.Scale();
    EXPECT_EQ(s(13), shell::ZeroTextHeight(shell::WindowFont(c.windowFont)));
    EXPECT_EQ(form.font().pixelSize(), c.windowFont);
    for (QWidget* w : {static_cast<QWidget*>(form.btnRun), static_cast<QWidget*>(form.btnExit),
                       static_cast<QWidget*>(form.lbl5)}) {
      EXPECT_EQ(w->font().pixelSize(), c.windowFont) << w->objectName().toStdString();
    }
    for (QWidget* w : {static_cast<QWidget*>(form.edt1), static_cast<QWidget*>(form.lbl9),
                       static_cast<QWidget*>(form.chk1), static_cast<QWidget*>(form.lbl3)}) {
      EXPECT_EQ(w->font().pixelSize(), s(11)) << w->objectName().toStdString();
    }
    EXPECT_EQ(form.grp1->font().pixelSize(), s(15));
    EXPECT_EQ(form.lbl2->font().pixelSize(), s(15));
    EXPECT_EQ(form.btnRun->geometry(), QRect(s(52), s(201), s(75), s(25)));
  }
}

TEST_F(WindowTest, EditFieldsHaveNoLengthLimit) {
  const QString text(100000, QLatin1Char('7'));
  for (QLineEdit* field : {form->edt1, form->edt2, form->edt3, form->edt4}) {
    SCOPED_TRACE(field->objectName().toStdString());
    field->setText(text);
    EXPECT_EQ(field->text().size(), text.size());
    field->clear();
    field->insert(text);  // as a paste does
    EXPECT_EQ(field->text().size(), text.size());
  }
}

TEST_F(WindowTest, TabOrderRunsAcrossTheWindowAndBack) {
  ShowActive();
  EXPECT_EQ(QApplication::focusWidget(), form->btnRun);
  const std::vector<QWidget*> chain = {form->btnExit, form->edt2, form->edt4, form->edt1,
                                       form->edt3,    form->chk1, form->btnRun};
  for (QWidget* next : chain) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
  }
}

TEST_F(WindowTest, TypedLettersBecomeUpperCasePastedTextStays) {
  ShowActive();
  form->edt1->setFocus();
  QTest::keyClicks(form->edt1, "sqrt(e)+1.5");
  EXPECT_EQ(form->edt1->text(), "SQRT(E)+1.5");

  // é typed: unchanged.
  QKeyEvent eAcute(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("\xc3\xa9"));
  QApplication::sendEvent(form->edt1, &eAcute);
  EXPECT_EQ(form->edt1->text(), QString::fromUtf8("SQRT(E)+1.5\xc3\xa9"));

  // Backspace passes as a key, not as a letter.
  QTest::keyClick(form->edt1, Qt::Key_Backspace);
  QTest::keyClick(form->edt1, Qt::Key_Backspace);
  EXPECT_EQ(form->edt1->text(), "SQRT(E)+1.");

  // Pasting with Ctrl+V keeps lower case.
  form->edt3->setFocus();
  QApplication::clipboard()->setText("sin(a)");
  QTest::keyClick(form->edt3, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(form->edt3->text(), "sin(a)");
}

TEST_F(WindowTest, EscapeClosesFromAnyControlUnlessShiftCtrlOrAltIsHeld) {
  ShowActive();
  int closed = 0;
  QObject::connect(form.get(), &TForm4::Closed, [&closed] { ++closed; });
  form->edt2->setFocus();
  for (auto modifier : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier}) {
    QTest::keyClick(form->edt2, Qt::Key_Escape, modifier);
  }
  EXPECT_EQ(closed, 0);
  EXPECT_TRUE(form->isVisible());
  QTest::keyClick(form->edt2, Qt::Key_Escape);
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(form->isVisible());
}

TEST_F(WindowTest, CentredAtFirstShowAndSnapsToWorkAreaEdges) {
  EXPECT_EQ(form->pos(), QPoint(0, 0));
  ShowActive();
  const QRect area = form->screen()->availableGeometry();
  const QRect frame = form->frameGeometry();
  EXPECT_EQ(frame.x() - area.x(), (area.width() - frame.width()) / 2);
  EXPECT_EQ(frame.y() - area.y(), (area.height() - frame.height()) / 2);

  form->move(area.x() + 9, area.y() + 100);
  QApplication::processEvents();
  EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(area.x(), area.y() + 100));
  form->move(area.x() + 10, area.y() + 100);
  QApplication::processEvents();
  EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(area.x() + 10, area.y() + 100));
}

TEST(Handlers, WrapperReportsEscapedErrorsButNotSilentAborts) {
  MessageLog log;
  shell::SetApplicationTitle("Pellmark");
  shell::RunHandler([] { throw std::runtime_error("Floating point overflow"); });
  shell::RunHandler([] { throw shell::SilentAbort(); });
  shell::RunHandler([] {});
  ASSERT_EQ(log.shown.size(), 1u);
  EXPECT_EQ(log.shown[0].kind, shell::MessageKind::kErrorReport);
  EXPECT_EQ(log.shown[0].caption, "Pellmark");
  EXPECT_EQ(log.shown[0].text, "Floating point overflow.");
}

TEST(Handlers, AdjustWithoutLinkReportsInvalidVariantOperation) {
  MessageLog log;
  shell::SetApplicationTitle("Pellmark");
  TForm4 form;
  ASSERT_FALSE(HostEditor.Linked());
  form.edt1->setText("1");
  form.edt3->setText("100");
  form.btnRun->click();
  form.btnRun->click();
  ASSERT_EQ(log.shown.size(), 2u);
  for (const auto& m : log.shown) {
    EXPECT_EQ(m.kind, shell::MessageKind::kErrorReport);
    EXPECT_EQ(m.text, "Invalid variant operation.");
  }
}

// A connector that finds no host, running or installed.
class NoHost : public hostlink::Connector {
 public:
  std::unique_ptr<hostlink::Transport> GetRunning() override { return nullptr; }
  std::unique_ptr<hostlink::Transport> Create() override { throw std::runtime_error("gone"); }
};

TEST(Handlers, FormCreateWithoutHostShowsBothMessagesInOrderAndStaysHidden) {
  MessageLog log;
  shell::SetApplicationTitle("Pellmark");
  bool mutexCreated = false;
  FormCreateSteps steps;
  steps.createMutex = [&] { mutexCreated = true; };
  steps.connector = [] { return std::make_unique<NoHost>(); };
  TForm4 form(steps);
  EXPECT_TRUE(mutexCreated);
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "This Program Requires Norvane Editor to be Installed",
                             "Unable to Link to Norvane"}));
  for (const auto& m : log.shown) {
    EXPECT_EQ(m.kind, shell::MessageKind::kMessage);
    EXPECT_EQ(m.caption, "Pellmark");
  }
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(HostEditor.Linked());
}

TEST(Handlers, ErrorInFormCreateIsReportedAndTheWindowStillBuilds) {
  MessageLog log;
  FormCreateSteps steps;
  steps.createMutex = [] { throw std::runtime_error("disk on fire"); };
  TForm4 form(steps);
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"disk on fire."});
  EXPECT_EQ(Form4, &form);
}

// The real boxes: caption, icon, one OK button, dismissed by the test.
TEST(Messages, BoxesShowCaptionIconAndOneOkButton) {
  shell::SetApplicationTitle("Pellmark");
  struct Case {
    std::function<void()> show;
    QMessageBox::Icon icon;
    const char* text;
  } cases[] = {
      {[] { shell::MyMessage("No Lines in Norvane Selected"); }, QMessageBox::NoIcon,
       "No Lines in Norvane Selected"},
      {[] { shell::RunHandler([] { throw std::runtime_error("Invalid variant operation"); }); },
       QMessageBox::Critical, "Invalid variant operation."},
  };
  for (const Case& c : cases) {
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::Question;
    int buttons = -1;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(qobject_cast<QMessageBox*>(QApplication::activeModalWidget()), 5000);
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      caption = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = static_cast<int>(box->buttons().size());
      box->button(QMessageBox::Ok)->click();
    });
    c.show();
    EXPECT_EQ(caption, "Pellmark");
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(icon, c.icon);
    EXPECT_EQ(buttons, 1);
  }
}

TEST(Startup, WindowThatCannotBeBuiltEndsWithApplicationErrorAndCode1) {
  MessageLog log;
  const int code = shell::RunProgram([]() -> std::unique_ptr<TForm4> {
    throw std::runtime_error("Failed to create FileMapping");
  });
  EXPECT_EQ(code, 1);
  ASSERT_EQ(log.shown.size(), 1u);
  EXPECT_EQ(log.shown[0].kind, shell::MessageKind::kApplicationError);
  EXPECT_EQ(log.shown[0].caption, "Application Error");
  const std::string& text = log.shown[0].text;
  EXPECT_EQ(text.rfind("Exception std::runtime_error in module shell_window_test at ", 0), 0u)
      << text;
  EXPECT_NE(text.find(".\nFailed to create FileMapping."), std::string::npos) << text;
}

TEST(Startup, ClosingTheWindowEndsTheLoopWithCode0AndReleasesTheLink) {
  MessageLog log;
  QTimer::singleShot(0, [] {
    ASSERT_NE(Form4, nullptr);
    EXPECT_TRUE(Form4->isVisible());
    Form4->btnExit->click();
  });
  QTimer watchdog;  // a loop that fails to end must not hang the test
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  watchdog.start(5000);
  EXPECT_EQ(shell::RunProgram(FormCreateSteps{}), 0);
  EXPECT_TRUE(watchdog.isActive()) << "the loop ended only through the watchdog";
  EXPECT_EQ(Form4, nullptr);
  EXPECT_FALSE(HostEditor.Linked());
  EXPECT_TRUE(log.shown.empty());
}

}  // namespace

int main(int argc, char** argv) {
  // Widget tests never need a real display (test discovery runs this too).
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  shell::RegisterWindowFont();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
