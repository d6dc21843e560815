// The pass over 20,000 short diagonal moves, against the in-process scripted
// host: the pass's own cost per visited line, without any bus.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "feed/pass.h"
#include "feed/tests/scripted_host.h"

namespace {

constexpr int kLines = 20000;

feed::testing::ScriptedHost DiagonalMoves(bool recording) {
  feed::testing::ScriptedHost host;
  host.start = 1;
  host.end = kLines;
  host.recording = recording;
  host.lines.reserve(kLines);
  for (int i = 0; i < kLines; ++i) {
    feed::testing::ScriptedLine l;
    l.code = 1;
    l.p1 = {i * 0.1, i * 0.1, -1};
    l.p2 = {(i + 1) * 0.1, (i + 1) * 0.1, -1};
    l.feed = 400;
    host.lines.push_back(l);
  }
  return host;
}

// recording = 0: calls only counted; 1: every call kept as text too.
void BM_PassDiagonalMoves(benchmark::State& state) {
  const bool recording = state.range(0) != 0;
  const feed::PassInput input{"1", "200", "5", "150", true};
  const auto ignore = [](const std::string&) {};
  std::size_t calls = 0;
  double totalNs = 0;
  for (auto _ : state) {
    feed::testing::ScriptedHost host = DiagonalMoves(recording);
    const auto t0 = std::chrono::steady_clock::now();
    feed::RunPass(host, input, ignore);
    const auto t1 = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count();
    state.SetIterationTime(ns * 1e-9);
    totalNs += ns;
    calls = host.callCount;
    benchmark::DoNotOptimize(host.calls.data());
  }
  state.counters["ns_per_line"] = totalNs / (static_cast<double>(state.iterations()) * kLines);
  state.counters["calls_per_line"] = static_cast<double>(calls) / kLines;
}
BENCHMARK(BM_PassDiagonalMoves)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
