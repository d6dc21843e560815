// FieldValue over typical field texts; target: median under 250 ns a call.
#include <benchmark/benchmark.h>

#include <string>

#include "mcparser/mcparser.h"

namespace {

// 90 characters, every operator, parentheses and three functions.
const std::string kLong =
    "(400*0.8+SQRT(2)*0.5)/(1+2^3^0.5)-ABS(-12.5)*3.25+SIN(30)*COS(60)-(7-2-1)/16+1.5E2/3-0.125";
// 90 characters of plain arithmetic.
const std::string kLongArithmetic =
    "(400*0.8+12.5)/(1+2*3.5)-(12.5-3)*3.25+(30-7)*(60+1)-(7-2-1)/16+1.5E2/3-0.125+(1.5*2)-0.25";

void BM_FieldValue(benchmark::State& state, const std::string& text) {
  for (auto _ : state) benchmark::DoNotOptimize(mcparser::FieldValue(text));
}

BENCHMARK_CAPTURE(BM_FieldValue, plain_2_5, std::string("2.5"));
BENCHMARK_CAPTURE(BM_FieldValue, quotient_1_16, std::string("1/16"));
BENCHMARK_CAPTURE(BM_FieldValue, sqrt_2_times_half, std::string("SQRT(2)*0.5"));
BENCHMARK_CAPTURE(BM_FieldValue, product_400_0_8, std::string("400*0.8"));
BENCHMARK_CAPTURE(BM_FieldValue, negated_power, std::string("-(3+4)^2"));
BENCHMARK_CAPTURE(BM_FieldValue, long_90_chars, kLong);
BENCHMARK_CAPTURE(BM_FieldValue, long_90_arithmetic, kLongArithmetic);
BENCHMARK_CAPTURE(BM_FieldValue, long_with_blanks, std::string("1 + 2 * ( 3 - 4 ) / 5"));

}  // namespace

BENCHMARK_MAIN();
