// Text results of any content: converting them never crashes, and a text
// that converts gives a finite value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "hostlink/host_error.h"
#include "hostlink/host_value.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static const hostlink::NumberFormat kFormats[] = {
      {".", ","}, {",", "."}, {",", "\u202f"}, {".", ""}, {",", ","}};
  const hostlink::HostValue value = hostlink::HostValue::Text(text);
  for (const auto& format : kFormats) {
    try {
      if (!std::isfinite(value.ToReal(format))) std::abort();
    } catch (const hostlink::HostError&) {
    }
    try {
      value.ToInteger(format);
    } catch (const hostlink::HostError&) {
    }
  }
  return 0;
}
