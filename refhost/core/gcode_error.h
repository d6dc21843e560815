// The one error of reading and running NC code: a line the interpreter cannot
// read, a value it cannot compute, or a construct it does not run. The text
// says what is wrong in the controller's terms, without the line number
// (the caller knows the line).
#ifndef REFHOST_CORE_GCODE_ERROR_H_
#define REFHOST_CORE_GCODE_ERROR_H_

#include <stdexcept>
#include <string>

namespace refhost {

class GcodeError : public std::runtime_error {
 public:
  explicit GcodeError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace refhost

#endif  // REFHOST_CORE_GCODE_ERROR_H_
