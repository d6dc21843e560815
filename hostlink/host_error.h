// The failure of a host call or of the conversion of its result.
#ifndef HOSTLINK_HOST_ERROR_H_
#define HOSTLINK_HOST_ERROR_H_

#include <stdexcept>
#include <string>

namespace hostlink {

// what() is the text the error report shows (before its period rule).
class HostError : public std::runtime_error {
 public:
  explicit HostError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace hostlink

#endif  // HOSTLINK_HOST_ERROR_H_
