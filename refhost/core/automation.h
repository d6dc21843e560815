// The host automation members over a document: what the editor serves on the
// bus, with no Qt and no bus, so that it is tested in process.
#ifndef REFHOST_CORE_AUTOMATION_H_
#define REFHOST_CORE_AUTOMATION_H_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "refhost/core/document.h"
#include "refhost/core/interpreter.h"

namespace refhost {

// A bad call: the text is the D-Bus error message the caller sees.
class AutomationError : public std::runtime_error {
 public:
  explicit AutomationError(const std::string& text) : std::runtime_error(text) {}
};

inline constexpr int kSystemTypeLathe = 304;  // X-Z
inline constexpr int kSystemTypeMill = 301;

class Automation {
 public:
  explicit Automation(Document& document);

  void SetSystemType(int code);
  int SystemType() const;

  // The editor's selection: first and last line it touches (1-based).
  void SetSelection(std::int64_t first, std::int64_t last);
  std::int32_t StartSelection() const;
  std::int32_t EndSelection() const;

  // The members. Each throws AutomationError on a bad call and leaves the
  // document as it was.
  void selectline(std::int32_t line);   // interpreter before `line`; add() acts there
  void markline(std::int32_t line, std::int32_t mark);  // (0, 0): new pass, clear marks
  void step();                          // interpret the next line
  double CurrentBlock(std::int32_t index) const;
  void add(const std::string& letter, double value);

  // Ends the pass's undo group (the editor calls this when the bus goes idle
  // or before any user edit).
  void EndPass();
};

}  // namespace refhost

#endif  // REFHOST_CORE_AUTOMATION_H_
