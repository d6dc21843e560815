// The error the instance registry raises when its shared objects cannot be
// created or may not be used.
#ifndef SHELL_GUARD_GUARD_ERROR_H_
#define SHELL_GUARD_GUARD_ERROR_H_

#include <stdexcept>
#include <string>

namespace guard {

// Thrown while the guard or the registry is built. what() is the text for
// the start-up error box ("Failed to create FileMapping", ...); the program
// shows it and ends with exit code 1. Kind name for that box: "EGuardError".
class GuardError : public std::runtime_error {
 public:
  explicit GuardError(const std::string& text) : std::runtime_error(text) {}
};

}  // namespace guard

#endif  // SHELL_GUARD_GUARD_ERROR_H_
