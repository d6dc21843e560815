// Figures of the toolpath view on a generated program of a million lines:
// how much longer the window takes to open with the view than without
// (until the path is drawn), and the time of a frame while orbiting, on the
// display in DISPLAY or a private Xvfb (Mesa's software renderer).
//
// Usage: editor_toolpath_bench [lines]
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "batch/tests/generated_programs.h"
#include "refhost/editor/main_window.h"
#include "refhost/editor/tests/xvfb_display.h"
#include "refhost/editor/toolpath_panel.h"

namespace {

// CPU seconds of the process so far (all threads): on a machine shared
// with other work, the wall clock alone overstates our own cost.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Seconds from Open() to the window painted; with the view, to the path drawn.
double OpenSeconds(const std::string& path, bool with_view, double* cpu, double* orbit_ms = nullptr) {
  refhost::EditorSession session;
  refhost::MainWindow window(session, false);
  window.toolpath()->ShowView(with_view);
  window.resize(1280, 800);
  window.show();
  (void)QTest::qWaitForWindowExposed(&window);
  QApplication::processEvents();
  QElapsedTimer timer;
  timer.start();
  const double cpu_start = CpuSeconds();
  double seconds = 0;
  std::string error;
  if (!session.Open(path, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::exit(1);
  }
  window.repaint();
  if (with_view) {
    refhost::ToolpathView* view = window.toolpath()->view();
    while (!view || !window.toolpath()->analyzer()->UpToDate() ||
           !window.toolpath()->analyzer()->Current()->geometry) {
      window.toolpath()->analyzer()->Flush();
      QApplication::processEvents();
      view = window.toolpath()->view();
    }
    std::printf("  analysis ready after %.3f s\n", double(timer.nsecsElapsed()) / 1e9);
    (void)view->grabFramebuffer();
    std::printf("  first frame %.1f ms, %zu segments\n", view->LastFrameMs(), view->LastFrameSegments());
    seconds = double(timer.nsecsElapsed()) / 1e9;  // the path is on the screen
    *cpu = CpuSeconds() - cpu_start;
    QTest::qWait(400);
    double still = 0, longest = 0;
    std::size_t segments = 0;
    int slices = 0;
    do {
      (void)view->grabFramebuffer();
      still += view->LastFrameMs();
      longest = std::max(longest, view->LastFrameMs());
      segments += view->LastFrameSegments();
      ++slices;
    } while (!view->PictureComplete());
    std::printf("  still picture: %zu segments in %d slices, %.1f ms in all, longest slice %.1f ms\n", segments,
                slices, still, longest);
  }
  QApplication::processEvents();
  if (!with_view) {
    seconds = double(timer.nsecsElapsed()) / 1e9;
    *cpu = CpuSeconds() - cpu_start;
  }
  if (orbit_ms != nullptr) {
    refhost::ToolpathView* view = window.toolpath()->view();
    std::vector<double> frames;
    for (int i = 0; i < 20; ++i) {
      QElapsedTimer frame;
      frame.start();
      view->Orbit(4.0f, -1.0f);
      (void)view->grabFramebuffer();
      frames.push_back(view->LastFrameMs());
    }
    std::sort(frames.begin(), frames.end());
    orbit_ms[0] = frames[frames.size() / 2];
    orbit_ms[1] = frames.back();
    std::printf("orbit frames draw %zu segments\n", view->LastFrameSegments());
    std::printf("segments drawn: %zu\n", window.toolpath()->analyzer()->Current()->geometry->SegmentCount());
  }
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;
  QStandardPaths::setTestModeEnabled(true);
  if (!refhost::testing::UseXDisplay()) return 1;
  QApplication app(argc, argv);
  const std::string path = "/tmp/editor_toolpath_bench_" + std::to_string(::getpid()) + ".ngc";
  batch::testing::WriteAll(path, batch::testing::MillProgram(lines));
  double cpu_without = 0, cpu_with = 0;
  const double without = OpenSeconds(path, false, &cpu_without);
  double orbit[2] = {0, 0};
  const double with = OpenSeconds(path, true, &cpu_with, orbit);
  std::remove(path.c_str());
  std::printf("lines %d\n", lines);
  std::printf("open without the view: %.3f s\n", without);
  std::printf("open with the view drawn: %.3f s (+%.3f s, limit +1 s)\n", with, with - without);
  std::printf("CPU time of the opening: %.3f s without, %.3f s with the view (+%.3f s)\n", cpu_without, cpu_with,
              cpu_with - cpu_without);
  std::printf("orbit frame: median %.1f ms, slowest %.1f ms (limit 100 ms)\n", orbit[0], orbit[1]);
  return with - without <= 1.0 && orbit[1] <= 100.0 ? 0 : 1;
}
