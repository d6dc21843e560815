// Figures of the editor core on a generated program of a million lines:
// opening it (read + Load, peak memory against the file size), stepping it,
// and a feed pass over 100,000 lines in process. Prints each figure.
//
// Usage: refhost_core_bench [lines] [work-dir]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "refhost/core/automation.h"
#include "refhost/core/program_run.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Peak resident memory of the process in bytes (VmHWM).
long long PeakBytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      long long kb = 0;
      status >> kb;
      return kb * 1024;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// Writes a surfacing-like program line by line: packed words, modal moves,
// arcs, feed changes, comments.
void WriteProgram(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  out << "G21 G90 G17\nG0 X0 Y0 Z5\nG1 Z-1 F300\n";
  char buf[96];
  for (long i = 4; i <= lines; ++i) {
    int n;
    switch (i % 10) {
      case 0: n = std::snprintf(buf, sizeof buf, "G2 X%.3f Y%.3f R%.3f\n", (i % 97) * 0.5, (i % 89) * 0.25, 40.0 + i % 7); break;
      case 1: n = std::snprintf(buf, sizeof buf, "G1 X%.3f F%d\n", (i % 97) * 0.5, 200 + static_cast<int>(i % 5) * 50); break;
      case 5: n = std::snprintf(buf, sizeof buf, "(pass %ld)\n", i / 10); break;
      default: n = std::snprintf(buf, sizeof buf, "N%ldY%.3fZ-%.3f\n", i, (i % 113) * 0.1, (i % 7) * 0.01); break;
    }
    out.write(buf, n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string path = dir + "/refhost_core_bench_" + std::to_string(lines) + ".ngc";
  WriteProgram(path, lines);

  // Opening: read from disk and Load.
  const long long base = PeakBytes();
  refhost::Document doc;
  auto start = Clock::now();
  std::string text;
  {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    text.resize(static_cast<std::size_t>(in.tellg()));
    in.seekg(0);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
  }
  const double file_size = static_cast<double>(text.size());
  const double read_seconds = Seconds(start);
  doc.Load(std::move(text));
  const double open_seconds = Seconds(start);
  const long long peak = PeakBytes();
  std::printf("open: %ld lines, %.1f MB file, read + Load %.3f s (read %.3f s; target < 1 s)\n",
              static_cast<long>(doc.LineCount()), file_size / 1e6, open_seconds, read_seconds);
  std::printf("open: peak memory %.1f MB = %.2f x the file (%.2f x counting only what opening added; target < 4 x)\n",
              static_cast<double>(peak) / 1e6, static_cast<double>(peak) / file_size,
              static_cast<double>(peak - base) / file_size);

  // Stepping every line in process.
  {
    refhost::Automation automation(doc);
    double checksum = 0;
    start = Clock::now();
    automation.selectline(1);
    for (std::int64_t i = 1; i <= doc.LineCount(); ++i) {
      automation.step();
      checksum += automation.CurrentBlock(19);
    }
    const double seconds = Seconds(start);
    std::printf("step: %.2f M lines/s (%.3f s for %ld lines; target > 2 M/s) [%g]\n",
                static_cast<double>(doc.LineCount()) / seconds / 1e6, seconds,
                static_cast<long>(doc.LineCount()), checksum > 0 ? 1.0 : 0.0);
  }

  // Jumps: selectline to random lines, then one step.
  {
    refhost::Automation automation(doc);
    std::mt19937 random(1);
    const int jumps = 20000;
    start = Clock::now();
    for (int i = 0; i < jumps; ++i) {
      automation.selectline(1 + static_cast<std::int32_t>(random() % static_cast<std::uint32_t>(doc.LineCount())));
      automation.step();
    }
    const double seconds = Seconds(start);
    std::printf("jump: %.1f us per selectline to a random line and step (%.0f lines interpreted per jump)\n",
                seconds / jumps * 1e6, static_cast<double>(automation.LinesInterpreted()) / jumps);
  }

  // The real programs, stepped whole many times.
  for (const char* name : {"3D_Chips.ngc", "arcspiral.ngc", "lathe_pawn.ngc"}) {
    std::ifstream in(std::string(BREVAND_NGC_DIR) + "/" + name, std::ios::binary);
    std::ostringstream program;
    program << in.rdbuf();
    if (program.str().empty()) continue;
    refhost::Document real;
    real.Load(program.str());
    long stepped = 0;
    start = Clock::now();
    while (Seconds(start) < 0.2) {
      refhost::Automation automation(real);
      for (std::int64_t i = 1; i <= real.LineCount(); ++i) automation.step();
      stepped += static_cast<long>(real.LineCount());
    }
    std::printf("step: %.2f M lines/s on %s\n", static_cast<double>(stepped) / Seconds(start) / 1e6, name);
  }

  // A feed pass over 100,000 lines: eight reads a line, nine for arcs, a feed
  // write (four calls) on every short move.
  {
    refhost::Automation automation(doc);
    const std::int32_t first = 1000;
    const std::int32_t last = first + 99999 < doc.LineCount() ? first + 99999 : static_cast<std::int32_t>(doc.LineCount());
    start = Clock::now();
    automation.selectline(first);
    automation.markline(0, 0);
    long writes = 0;
    for (std::int32_t line = first; line <= last; ++line) {
      automation.step();
      double v = 0;
      for (int index : {4, 5, 6, 7, 8, 9, 19, 1}) v += automation.CurrentBlock(index);
      int motion = static_cast<int>(automation.CurrentBlock(1));
      if (motion == 2 || motion == 3) v += automation.CurrentBlock(23);
      double dy = automation.CurrentBlock(8) - automation.CurrentBlock(5);
      if (motion == 1 && dy > 0 && dy < 1.0) {
        automation.selectline(line);
        automation.add("F", 120);
        automation.markline(line, 1);
        automation.selectline(line + 1);
        ++writes;
      }
      (void)v;
    }
    automation.EndPass();
    const double seconds = Seconds(start);
    std::printf("pass: %d lines with %ld feed writes in %.3f s: %.0f lines/s in process\n",
                last - first + 1, writes, seconds, (last - first + 1) / seconds);
    start = Clock::now();
    doc.Undo();
    std::printf("pass: undone in one step in %.3f s\n", Seconds(start));
  }
  // Parameters and expressions on every line, read line by line.
  {
    std::string program = "#1=0.5\n#2=0\n#<scale>=1.5\n#3=300\nG21 G90 G17 G0 X0 Y0 Z1\n";
    char buf[160];
    for (long i = 5; i < lines; ++i) {
      int n = i % 10 == 0 ? std::snprintf(buf, sizeof buf, "#2=[#2+1] (%ld)\n", i)
                          : std::snprintf(buf, sizeof buf, "G1 X[#1*%ld+0.5] Y[SIN[#2*3]*10*#<scale>] Z[-FIX[#2/7]] F[#3+#2 MOD 50]\n", i % 97);
      program.append(buf, static_cast<std::size_t>(n));
    }
    refhost::Document expr;
    expr.Load(std::move(program));
    refhost::Automation automation(expr);
    double checksum = 0;
    start = Clock::now();
    automation.selectline(1);
    for (std::int64_t i = 1; i <= expr.LineCount(); ++i) {
      automation.step();
      checksum += automation.CurrentBlock(7);
    }
    const double seconds = Seconds(start);
    std::printf("expressions: %.0f lines/s (%ld lines with parameters and expressions; target >= 300000) [%g]\n",
                static_cast<double>(expr.LineCount()) / seconds, static_cast<long>(expr.LineCount()),
                checksum != 0 ? 1.0 : 0.0);
  }

  // Subroutines and loops: a small program that makes millions of moves.
  {
    const long calls = 500000;
    std::string program =
        "o100 sub\nG91 G1 X0.01 Y0.01\nX-0.01\no110 if [#1 GT 0]\nY-0.01 Z#1\no110 else\nY-0.01 Z[0-#1]\n"
        "o110 endif\nG90\no100 endsub\nG21 G0 X0 Y0 Z1\nF300\n#5=0\no1 while [#5 LT " +
        std::to_string(calls) + "]\no100 call [[#5 MOD 2] - 0.5]\n#5=[#5+1]\no1 endwhile\nM2\n";
    refhost::Document flow;
    flow.Load(std::move(program));
    const long long before = PeakBytes();
    refhost::ProgramRun run;
    start = Clock::now();
    run.Run(flow.LineCount(), [&](std::int64_t line) { return flow.Line(line); });
    const double seconds = Seconds(start);
    const long long grown = PeakBytes() - before;
    const double moves = static_cast<double>(run.Motions());
    std::printf("control flow: %.0f moves in %.3f s (%.0f executed lines/s)%s\n", moves, seconds,
                static_cast<double>(run.LinesExecuted()) / seconds, run.ErrorLine() ? " ERROR" : "");
    std::printf("control flow: %.4f bytes held per executed move (%zu bytes), peak grew %.4f bytes per move "
                "(target <= 100)\n",
                static_cast<double>(run.MemoryBytes()) / moves, run.MemoryBytes(),
                static_cast<double>(grown > 0 ? grown : 0) / moves);
  }
  std::printf("peak memory at the end: %.1f MB\n", static_cast<double>(PeakBytes()) / 1e6);
  std::remove(path.c_str());
  return 0;
}
