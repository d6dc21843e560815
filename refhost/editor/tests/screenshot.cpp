// Makes the README's picture: the mill sample in the editor after one pass
// (the sample README's fields), with the toolpath view beside the text.
//
// Usage: editor_screenshot OUTPUT.png   (scripts/screenshot.sh runs it)
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardPaths>
#include <QTest>

#include <cstdio>
#include <string>

#include "feed/pass.h"
#include "refhost/editor/main_window.h"
#include "refhost/editor/tests/automation_host.h"
#include "refhost/editor/tests/xvfb_display.h"
#include "refhost/editor/toolpath_panel.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: editor_screenshot OUTPUT.png\n");
    return 2;
  }
  QStandardPaths::setTestModeEnabled(true);  // the user's settings stay untouched
  if (!refhost::testing::UseXDisplay()) return 1;
  QApplication app(argc, argv);
  refhost::EditorSession session;
  std::string error;
  if (!session.Open(std::string(NORVANE_SAMPLES_DIR) + "/mill.ngc", error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  refhost::MainWindow window(session, false);
  window.toolpath()->ShowView(true);
  window.resize(1280, 720);
  window.show();
  if (!QTest::qWaitForWindowExposed(&window) || window.toolpath()->view() == nullptr) {
    std::fprintf(stderr, "no OpenGL window\n");
    return 1;
  }
  window.toolpath()->dock()->setMinimumWidth(700);
  window.toolpath()->analyzer()->Flush();
  QApplication::processEvents();

  session.Select(1, session.document().LineCount());
  feed::PassInput fields;
  fields.edt1 = "5";
  fields.edt3 = "200";
  fields.edt2 = "3";
  fields.edt4 = "150";
  fields.chk1 = true;
  refhost::testing::AutomationHost host(session.automation());
  feed::RunPass(host, fields, [](const std::string& m) { std::fprintf(stderr, "pass: %s\n", m.c_str()); });
  session.EndPass();
  session.MoveCursor(12, false);
  window.toolpath()->analyzer()->Flush();
  QApplication::processEvents();
  window.toolpath()->view()->SetPreset(refhost::ToolpathView::Preset::kTop);
  QTest::qWait(500);  // the still picture
  QApplication::processEvents();

  QImage shot = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
  {
    // The window's grab may hold an older frame of the view: draw its own on top.
    refhost::ToolpathView* view = window.toolpath()->view();
    QImage frame = view->grabFramebuffer();
    frame.setDevicePixelRatio(1);
    QPainter painter(&shot);
    painter.drawImage(view->mapTo(&window, QPoint(0, 0)), frame);
  }
  if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG", 9)) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  std::printf("%s: %dx%d\n", argv[1], shot.width(), shot.height());
  return 0;
}
