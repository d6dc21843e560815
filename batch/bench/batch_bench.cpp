// The whole run of brevand-batch (read, pass, save) over a generated
// program of a million lines, as a separate process: lines per second and
// its peak memory (ru_maxrss) against the file size, each the median of
// several runs.
//
// Usage: batch_bench [lines] [work-dir] [runs] [brevand-batch to run]
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A surfacing-like program: packed modal moves, short diagonal steps,
// arcs by R and by I J, feed changes, comments.
void WriteProgram(const std::string& path, long lines) {
  std::ofstream out(path, std::ios::binary);
  out << "G21 G90 G17\nG0 X0 Y0 Z5\nG1 Z-1 F300\n";
  char buf[96];
  double x = 0, y = 0;  // where the last line ended, so that every R arc reaches its end
  for (long i = 4; i <= lines; ++i) {
    int n;
    const double px = x, py = y;
    switch (i % 10) {
      case 0: {
        x = (i % 97) * 0.5, y = (i % 89) * 0.25;
        const double half_chord = std::hypot(x - px, y - py) / 2;
        n = std::snprintf(buf, sizeof buf, "G2 X%.3f Y%.3f R%.3f\n", x, y,
                          std::max(0.5 + static_cast<double>(i % 7), std::ceil(half_chord * 1000 + 1) / 1000));
        break;
      }
      case 1: x = (i % 97) * 0.5; n = std::snprintf(buf, sizeof buf, "G1 X%.3f F%d\n", x, 200 + static_cast<int>(i % 5) * 50); break;
      case 2: case 3:
        x = (i % 97) * 0.5 + 0.3, y = (i % 89) * 0.25 + 0.3;
        n = std::snprintf(buf, sizeof buf, "X%.3f Y%.3f\n", x, y);
        break;
      case 5: n = std::snprintf(buf, sizeof buf, "(pass %ld)\n", i / 10); break;
      case 7:
        x = (i % 97) * 0.5, y = (i % 89) * 0.25;
        n = std::snprintf(buf, sizeof buf, "G3 X%.3f Y%.3f I0.4 J0.3\n", x, y);
        break;
      // Back to G1 after the arc: a modal arc line needs a centre of its own.
      case 8: y = (i % 113) * 0.1; n = std::snprintf(buf, sizeof buf, "N%ldG1Y%.3fZ-%.3f\n", i, y, (i % 7) * 0.01); break;
      default: y = (i % 113) * 0.1; n = std::snprintf(buf, sizeof buf, "N%ldY%.3fZ-%.3f\n", i, y, (i % 7) * 0.01); break;
    }
    out.write(buf, n);
  }
}

struct Run {
  double seconds = 0;
  double cpu_seconds = 0;  // user + system: steadier than wall time on a busy machine
  long long peak_bytes = 0;
  int status = -1;
};

// Runs the program with `args`, its output to /dev/null; the peak memory is
// the child's own (each run in a fresh intermediate process).
Run RunProgram(const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::FILE* null = std::fopen("/dev/null", "w");
    if (null) ::dup2(::fileno(null), 2);
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[0]);
  ::close(pipe_fds[1]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peak_bytes = static_cast<long long>(usage.ru_maxrss) * 1024;
  run.cpu_seconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const int runs = std::max(1, argc > 3 ? std::atoi(argv[3]) : 5);
  const std::string program = argc > 4 ? argv[4] : BREVAND_BATCH_PATH;
  const std::string source = dir + "/batch_bench_" + std::to_string(::getpid()) + ".ngc";
  const std::string work = source + ".work.ngc";
  WriteProgram(source, lines);
  struct stat st {};
  ::stat(source.c_str(), &st);
  const double file_bytes = static_cast<double>(st.st_size);
  std::printf("program: %ld lines, %.1f MB\n", lines, file_bytes / 1e6);

  struct Case {
    const char* name;
    std::vector<std::string> options;
  } cases[] = {
      {"diagonals only, in place", {}},
      {"all directions, in place", {"--all-directions"}},
      {"all directions, -o FILE", {"--all-directions", "-o", work + ".out"}},
  };
  int failures = 0;
  for (const Case& c : cases) {
    std::vector<double> seconds, cpu;
    std::vector<long long> peaks;
    bool failed = false;
    for (int i = 0; i < runs; ++i) {
      // A fresh copy each time, so that every run writes as much.
      std::ifstream in(source, std::ios::binary);
      std::ofstream(work, std::ios::binary) << in.rdbuf();
      std::vector<std::string> args{program, "--line-length", "1", "--line-feed", "150",
                                    "--arc-radius", "2", "--arc-feed", "120", "--no-backup"};
      args.insert(args.end(), c.options.begin(), c.options.end());
      args.push_back(work);
      const Run run = RunProgram(args);
      failed = failed || run.status != 0;
      seconds.push_back(run.seconds);
      cpu.push_back(run.cpu_seconds);
      peaks.push_back(run.peak_bytes);
    }
    if (failed) ++failures;
    std::sort(seconds.begin(), seconds.end());
    std::sort(peaks.begin(), peaks.end());
    std::sort(cpu.begin(), cpu.end());
    const double median_cpu = cpu[cpu.size() / 2];
    const double median_seconds = seconds[seconds.size() / 2];
    const double median_peak = static_cast<double>(peaks[peaks.size() / 2]);
    std::printf("%-26s median of %d: %.3f s, %.0f lines/s (target >= 1100000; by CPU time %.3f s: "
                "%.0f lines/s); peak %.1f MB = %.2f x the file (target <= 2.1 x)%s\n",
                c.name, runs, median_seconds, static_cast<double>(lines) / median_seconds, median_cpu,
                static_cast<double>(lines) / median_cpu,
                median_peak / 1e6, median_peak / file_bytes, failed ? "  FAILED" : "");
  }
  // How much of the program a run writes.
  {
    std::ifstream in(source, std::ios::binary);
    std::ofstream(work, std::ios::binary) << in.rdbuf();
    std::string command = program +
                          " --line-length 1 --line-feed 150 --arc-radius 2 --arc-feed 120"
                          " --all-directions --no-backup " + work + " 2>&1";
    if (std::FILE* p = ::popen(command.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, p)) std::printf("summary: %s", line);
      ::pclose(p);
    }
  }
  std::remove(source.c_str());
  std::remove(work.c_str());
  std::remove((work + ".out").c_str());
  return failures == 0 ? 0 : 1;
}
