#include "shell/error_text.h"

#include <cxxabi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace shell {
namespace {

// Walks the chain of nested errors from the outermost inwards; `visit` gets
// each std::exception, or nullptr for an error of another type.
template <typename Visit>
void ForEachNested(std::exception_ptr error, Visit&& visit) {
  while (error) {
    std::exception_ptr inner;
    try {
      std::rethrow_exception(error);
    } catch (const std::exception& e) {
      visit(&e);
      if (const auto* nested = dynamic_cast<const std::nested_exception*>(&e)) {
        inner = nested->nested_ptr();
      }
    } catch (...) {
      visit(nullptr);
    }
    error = inner;
  }
}

}  // namespace

std::string WithReportPeriod(const std::string& message) {
  if (message.empty() || static_cast<unsigned char>(message.back()) <= '.') {
    return message;
  }
  return message + ".";
}

std::string WithStartupPeriod(const std::string& message) {
  if (message.empty() || message.back() == '.') return message;
  return message + ".";
}

std::string InnermostMessage(std::exception_ptr error) {
  std::string text;
  ForEachNested(error, [&](const std::exception* e) {
    if (e == nullptr) {
      if (text.empty()) text = "Unknown error";
      return;
    }
    const char* what = e->what();
    if (what != nullptr && *what != '\0') text = what;
  });
  return text;
}

std::optional<std::string> ErrorReportText(std::exception_ptr error) {
  bool silent = false;
  ForEachNested(error, [&](const std::exception* e) {
    if (e != nullptr && dynamic_cast<const SilentAbort*>(e) != nullptr) silent = true;
  });
  if (silent) return std::nullopt;
  return WithReportPeriod(InnermostMessage(error));
}

std::string ErrorKind(std::exception_ptr error) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    const char* mangled = typeid(e).name();
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    std::string kind = (status == 0 && readable != nullptr) ? readable : mangled;
    std::free(readable);
    return kind;
  } catch (...) {
  }
  return "Exception";
}

std::string StartupErrorText(const std::string& kind, const std::string& module,
                             std::uintptr_t address, const std::string& message) {
  char where[32];
  std::snprintf(where, sizeof where, "%08llX",
                static_cast<unsigned long long>(address));
  return "Exception " + kind + " in module " + module + " at " + where + ".\n" +
         WithStartupPeriod(message);
}

}  // namespace shell
