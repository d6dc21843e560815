// The toolpath view in the window, rendered offscreen: the colours of known
// segments, rapids dashed, pass lines wider, clicking and highlighting, the
// feeds before the pass, and the cycle time in the status bar.
#include <QApplication>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <string>

#include "refhost/editor/main_window.h"
#include "refhost/editor/tests/xvfb_display.h"
#include "refhost/editor/toolpath_panel.h"

namespace refhost {
namespace {

// Three feed moves on a square's sides, slowest to fastest, and a rapid on
// its diagonal (lines 2 to 6).
constexpr char kProgram[] =
    "G21 G90 G17 G64\n"
    "G1 X60 F100\n"         // 2 slowest: blue
    "G1 Y60 F1000\n"        // 3 fastest: red
    "G1 X0 F550\n"          // 4 middle: green
    "G0 X60 Y0\n"           // 5 rapid, grey dashes
    "G1 X80 F100\n";        // 6 slow again

class ToolpathViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.document().Load(kProgram);
    window_ = std::make_unique<MainWindow>(session_, false);
    panel_ = window_->toolpath();
    panel_->ShowView(true);
    window_->resize(1100, 700);
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    Settle();
    panel_->view()->SetPreset(ToolpathView::Preset::kTop);
  }
  void Settle() {
    panel_->analyzer()->Flush();
    QApplication::processEvents();
  }
  QImage Frame() { return panel_->view()->grabFramebuffer(); }
  QPointF At(double x, double y) const { return panel_->view()->Project(x, y, 0); }
  // The colour at a program point, in 0..1.
  std::array<float, 3> ColourAt(const QImage& frame, double x, double y) const {
    const QPointF p = At(x, y) * frame.devicePixelRatio();
    const QColor c = frame.pixelColor(int(std::lround(p.x())), int(std::lround(p.y())));
    return {float(c.redF()), float(c.greenF()), float(c.blueF())};
  }
  // True when a pixel within one of the point's shows `want` (lines fall
  // on either side of a pixel edge).
  bool Shows(const QImage& frame, double x, double y, std::array<float, 3> want) const {
    const QPointF p = At(x, y) * frame.devicePixelRatio();
    for (int dy = -1; dy <= 1; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const QColor c = frame.pixelColor(int(std::lround(p.x())) + dx, int(std::lround(p.y())) + dy);
        if (Near({float(c.redF()), float(c.greenF()), float(c.blueF())}, want)) return true;
      }
    }
    return false;
  }
  static bool Near(std::array<float, 3> got, std::array<float, 3> want) {
    for (int i = 0; i < 3; ++i) {
      if (std::fabs(got[i] - want[i]) > 0.08f) return false;
    }
    return true;
  }
  static std::string Text(std::array<float, 3> c) {
    return std::to_string(c[0]) + " " + std::to_string(c[1]) + " " + std::to_string(c[2]);
  }

  EditorSession session_;
  std::unique_ptr<MainWindow> window_;
  ToolpathPanel* panel_ = nullptr;
};

TEST_F(ToolpathViewTest, ColoursFeedsOnOneScaleAndDashesRapids) {
  const QImage frame = Frame();
  const struct {
    double x, y;
    float t;
  } cases[] = {{30, 0, 0.0f}, {60, 45, 1.0f}, {30, 60, 0.5f}};
  for (const auto& c : cases) {
    EXPECT_TRUE(Shows(frame, c.x, c.y, FeedColour(c.t))) << c.x << "," << c.y << ": "
                                                         << Text(ColourAt(frame, c.x, c.y));
  }
  // Along the rapid: grey dashes with gaps of background between.
  int grey = 0, gap = 0;
  for (int i = 5; i < 56; ++i) {
    const auto c = ColourAt(frame, i, 60 - i);
    if (Near(c, {0.55f, 0.55f, 0.55f})) ++grey;
    else if (Near(c, {0.12f, 0.12f, 0.13f})) ++gap;
  }
  EXPECT_GT(grey, 5);
  EXPECT_GT(gap, 5);
}

TEST_F(ToolpathViewTest, ClickMovesTheCursorAndTheSelectionIsHighlighted) {
  QWidget* view = panel_->view();
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(60, 30).toPoint());
  EXPECT_EQ(session_.selection().Cursor(), 3);
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(20, 60).toPoint());
  EXPECT_EQ(session_.selection().Cursor(), 4);
  const QImage highlighted = Frame();
  EXPECT_TRUE(Shows(highlighted, 20, 60, {1, 1, 1}));
  EXPECT_TRUE(Shows(highlighted, 30, 0, FeedColour(0))) << "not selected";
  // Nothing there: the cursor stays.
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, At(45, 45).toPoint() + QPoint(0, 2));
  EXPECT_EQ(session_.selection().Cursor(), 4);
}

