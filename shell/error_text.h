// Texts of the error report and of the start-up failure box.
#ifndef SHELL_ERROR_TEXT_H_
#define SHELL_ERROR_TEXT_H_

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

namespace shell {

// An error that ends a handler without telling the user anything.
class SilentAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// `message` followed by "." when it is not empty and its last character's
// code lies above that of "." (so ")" or "!" get none, "e" or "é" get one).
// `message` is UTF-8; its last byte decides, which for any non-ASCII
// character is above "." as its code is.
std::string WithReportPeriod(const std::string& message);

// `message` followed by "." unless it is empty or already ends in ".".
std::string WithStartupPeriod(const std::string& message);

// The text of the error report for `error`: the message of the innermost
// nested error that carries one, under the report's period rule. Empty
// optional for a SilentAbort (anywhere in the chain), which is not shown.
// An error that is no std::exception reads "Unknown error".
std::optional<std::string> ErrorReportText(std::exception_ptr error);

// The start-up failure text: "Exception <kind> in module <module> at
// <address>." then, on the next line, the message under the start-up
// period rule. `address` is printed as 8 hexadecimal digits.
std::string StartupErrorText(const std::string& kind, const std::string& module,
                             std::uintptr_t address, const std::string& message);

// Kind of `error` as a readable type name ("hostlink::HostError").
std::string ErrorKind(std::exception_ptr error);

// Innermost non-empty message of `error` ("" when none carries one).
std::string InnermostMessage(std::exception_ptr error);

}  // namespace shell

#endif  // SHELL_ERROR_TEXT_H_
