// A full feed pass over 100,000 lines through the bus: feed::RunPass over
// hostlink's D-Bus link against the headless editor on a private bus.
// Prints lines per second and the editor's peak memory.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "feed/pass.h"
#include "hostlink/attach.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/host_editor.h"
#include "hostlink/testing/private_bus.h"
#include "refhost/editor/bench/bench_util.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::int64_t lines = argc > 1 ? std::atoll(argv[1]) : 100000;
  const refhost::bench::TempFolder folder;
  if (!folder.Valid()) return 1;
  const std::string file = folder.File();
  const std::uint64_t size = refhost::bench::WriteProgram(file, lines);

  hostlink::testing::PrivateBus bus;
  QString error;
  if (!bus.Start(&error)) {
    std::fprintf(stderr, "no private bus: %s\n", qPrintable(error));
    return 1;
  }
  QProcess* process = bus.StartProcess(
      QStringLiteral(NORVANE_EDITOR_PATH),
      {"--headless", "--select", QStringLiteral("1:%1").arg(lines), QString::fromStdString(file)});
  if (bus.WaitForOwner("norvane.norvanex", 30000).isEmpty()) {
    std::fprintf(stderr, "the editor did not come up\n");
    return 1;
  }
  const std::string pid = std::to_string(process->processId());
  const std::uint64_t before = refhost::bench::ProcMemory(pid, "VmHWM");

  hostlink::HostEditor editor;
  hostlink::dbus::DbusConnector connector(bus.Address().toStdString());
  const auto say = [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); };
  if (!hostlink::AttachSequence(editor, connector, say)) return 1;

  // Short diagonals get F200, arcs of radius 1 get F150, long moves their
  // own feed back: most lines are written.
  feed::PassInput input{"5", "200", "3", "150", true};
  const double cpu0 = refhost::bench::CpuSeconds(pid);
  const auto t0 = std::chrono::steady_clock::now();
  try {
    feed::RunPass(editor, input, say);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pass failed: %s\n", e.what());
    return 1;
  }
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = refhost::bench::CpuSeconds(pid) - cpu0;

  QDBusMessage marks = QDBusMessage::createMethodCall("norvane.norvanex", "/norvanex",
                                                      "norvane.norvanex.Editor", "MarkedLines");
  const QDBusMessage reply = bus.Connection().call(marks, QDBus::Block, 30000);
  const auto marked = qdbus_cast<QList<qlonglong>>(reply.arguments().value(0));
  const std::uint64_t hwm = refhost::bench::ProcMemory(pid, "VmHWM");

  std::printf("program:                  %lld lines, %.1f MB\n", static_cast<long long>(lines),
              refhost::bench::Mb(size));
  std::printf("pass over the bus:        %.2f s, %.0f lines per second, %lld lines written\n", secs,
              double(lines) / secs, static_cast<long long>(marked.size()));
  std::printf("editor CPU time:           %.2f s (%.1f us per line; the rest is the bus)\n", cpu,
              cpu * 1e6 / double(lines));
  std::printf("editor peak memory:       %.1f MB after opening, %.1f MB after the pass (%.2f x file)\n",
              refhost::bench::Mb(before), refhost::bench::Mb(hwm), double(hwm) / double(size));
  bus.Stop();
  return 0;
}
