// Helpers for the editor's benchmarks: generated programs and memory figures.
#ifndef REFHOST_EDITOR_BENCH_BENCH_UTIL_H_
#define REFHOST_EDITOR_BENCH_BENCH_UTIL_H_

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <stdlib.h>
#include <unistd.h>

namespace refhost::bench {

// Writes a mill program of `lines` lines to `path` without holding it in
// memory: mostly short diagonal G1 moves with a long move and an arc now and
// then, feeds changing every few hundred lines. Returns the file's size.
inline std::uint64_t WriteProgram(const std::string& path, std::int64_t lines) {
  std::ofstream out(path, std::ios::binary);
  out << "%\nG21 G90 G17\n";
  double x = 0, y = 0;
  char buf[96];
  for (std::int64_t i = 3; i < lines - 2; ++i) {
    int n;
    if (i % 50 == 0) {
      x += 1; y += 1;
      n = std::snprintf(buf, sizeof buf, "N%lld G2 X%.3f Y%.3f R1.\n", static_cast<long long>(i), x, y);
    } else if (i % 20 == 0) {
      x += 30;
      n = std::snprintf(buf, sizeof buf, "N%lld G1 X%.3f F%d\n", static_cast<long long>(i), x,
                        400 + static_cast<int>(i / 300 % 5) * 100);
    } else {
      x += 0.5; y += 0.5;
      n = std::snprintf(buf, sizeof buf, "N%lld G1 X%.3f Y%.3f\n", static_cast<long long>(i), x, y);
    }
    out.write(buf, n);
  }
  out << "G0 Z5.\nM30\n%\n";
  return static_cast<std::uint64_t>(out.tellp());
}

// A temporary folder for a generated program, removed with its file on every
// way out of the benchmark.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/editor-bench-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) path_ = pattern;
  }
  ~TempFolder() {
    if (path_.empty()) return;
    ::unlink(File().c_str());
    ::rmdir(path_.c_str());
  }
  bool Valid() const { return !path_.empty(); }
  std::string File() const { return path_ + "/program.ngc"; }

 private:
  std::string path_;
};

// A "VmHWM" or "VmRSS" figure of /proc/<pid>/status, in bytes (0 if unknown).
inline std::uint64_t ProcMemory(const std::string& pid, const char* field) {
  std::ifstream in("/proc/" + pid + "/status");
  std::string key;
  while (in >> key) {
    if (key == std::string(field) + ":") {
      std::uint64_t kb = 0;
      in >> kb;
      return kb * 1024;
    }
    std::getline(in, key);
  }
  return 0;
}

// CPU seconds (user + system) used so far by process `pid`.
inline double CpuSeconds(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/stat");
  std::string line;
  std::getline(in, line);
  const auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::string field;
  std::istringstream rest(line.substr(close + 2));
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  return double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

inline double Mb(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace refhost::bench

#endif  // REFHOST_EDITOR_BENCH_BENCH_UTIL_H_
