// Feed passes through the bus against the headless editor on a private bus
// (feed::RunPass over hostlink's D-Bus link), with the figures a reader needs
// beside them, all from one run:
//   - 100,000 lines of a generated program (most lines written): lines per
//     second, member calls and waited round trips per line, editor CPU;
//   - the raw blocking round trip of the connection the pass used, and a
//     plain Unix-socket ping-pong between two processes (the floor of any
//     waited call on this machine);
//   - ../shared/ngc/3D_Chips.ngc repeated to 100,000 lines;
//   - one pass over 1,000,000 lines: time and the editor's memory growth
//     per written line (skipped with --no-million).
// Usage: editor_pass_bench [lines] [--no-million] [--bus-only] [--runs N]
// (--runs N: the main pass N times, then its median time; the other rows
// once.)
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "feed/pass.h"
#include "hostlink/dbus/dbus_connector.h"
#include "hostlink/dbus/dbus_transport.h"
#include "hostlink/host_editor.h"
#include "hostlink/testing/private_bus.h"
#include "refhost/editor/bench/bench_util.h"

namespace {

using Clock = std::chrono::steady_clock;

struct PassFigures {
  bool ok = false;
  bool direct = false;
  std::int64_t lines = 0, written = 0;
  double secs = 0, editorCpu = 0;
  hostlink::dbus::DbusTransport::Stats counts;
  double pingUs = 0;  // median blocking Peer.Ping on the pass's connection
  std::int64_t rssGrowth = 0;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One pass over `lines` lines of `file` (selected whole) against a fresh
// editor on a fresh private bus.
PassFigures Pass(const std::string& file, std::int64_t lines, bool direct, bool chk1 = true) {
  PassFigures f;
  f.lines = lines;
  hostlink::testing::PrivateBus bus;
  QString error;
  if (!bus.Start(&error)) {
    std::fprintf(stderr, "no private bus: %s\n", qPrintable(error));
    return f;
  }
  QProcess* process = bus.StartProcess(
      QStringLiteral(NORVANE_EDITOR_PATH),
      {"--headless", "--select", QStringLiteral("1:%1").arg(lines), QString::fromStdString(file)});
  if (bus.WaitForOwner("norvane.norvanex", 60000).isEmpty()) {
    std::fprintf(stderr, "the editor did not come up\n");
    return f;
  }
  const std::string pid = std::to_string(process->processId());

  hostlink::dbus::DbusConnector connector(bus.Address().toStdString());
  connector.UseDirect(direct);
  std::unique_ptr<hostlink::Transport> t;
  try {
    t = connector.GetRunning();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "attach failed: %s\n", e.what());
    return f;
  }
  auto* transport = dynamic_cast<hostlink::dbus::DbusTransport*>(t.get());
  f.direct = transport->Direct();
  std::vector<double> pings;
  for (int i = 0; i < 2000; ++i) {
    const auto t0 = Clock::now();
    transport->Ping();
    pings.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  f.pingUs = Median(pings);
  hostlink::HostEditor editor;
  editor.Link(std::move(t));

  const std::uint64_t rss0 = refhost::bench::ProcMemory(pid, "VmRSS");
  const double cpu0 = refhost::bench::CpuSeconds(pid);
  // Short diagonals get F200, arcs below radius 3 get F150, long moves
  // their own feed back: most lines are written.
  const feed::PassInput input{"5", "200", "3", "150", chk1};
  const auto t0 = Clock::now();
  try {
    feed::RunPass(editor, input, [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pass failed: %s\n", e.what());
    return f;
  }
  f.secs = std::chrono::duration<double>(Clock::now() - t0).count();
  f.editorCpu = refhost::bench::CpuSeconds(pid) - cpu0;
  f.counts = transport->Counts();
  const std::uint64_t rss1 = refhost::bench::ProcMemory(pid, "VmRSS");
  f.rssGrowth = static_cast<std::int64_t>(rss1) - static_cast<std::int64_t>(rss0);

  QDBusMessage marks = QDBusMessage::createMethodCall("norvane.norvanex", "/norvanex",
                                                      "norvane.norvanex.Editor", "MarkedLines");
  const QDBusMessage reply = bus.Connection().call(marks, QDBus::Block, 60000);
  f.written = qdbus_cast<QList<qlonglong>>(reply.arguments().value(0)).size();
  f.ok = true;
  bus.Stop();
  return f;
}

void Print(const char* name, const PassFigures& f) {
  if (!f.ok) {
    std::printf("%-28s failed\n", name);
    return;
  }
  const double n = static_cast<double>(f.lines);
  const double writes = static_cast<double>(f.written);
  std::printf("%-28s %8.2f s %9.0f lines/s  %lld written  %s\n", name, f.secs, n / f.secs,
              static_cast<long long>(f.written), f.direct ? "direct" : "bus");
  std::printf("%-28s %.2f calls and %.2f waited round trips per line; %.2f feed writes per line\n", "",
              double(f.counts.calls) / n, double(f.counts.waits) / n, writes > 0 ? double(f.counts.calls - 9 * f.lines) / 4.0 / n : 0.0);
  std::printf("%-28s editor CPU %.1f us per line; raw blocking round trip %.1f us\n", "",
              f.editorCpu * 1e6 / n, f.pingUs);
}

// Median round trip of one byte between two processes over a socket pair.
double SocketPingPongUs(int rounds) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  const pid_t child = ::fork();
  char b = 0;
  if (child == 0) {
    ::close(sv[0]);
    while (::read(sv[1], &b, 1) == 1) {
      if (::write(sv[1], &b, 1) != 1) break;
    }
    ::_exit(0);
  }
  ::close(sv[1]);
  std::vector<double> us;
  for (int i = 0; i < rounds; ++i) {
    const auto t0 = Clock::now();
    if (::write(sv[0], &b, 1) != 1 || ::read(sv[0], &b, 1) != 1) break;
    us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  ::close(sv[0]);
  ::waitpid(child, nullptr, 0);
  return Median(us);
}

// `source` repeated (without its "%" lines) until `lines` lines are written.
bool RepeatProgram(const std::string& source, const std::string& out, std::int64_t lines) {
  std::ifstream in(source);
  std::vector<std::string> body;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    if (l.find('%') == std::string::npos) body.push_back(l);
  }
  if (body.empty()) return false;
  std::ofstream o(out, std::ios::binary);
  for (std::int64_t i = 0; i < lines; ++i) o << body[static_cast<std::size_t>(i) % body.size()] << '\n';
  return static_cast<bool>(o);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::int64_t lines = 100000;
  bool million = true, busOnly = false;
  int runs = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-million") == 0) million = false;
    else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else if (std::strcmp(argv[i], "--bus-only") == 0) busOnly = true;
    else lines = std::atoll(argv[i]);
  }
  const refhost::bench::TempFolder folder;
  if (!folder.Valid()) return 1;
  const std::string file = folder.File();
  const std::uint64_t size = refhost::bench::WriteProgram(file, lines);
  std::printf("program: %lld lines, %.1f MB\n", static_cast<long long>(lines), refhost::bench::Mb(size));
  std::printf("Unix-socket ping-pong between two processes: %.1f us per round trip (median)\n",
              SocketPingPongUs(20000));

  PassFigures main = Pass(file, lines, !busOnly);
  Print("pass", main);
  if (runs > 1) {
    std::vector<double> secs{main.secs};
    for (int r = 1; r < runs; ++r) {
      const PassFigures again = Pass(file, lines, !busOnly);
      Print("pass again", again);
      secs.push_back(again.secs);
    }
    const double median = Median(secs);
    std::printf("%-28s median of %d runs %.2f s, %.0f lines/s\n", "pass", runs, median,
                double(lines) / median);
  }
  if (!busOnly) Print("pass, calls on the bus", Pass(file, std::min<std::int64_t>(lines, 20000), false));

  const std::string chips = std::string(BREVAND_NGC_DIR) + "/3D_Chips.ngc";
  const std::string repeated = file + ".chips";
  if (RepeatProgram(chips, repeated, lines)) {
    // Its moves are 3D surface moves: every short move counts, not only diagonals.
    Print("3D_Chips.ngc repeated", Pass(repeated, lines, !busOnly, /*chk1=*/false));
  } else {
    std::printf("3D_Chips.ngc not found under %s\n", BREVAND_NGC_DIR);
  }
  ::unlink(repeated.c_str());

  if (million) {
    refhost::bench::WriteProgram(file, 1000000);
    const PassFigures big = Pass(file, 1000000, !busOnly);
    Print("1,000,000 lines", big);
    if (big.ok && big.written > 0) {
      std::printf("%-28s editor memory grew %.1f MB, %.0f bytes per written line\n", "",
                  double(big.rssGrowth) / (1024.0 * 1024.0), double(big.rssGrowth) / double(big.written));
    }
  }
  return main.ok ? 0 : 1;
}
