// Opening a generated 1,000,000-line program: in process (the open path the
// headless editor runs) and as the program itself until it serves the bus.
// Prints seconds and peak memory against the file's size.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "hostlink/testing/private_bus.h"
#include "refhost/editor/bench/bench_util.h"
#include "refhost/editor/session.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t lines = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const refhost::bench::TempFolder folder;
  if (!folder.Valid()) return 1;
  const std::string file = folder.File();
  const std::uint64_t size = refhost::bench::WriteProgram(file, lines);
  std::printf("program:                  %lld lines, %.1f MB\n", static_cast<long long>(lines),
              refhost::bench::Mb(size));

  // In a child, so that its peak memory is the open path's alone.
  int pipefd[2];
  if (::pipe(pipefd) != 0) return 1;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipefd[0]);
    const std::uint64_t base = refhost::bench::ProcMemory("self", "VmRSS");
    refhost::EditorSession session;
    std::string error;
    const auto t0 = Clock::now();
    if (!session.Open(file, error)) _exit(1);
    const double secs = Seconds(t0);
    const std::uint64_t hwm = refhost::bench::ProcMemory("self", "VmHWM");
    char text[256];
    const int n = std::snprintf(text, sizeof text,
                                "open in process:          %.3f s (target < 1 s), %lld lines\n"
                                "peak memory in process:   %.1f MB = %.2f x file (target < 4), "
                                "%.2f x file above the %.1f MB at start\n",
                                secs, static_cast<long long>(session.document().LineCount()),
                                refhost::bench::Mb(hwm), double(hwm) / double(size),
                                double(hwm - base) / double(size), refhost::bench::Mb(base));
    (void)!::write(pipefd[1], text, n);
    _exit(0);
  }
  ::close(pipefd[1]);
  char text[512] = {};
  (void)!::read(pipefd[0], text, sizeof text - 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  std::fputs(text, stdout);

  // The program: from start until it owns its name, then its peak memory.
  QCoreApplication app(argc, argv);
  hostlink::testing::PrivateBus bus;
  QString error;
  if (!bus.Start(&error)) {
    std::fprintf(stderr, "no private bus: %s\n", qPrintable(error));
    return 1;
  }
  const auto t0 = Clock::now();
  QProcess* editor = bus.StartProcess(QStringLiteral(NORVANE_EDITOR_PATH),
                                      {"--headless", QString::fromStdString(file)});
  const QString owner = bus.WaitForOwner("norvane.norvanex", 30000);
  const double secs = Seconds(t0);
  if (owner.isEmpty()) {
    std::fprintf(stderr, "the editor did not come up\n");
    return 1;
  }
  const std::string pid = std::to_string(editor->processId());
  const std::uint64_t hwm = refhost::bench::ProcMemory(pid, "VmHWM");
  std::printf("norvane-editor --headless: serving after %.3f s (process start, Qt, open, bus)\n", secs);
  std::printf("editor peak memory:       %.1f MB = %.2f x file\n", refhost::bench::Mb(hwm),
              double(hwm) / double(size));
  bus.Stop();
  return 0;
}