TEST_F(ToolpathViewTest, APassShowsWiderLinesFeedsBeforeAndCycleTimes) {
  session_.MoveCursor(5, false);  // the rapid: highlight away from lines 2 and 6
  Settle();
  const std::string before_status = panel_->status()->text().toStdString();
  EXPECT_TRUE(std::regex_match(before_status, std::regex("cycle \\d+:\\d\\d, selection \\d+:\\d\\d")))
      << before_status;
  // A pass as the automation makes one: one undo group, feeds written, marks.
  Document& doc = session_.document();
  doc.BeginGroup();
  doc.SetMark(0, false);
  doc.ReplaceLine(2, "G1 X60 F1000");
  doc.SetMark(2, true);
  doc.EndGroup();
  Settle();
  const std::string status = panel_->status()->text().toStdString();
  EXPECT_TRUE(std::regex_match(status, std::regex("cycle \\d+:\\d\\d \u2192 \\d+:\\d\\d \\(-\\d+\\.\\d %\\), "
                                                  "selection \\d+:\\d\\d \u2192 \\d+:\\d\\d")))
      << status;
  const QImage after = Frame();
  EXPECT_TRUE(Shows(after, 30, 0, FeedColour(1)));
  // The pass's line is wider than the unmarked slow line 6.
  const auto edge = [&](const QImage& f, double x, double y) {
    const QPointF p = (At(x, y) + QPointF(0, 2)) * f.devicePixelRatio();
    return f.pixelColor(p.toPoint());
  };
  const QColor background = edge(after, 45, 45);
  EXPECT_NE(edge(after, 30, 0).rgb() & 0xFFFFFF, background.rgb() & 0xFFFFFF) << "marked line 2 is wide";
  EXPECT_EQ(edge(after, 70, 0).rgb() & 0xFFFFFF, background.rgb() & 0xFFFFFF) << "line 6 is thin";

  ASSERT_TRUE(panel_->before_action()->isEnabled());
  panel_->before_action()->setChecked(true);
  EXPECT_TRUE(Shows(Frame(), 30, 0, FeedColour(0))) << "F100 before the pass";
  session_.Undo();  // the marks go: no more before and after
  Settle();
  EXPECT_FALSE(panel_->before_action()->isEnabled());
  EXPECT_TRUE(Shows(Frame(), 30, 0, FeedColour(0)));
  EXPECT_EQ(panel_->status()->text().toStdString().find("\u2192"), std::string::npos);
}

// A lathe program lies in X-Z: the spindle axis Z to the right, X up.
TEST_F(ToolpathViewTest, ALatheProgramLiesInTheXZPlane) {
  session_.SetSystemType(kSystemTypeLathe);
  session_.document().Load("G18 G0 X20 Z2\nG1 Z-30 F0.2\nG1 X30\n");
  Settle();
  ToolpathView* view = panel_->view();
  ASSERT_TRUE(view->Lathe());
  const QPointF origin = view->Project(0, 0, 0), x = view->Project(10, 0, 0), z = view->Project(0, 0, 10);
  EXPECT_GT(z.x() - origin.x(), 10);
  EXPECT_NEAR(z.y(), origin.y(), 1e-3);
  EXPECT_LT(x.y() - origin.y(), -10);
  EXPECT_NEAR(x.x(), origin.x(), 1e-3);
  view->Orbit(30, 30);  // no orbiting in the plane
  EXPECT_EQ(view->Project(0, 0, 10), z);
}

// A second pass begun before the last edit was analysed still compares
// with the text as the pass found it.
TEST_F(ToolpathViewTest, APassRightAfterAnEditComparesWithTheEditedText) {
  Automation& a = session_.automation();
  const auto pass = [&](std::int32_t line, double feed) {
    a.markline(0, 0);
    a.selectline(line);
    a.add("F", feed);
    a.markline(line, 1);
    session_.EndPass();
  };
  pass(2, 1000);
  Settle();
  session_.ReplaceLine(4, "G1 X0 F100");  // not yet analysed when the pass begins
  pass(3, 100);
  Settle();
  Document edited;
  edited.Load(kProgram);
  edited.ReplaceLine(2, "G1 X60 F1000");
  edited.ReplaceLine(4, "G1 X0 F100");
  const auto baseline = panel_->analyzer()->Baseline();
  ASSERT_NE(baseline, nullptr);
  EXPECT_NEAR(baseline->time.total,
              EstimateCycleTime(edited, panel_->analyzer()->Profile(kSystemTypeMill)).total, 1e-9);
}

}  // namespace
}  // namespace refhost

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QStandardPaths::setTestModeEnabled(true);
  if (!refhost::testing::UseXDisplay()) return 1;
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
