// Fuzzes Evaluate and FieldValue: no crash, never NaN or infinity, 0 unless
// the status is 1, and no exception but the three floating-point faults.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "mcparser/mcparser.h"

namespace {

void Fail(const char* what) {
  std::fprintf(stderr, "evaluate_fuzzer: %s\n", what);
  std::abort();
}

void CheckFault(const mcparser::FloatingPointError& e) {
  const char* t = e.what();
  if (std::strcmp(t, mcparser::kOverflowText) != 0 &&
      std::strcmp(t, mcparser::kDivideByZeroText) != 0 &&
      std::strcmp(t, mcparser::kInvalidOperationText) != 0) {
    Fail("unexpected fault text");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    std::uint16_t status = 99;
    const double v = mcparser::Evaluate(text, status);
    if (!std::isfinite(v)) Fail("non-finite value");
    if (status != mcparser::kStatusOk && status != mcparser::kStatusSyntaxError &&
        status != mcparser::kStatusMathError) {
      Fail("unknown status");
    }
    if (status != mcparser::kStatusOk && v != 0) Fail("value without status 1");
  } catch (const mcparser::FloatingPointError& e) {
    CheckFault(e);
  } catch (...) {
    Fail("unexpected exception");
  }
  try {
    if (!std::isfinite(mcparser::FieldValue(text))) Fail("non-finite field value");
  } catch (const mcparser::FloatingPointError& e) {
    CheckFault(e);
  } catch (...) {
    Fail("unexpected exception from FieldValue");
  }
  return 0;
}
