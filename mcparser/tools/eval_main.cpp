// mcparser_eval: evaluates each argument as an input field and prints the
// text, the status and the value (or the floating-point fault).
#include <cstdint>
#include <cstdio>
#include <string>

#include "mcparser/mcparser.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s EXPRESSION...\n", argv[0]);
    return 2;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string text = argv[i];
    try {
      std::uint16_t status = 0;
      const double value = mcparser::Evaluate(mcparser::StripBlanks(text), status);
      std::printf("\"%s\"\tstatus %u\tvalue %.15g\n", text.c_str(), status, value);
    } catch (const mcparser::FloatingPointError& e) {
      std::printf("\"%s\"\t%s\n", text.c_str(), e.what());
    }
  }
  return 0;
}
