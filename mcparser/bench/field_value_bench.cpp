// FieldValue over typical field texts; target: median under 250 ns a call.
// Runs each text in several repetitions and prints, besides the usual
// table, the median per text and the median over the typical texts.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "mcparser/mcparser.h"

namespace {

// 90 characters, every operator, parentheses and three functions.
const std::string kLong =
    "(400*0.8+SQRT(2)*0.5)/(1+2^3^0.5)-ABS(-12.5)*3.25+SIN(30)*COS(60)-(7-2-1)/16+1.5E2/3-0.125";
// 90 characters of plain arithmetic.
const std::string kLongArithmetic =
    "(400*0.8+12.5)/(1+2*3.5)-(12.5-3)*3.25+(30-7)*(60+1)-(7-2-1)/16+1.5E2/3-0.125+(1.5*2)-0.25";

struct Text {
  const char* name;
  std::string text;
  bool typical;  // counts towards the target's median
};

const std::vector<Text>& Texts() {
  static const std::vector<Text> texts = {
      {"plain_2_5", "2.5", true},
      {"quotient_1_16", "1/16", true},
      {"sqrt_2_times_half", "SQRT(2)*0.5", true},
      {"product_400_0_8", "400*0.8", true},
      {"negated_power", "-(3+4)^2", true},
      {"long_90_chars", kLong, true},
      {"long_90_arithmetic", kLongArithmetic, false},
      {"long_with_blanks", "1 + 2 * ( 3 - 4 ) / 5", false},
  };
  return texts;
}

void BM_FieldValue(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(mcparser::FieldValue(text));
}

// Keeps the median of each text's repetitions while printing as usual.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_.push_back({run.run_name.str(), run.GetAdjustedCPUTime()});
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintSummary() const {
    std::vector<double> typical, all;
    std::printf("\nMedian CPU time per call:\n");
    for (const auto& [name, ns] : medians_) {
      bool is_typical = false;
      for (const Text& t : Texts()) {
        if (name.find(t.name) != std::string::npos) is_typical = t.typical;
      }
      std::printf("  %-40s %9.1f ns%s\n", name.c_str(), ns, is_typical ? "" : "  (not typical)");
      if (is_typical) typical.push_back(ns);
      all.push_back(ns);
    }
    if (typical.empty()) return;
    std::printf("Median over the %zu typical texts: %.1f ns (target: under 250 ns)\n",
                typical.size(), Median(typical));
    std::printf("Median over all %zu texts: %.1f ns\n", all.size(), Median(all));
  }

  static double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }

 private:
  std::vector<std::pair<std::string, double>> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  // Repetitions by default, so that every text gets a median.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=9";
  bool has_repetitions = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0) has_repetitions = true;
  }
  if (!has_repetitions) args.push_back(repetitions.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  for (const Text& t : Texts()) {
    benchmark::RegisterBenchmark((std::string("BM_FieldValue/") + t.name).c_str(),
                                 BM_FieldValue, t.text);
  }
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintSummary();
  benchmark::Shutdown();
  return 0;
}
