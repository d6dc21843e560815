// Floating-point faults: overflow, division by zero, invalid operation.
#ifndef MCPARSER_FPFAULT_H_
#define MCPARSER_FPFAULT_H_

#include <stdexcept>
#include <string>

namespace mcparser {

// what() is exactly "Floating point overflow", "Floating point division by
// zero" or "Invalid floating point operation".
class FloatingPointError : public std::runtime_error {
 public:
  explicit FloatingPointError(const std::string& text) : std::runtime_error(text) {}
};

inline constexpr const char* kOverflowText = "Floating point overflow";
inline constexpr const char* kDivideByZeroText = "Floating point division by zero";
inline constexpr const char* kInvalidOperationText = "Invalid floating point operation";

}  // namespace mcparser

#endif  // MCPARSER_FPFAULT_H_
